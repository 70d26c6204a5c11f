// Helpers shared by the fuzz targets: the input split into files, a scratch
// board in a directory of its own, and checks that end the run on failure.
//
// Every target takes its input as sections separated by kSeparator, in an
// order the target documents; a missing section is empty.  Separators
// survive the fuzzer's insertions and deletions inside a section, which a
// length-prefixed layout would not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fz {

inline constexpr char kSeparator[] = "#~VLM~#";

std::vector<std::string> Sections(const uint8_t *data, size_t size, size_t count);
std::string JoinSections(const std::vector<std::string> &sections);

// Once per process: standard output to /dev/null (unless VLM_FUZZ_VERBOSE
// is set), syncs off, a fresh scratch directory that stands for drive C:
// (VLM_DRIVE_C) and is the only place the programs may change anything
// (the write jail).  The current directory stays: libFuzzer's corpus and
// crash files are named relative to it.
void Setup();

// Host path of the scratch directory, with its trailing '/'.
const std::string &Scratch();
// Removes everything inside the scratch directory.
void ResetScratch();

// Files under the scratch directory, by path relative to it ("MSG/X.BBS").
void WriteFile(const std::string &relative, const std::string &bytes);
bool ReadFile(const std::string &relative, std::string &bytes);  // false when missing
std::string ReadFile(const std::string &relative);                // empty when missing
bool Exists(const std::string &relative);
void MakeDir(const std::string &relative);
// Every regular file below a directory of the scratch (recursively), by
// relative path, with its contents.
std::map<std::string, std::string> Snapshot(const std::string &relativeDir = "");

// The start-up globals for a board laid out as the sample board is, with
// drive C: standing for the scratch directory: system directory C:\BBS\,
// message base C:\BBS\MSG\, user base C:\BBS\USERS\, attachments
// C:\BBS\ATTACH\, index C:\BBS\FFIND\, log C:\BBS\MAINT.LOG.  Board records
// of the sample board can thus be used unchanged.
void SetBoard(uint16_t maxMsgAreas, uint16_t maxFileAreas, uint16_t constantFlags);
// Creates the directories of that board in the scratch directory.
void MakeBoardDirs();

// Ends the run with a message when an invariant does not hold.
[[noreturn]] void Fail(const char *what, const char *file, int line);
#define FZ_CHECK(cond)                                   \
  do {                                                   \
    if (!(cond)) ::fz::Fail(#cond, __FILE__, __LINE__);  \
  } while (0)

// Little-endian reads from a byte string (0 past its end).
uint16_t U16(const std::string &b, size_t at);
uint32_t U32(const std::string &b, size_t at);

// The first byte of a control section, or `fallback` when it is empty.
uint8_t Byte(const std::string &s, size_t at, uint8_t fallback = 0);

}  // namespace fz
