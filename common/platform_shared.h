// Pieces of the platform layer that are the same on every host: the
// fault-injection counter (test builds only), the board's path length limit
// and the calendar conversions.  Only the platform implementations include
// this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform.h"

namespace plat::shared {

// Longest board path accepted: the board's platform handles 259 characters.
inline constexpr size_t kMaxBoardPath = 259;

#ifdef VLM_TEST_HOOKS
// Counts one disk-changing operation; true (errno EIO) when it is the one to
// fail.  In exit mode the process ends there, without flushing any stream.
bool FaultHere();
#else
// Without the test hooks no operation ever fails on purpose.
inline bool FaultHere() { return false; }
#endif

// 1, or 0 with errno ENAMETOOLONG for a path the board could not hold.
int CheckedPath(const std::string &path);

// The table of streams opened by OpenFile: their descriptor, whether they
// were opened for writing, and the stream buffer they own.  CloseFile and
// SetStreamBuffer work from it on every host.
void RegisterStream(FILE *f, int fd, bool written);
int RegisteredFd(FILE *f);  // -1 for a stream not opened by OpenFile

// Whether FlushFile waits for the disk (always, outside test builds).
bool SyncEnabled();
// Whether a POSIX host path lies outside the write jail of a test build
// (never outside test builds, and never without a jail).
bool OutsideWriteJail(const std::string &hostPath);

// A broken-down local time as a DOS packed date and time, and as LocalTime.
uint32_t DosDateTime(const struct tm &tm);
LocalTime ToLocalTime(const struct tm &tm);

}  // namespace plat::shared
