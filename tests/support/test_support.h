// Test helpers: temporary directories, whole-file contents, boards built
// byte by byte, and running the programs as processes.
#pragma once

#include <climits>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform.h"
#include "startup.h"

namespace vt {

// A fresh directory, removed with everything in it at the end of the test.
// Path() has a trailing separator of the host.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &Path() const { return path_; }
  // The directory as a board text: with a trailing backslash, the form the
  // programs give directory texts of the environment (VLM=...).
  std::string Board() const { return path_.substr(0, path_.size() - 1) + "\\"; }
  std::string operator/(const std::string &name) const { return path_ + name; }

 private:
  std::string path_;
};

// Host paths (not board paths): the tests write and read files directly.
void WriteFile(const std::string &path, const std::string &bytes);
std::string ReadFile(const std::string &path);  // empty when missing
bool FileExists(const std::string &path);
void MakeDirs(const std::string &path);

// Little-endian words at an offset, for files that are plain arrays of them;
// records are built from their declarations (records.h).
void PutU16(std::string &bytes, size_t offset, uint16_t v);
void PutU32(std::string &bytes, size_t offset, uint32_t v);
template <typename T>
std::string AsBytes(const T &record) {
  return std::string(reinterpret_cast<const char *>(&record), sizeof record);
}

// The configuration of a test board.  Directory texts are stored as given,
// so they must carry their trailing separator.
struct BoardConfig {
  std::string msgPath;
  std::string userPath;
  std::string logName = "MAINT.LOG";
  std::string attachPath;
  std::string fastIndexPath;
  uint16_t maxMsgAreas = 16;
  uint16_t maxFileAreas = 10;
  uint16_t constantFlags = 0;
};
std::string ConfigBytes(const BoardConfig &c);
std::string ConstantBytes(const BoardConfig &c);
// CONFIG.VLM and CONSTANT.VLM into `dir`.
void WriteBoard(const std::string &dir, const BoardConfig &c);

// A board path opened through the platform layer, and a stream read to its end.
plat::UniqueFile Open(const std::string &board, plat::Access access, plat::Share share = plat::Share::DenyNone,
                      plat::Mode mode = plat::Mode::Binary);
std::string ReadAll(FILE *f);

struct RunResult {
  // The status of a program that could not be started: no program exits
  // with it, so a failed start is never taken for a program's exit status.
  static constexpr int kNotStarted = INT_MIN;
  int status = kNotStarted;
  std::string out;    // standard output
  std::string error;  // why the program could not be started; empty once it ran
};
// Runs a program with arguments in `cwd`; `env` entries are set for the
// child (an empty value removes the variable).  A start that the host
// refuses for a passing reason (short of memory or processes) is tried again
// a few times; a program that still cannot be started fails the calling
// test with the reason and gives status kNotStarted.
RunResult Run(const std::string &exe, const std::vector<std::string> &args, const std::string &cwd,
              const std::map<std::string, std::string> &env = {});

// The disk-changing operations of an undisturbed run of a test build, for
// tests that make each of them fail in turn without knowing their number:
// `run(at)` runs the program on a fresh board with VLM_FAULT_AT=at and
// VLM_FAULT_MODE=exit.  The count is the last position that still ends the
// process (status 86), found by halving.
long CountFaultOperations(const std::function<RunResult(long at)> &run);

// A log text with the digits of every entry's time ("> 14:05:09  ")
// replaced by '#', so whole logs can be compared exactly.
std::string MaskLogTimes(const std::string &log);

// Today's local date as written in logs and headers: "07-Dec-2026".
std::string TodayText();

// The test process's own environment, for in-process tests of start-up.
void SetEnv(const std::string &name, const std::string &value);
void UnsetEnv(const std::string &name);

// Appends bytes to an existing file as the board appends a post's text or
// header: the file opened by name for the one append (never created when
// missing), the bytes written at its end.  `at` is where they landed.
bool AppendToFile(const std::string &path, const std::string &bytes, uint64_t &at);

// True on POSIX hosts: the host-convention tests run only there.
bool HostIsPosix();

// The test process's standard output sent to a file while the object
// lives, for programs run inside the test process.  Text() gives what was
// written so far.
class CapturedStdout {
 public:
  explicit CapturedStdout(const std::string &file);
  ~CapturedStdout();
  CapturedStdout(const CapturedStdout &) = delete;
  CapturedStdout &operator=(const CapturedStdout &) = delete;
  std::string Text();

 private:
  std::string file_;
  int saved_ = -1;
};

}  // namespace vt
