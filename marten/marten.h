// marten: the fast-find file index (FFIDX.BBS), its letter-pair pointer
// table (FFPTR.BBS) and the file-base total in the system information record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform.h"

#pragma pack(push, 1)
// One record of FFIDX.BBS per indexed file.
struct FastIndexRecord {
  uint8_t NameLength;  // always 12: bytes 0-12 read as a length-prefixed text
  uint8_t Name[12];    // 8+4 form, upper case, blank filled: "README  .TXT"
  uint16_t Area;       // 1-based file area number
  uint8_t Reserved;    // always 0
  int32_t Size;        // bytes (low 32 bits)
};

// The first 168 bytes of SYSINFO.BBS.  The board keeps everything else in it;
// marten carries those bytes through unchanged.
struct SysInfoRecord {
  uint8_t Reserved0[40];
  int32_t FileKilobytes;   // total size of the indexed files, in whole kilobytes
  uint16_t DailyCounter1;  // the three counters belong to the day the file was last written
  uint16_t DailyCounter2;
  uint16_t DailyCounter3;
  uint8_t Reserved1[168 - 50];
};
#pragma pack(pop)

static_assert(sizeof(FastIndexRecord) == 20);
static_assert(offsetof(FastIndexRecord, NameLength) == 0);
static_assert(offsetof(FastIndexRecord, Name) == 1);
static_assert(offsetof(FastIndexRecord, Area) == 13);
static_assert(offsetof(FastIndexRecord, Reserved) == 15);
static_assert(offsetof(FastIndexRecord, Size) == 16);
static_assert(sizeof(SysInfoRecord) == 168);
static_assert(offsetof(SysInfoRecord, FileKilobytes) == 40);
static_assert(offsetof(SysInfoRecord, DailyCounter1) == 44);
static_assert(offsetof(SysInfoRecord, DailyCounter2) == 46);
static_assert(offsetof(SysInfoRecord, DailyCounter3) == 48);

// Slots 0-728 of the pointer table, then the record count.
inline constexpr int kIndexPointerCount = 730;

// Directory of FFIDX.BBS and FFPTR.BBS, with its trailing backslash (or
// empty: the current directory).  Taken from the configuration by each pass.
extern std::string FastIndexPath;
// Sum of the indexed sizes of one build, kept as whole kilobytes plus the
// remainders so that the sum in bytes is never formed.
extern int32_t TotalKilobytes;
extern int32_t TotalBytes;
extern int32_t FastIndexPointers[kIndexPointerCount];

// Attempts at the system information lock before GetSysInfo gives up.
inline constexpr int kSysInfoLockAttempts = 17;
// Seconds between two lock attempts.
inline constexpr unsigned kSysInfoRetrySeconds = 2;
#ifdef VLM_TEST_HOOKS
// The wait between two attempts in a test build; tests shorten it.
extern unsigned SysInfoRetrySeconds;
#endif

// SYSINFO.BBS held open with its record locked, from GetSysInfo until
// PutSysInfo; dropped on any other path, it unlocks the record and closes
// the file (in that order, hence the order of the members).
struct SysInfoFile {
  plat::UniqueFile file;
  plat::LockedRange lock;
};

// Opens SYSINFO.BBS in the system directory, locks its record, reads it and
// clears the daily counters when the file was last written on another day.
// Returns 1 with the file open and locked, or 0 with nothing held.
int GetSysInfo(SysInfoFile &sysInfo, SysInfoRecord &record);
// Writes the record back, releases the lock and closes the file.  Returns 1,
// or 0 with errno set when the record could not be written.
int PutSysInfo(SysInfoFile &sysInfo, SysInfoRecord &record);

// The 8+4 index form of a directory entry's name.  Returns 1 with `field`
// filled, or 0 when the file does not belong in the index (a listing file, or
// a name that does not fit).
int FastIndexName(const std::string &fileName, uint8_t (&field)[12]);
// Appends a record for every eligible file of one area directory (ending in
// a backslash) and adds the sizes to the totals.  Returns 1, or 0 when a
// write to the index failed; after a failure nothing more is appended, so
// the index never holds a record cut in two followed by others.
int AddDirectory(const std::string &directory, long area, FILE *index);
// The build pass: FFIDX.BBS from every file area, and the total into SYSINFO.BBS.
void ProcessFilePath();

int CompFastIndex(const void *a, const void *b);
// Fills FastIndexPointers for `count` sorted records and writes FFPTR.BBS.
void CreateIndexPointer(const FastIndexRecord *records, long count);
// The sort pass: FFIDX.BBS sorted in place, then the pointer table.
void SortFileIndex();
