// Pieces of the platform layer that are the same on every host: the
// fault-injection counter (test builds only), the board's path length limit
// and the calendar conversions.  Only the platform implementations include
// this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

#include "platform.h"

namespace plat::shared {

// Longest board path accepted: the board's platform handles 259 characters.
inline constexpr size_t kMaxBoardPath = 259;

#ifdef VLM_TEST_HOOKS
// Counts one disk-changing operation of `kind` on `path` and runs the
// operation hook; true (errno EIO) when it is the one to fail.  In exit mode
// the process ends there, without flushing any stream.
bool FaultHere(const char *kind, const std::string &path);
// Whether file and directory syncs are made (VLM_SYNC, SetSyncs).
bool SyncsOn();
// Whether the disk recorder is on (VLM_RECORD_DISK), and one line for it
// (fields separated by tabs, without the line end).
bool Recording();
void RecordLine(const std::string &line);
// The recorder's line for bytes written to stream `f` at offset `at`.
void RecordWrite(FILE *f, int64_t at, const void *data, size_t size);
#else
// Without the test hooks no operation ever fails on purpose, every sync is
// made and nothing is recorded.
inline bool FaultHere(const char *, const std::string &) { return false; }
inline bool SyncsOn() { return true; }
inline bool Recording() { return false; }
inline void RecordLine(const std::string &) {}
inline void RecordWrite(FILE *, int64_t, const void *, size_t) {}
#endif

// 1, or 0 with errno ENAMETOOLONG for a path the board could not hold.
int CheckedPath(const std::string &path);

// The table of streams opened by OpenFile: their descriptor, whether they
// were opened for writing, and the stream buffer they own.  CloseFile and
// SetStreamBuffer work from it on every host.
// `id` is the stream's file identity as found when it was opened (zero when
// unknown); the disk recorder names the stream by its `file`.
void RegisterStream(FILE *f, int fd, bool written, const FileIdentity &id, const std::string &path);
int RegisteredFd(FILE *f);  // -1 for a stream not opened by OpenFile
uint64_t RegisteredFile(FILE *f);
// The identity registered for a stream: 0 when it has none.
int RegisteredIdentity(FILE *f, FileIdentity &id);
const std::string &StreamPath(FILE *f);  // the board path it was opened by

// The descriptor of a stream with its buffered data written first; -1 with
// errno set when that fails.
int FlushedFdOf(FILE *f);
// The host's cut of a descriptor's file to `length`: 1, or 0 with errno set.
// Nothing is counted or recorded; safe to call from several threads at once.
int TruncateFd(int fd, int64_t length);

// work(0) .. work(count - 1), each once, from a few threads at once (the
// caller's among them); returns when all are done.  For system calls that
// mostly wait on the device: `work` must be safe to run concurrently.
void InParallel(size_t count, const std::function<void(size_t)> &work);

// Position of a binary stream, at full width (the host's ftello).
int64_t StreamOffset(FILE *f);

// Whether a POSIX host path lies outside the write jail of a test build
// (never outside test builds, and never without a jail).
bool OutsideWriteJail(const std::string &hostPath);

// A broken-down local time as a DOS packed date and time, and as LocalTime.
uint32_t DosDateTime(const struct tm &tm);
LocalTime ToLocalTime(const struct tm &tm);

}  // namespace plat::shared
