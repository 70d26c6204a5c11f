// The fast-find file index (FFIDX.BBS), its letter-pair pointer table
// (FFPTR.BBS) and the system information record (SYSINFO.BBS): the records,
// the index order and the table computed from it.  marten writes these files;
// the checker reads them.
#pragma once

#include <cstddef>
#include <cstdint>

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

// The index order: the 12 name bytes unsigned from the left (the first
// differing byte decides, by its difference), then the area.  Inline: the
// sort calls it for every comparison.
inline int CompareFastIndex(const FastIndexRecord &a, const FastIndexRecord &b) {
  for (size_t i = 0; i < sizeof a.Name; ++i)
    if (a.Name[i] != b.Name[i]) return static_cast<int>(a.Name[i]) - static_cast<int>(b.Name[i]);
  if (a.Area != b.Area) return a.Area < b.Area ? -1 : 1;
  return 0;
}

// The pointer table of `count` records in index order: for each slot the
// first record whose name falls into it (-1 when none), then the count.
void ComputeIndexPointers(const FastIndexRecord *records, long count, int32_t (&table)[kIndexPointerCount]);
