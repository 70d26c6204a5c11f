// Next-read numbers of many areas at once.  LASTCOMB.BBS holds a record per
// user with a number per area, so the numbers of one area lie a record
// apart: reading or writing them one by one costs a seek and a system call
// per user and area.  These routines read the file in large pieces and write
// back only the runs of numbers that change, a piece of the file at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// The numbers of `areas` for users 0 .. users-1, read as the file holds them
// now (the stream must have no read buffer): values[u * areas.size() + i] is
// user u's number in areas[i], 0 where the file holds none (a short file, an
// area without a place in the record).  Returns 1, or 0 with errno set.
int ReadNextReads(FILE *lastComb, const std::vector<uint16_t> &areas, uint32_t users, std::vector<uint16_t> &values);

// One number to change where the file still holds `old`.
struct NextReadWrite {
  int64_t offset;  // NextReadOffset
  uint16_t old;
  uint16_t value;
};

// Writes each change whose place still holds its old value, read afresh just
// before; a number the board changed meanwhile is left as the board wrote
// it.  `changes` is sorted by offset here.  Bytes that are not changed are
// never written, except the two reserved bytes between two blocks, which
// nobody writes and which a run of changes spans with the value just read.
// Nothing is synced.  Returns 1, or 0 with errno set.
int WriteNextReads(FILE *lastComb, std::vector<NextReadWrite> &changes);
