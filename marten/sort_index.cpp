// The sort pass: FFIDX.BBS read whole into one block, sorted by name and
// area, written back in place, and the letter-pair table FFPTR.BBS computed
// from the sorted records.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "files.h"
#include "marten.h"
#include "run_failure.h"
#include "startup.h"
#include "system_log.h"
#include "text.h"

int32_t FastIndexPointers[kIndexPointerCount];

namespace {

constexpr size_t kIndexBuffer = 262144;
constexpr int kCountEntry = 729;
constexpr int kAboveZEntry = 728;

inline int CompareRecords(const FastIndexRecord &a, const FastIndexRecord &b) {
  for (size_t i = 0; i < sizeof a.Name; ++i)
    if (a.Name[i] != b.Name[i]) return static_cast<int>(a.Name[i]) - static_cast<int>(b.Name[i]);
  if (a.Area != b.Area) return a.Area < b.Area ? -1 : 1;
  return 0;
}

// Where a name belongs in the table: a slot 0-728, or -1 for names that
// begin below the letter A (bytes 128-255 count as below, read signed).
int PointerSlot(const FastIndexRecord &record) {
  int c1 = static_cast<signed char>(record.Name[0]);
  if (c1 > 'Z') return kAboveZEntry;
  if (c1 < 'A') return -1;
  int c2 = static_cast<signed char>(record.Name[1]);
  int second = c2 < 'A' ? 0 : c2 <= 'Z' ? c2 - 64 : 27;
  return 28 * (c1 - 'A') + second;
}

}  // namespace

int CompFastIndex(const void *a, const void *b) {
  return CompareRecords(*static_cast<const FastIndexRecord *>(a), *static_cast<const FastIndexRecord *>(b));
}

void CreateIndexPointer(const FastIndexRecord *records, long count) {
  std::fill(std::begin(FastIndexPointers), std::end(FastIndexPointers), -1);
  for (long i = 0; i < count; ++i) {
    int slot = PointerSlot(records[i]);
    // Records come in sorted order: the first one seen is the slot's smallest.
    if (slot >= 0 && FastIndexPointers[slot] == -1) FastIndexPointers[slot] = static_cast<int32_t>(i);
  }
  FastIndexPointers[kCountEntry] = static_cast<int32_t>(count);

  std::string name = FastIndexPath + "FFPTR.BBS";
  plat::UniqueFile table(plat::OpenFile(name, plat::Access::Write, plat::Share::Exclusive, plat::Mode::Binary));
  if (!table) {
    ReportFileFailure(errno, "opening", name);
    return;
  }
  errno = 0;
  int error = plat::WriteBytes(table.get(), FastIndexPointers, sizeof FastIndexPointers) ? 0 : (errno ? errno : EIO);
  int closeError = plat::CloseFile(table.release()) ? 0 : errno;
  if (!error) error = closeError;
  if (error) ReportFailure(StrPrintf("Error %s writing to %s\n", std::strerror(error), name.c_str()));
}

namespace {

// Sorts the open index in place and writes the pointer table.  Returns 1
// when the sorted records went back without an error, else 0 (reported
// already); the file stays open for the caller to close.
int SortOpenIndex(FILE *index, const std::string &indexName) {
  int32_t length = FileSize(index);
  if (length < 0) {
    ReportFailure("Error Reading " + indexName + "\n");
    return 0;
  }
  size_t bytes = static_cast<size_t>(length);
  long count = static_cast<long>(bytes / sizeof(FastIndexRecord));

  // One block of exactly the file's length; an incomplete last record rides
  // along behind the sorted ones, unchanged.
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[bytes]);
  if (!block) {
    ReportFailure("Not enough memory to sort Fast Find Index\n", "Not enough memory to sort " + indexName);
    return 0;
  }
  if (std::fread(block.get(), 1, bytes, index) != bytes) {
    // Whatever did not arrive must not be replaced by the block's leftovers,
    // and a table for a partly sorted index would point wrong: leave both
    // files as they are.
    ReportFailure("Error Reading " + indexName + "\n");
    return 0;
  }

  auto *records = reinterpret_cast<FastIndexRecord *>(block.get());
  std::sort(records, records + count,
            [](const FastIndexRecord &a, const FastIndexRecord &b) { return CompareRecords(a, b) < 0; });

  int written = 1;
  if (std::fseek(index, 0, SEEK_SET) != 0 || !plat::WriteBytes(index, block.get(), bytes) || std::fflush(index) != 0) {
    ReportFailure("Error Writing " + indexName + "\n");
    written = 0;
  }
  CreateIndexPointer(records, count);
  return written;
}

}  // namespace

void SortFileIndex() {
  WriteSystemLog("Sorting Fast Find Index");
  std::printf("Sorting Fast Find Index...\n");
  PasToC(Config.FastIndexPath, FastIndexPath);

  std::string indexName = FastIndexPath + "FFIDX.BBS";
  plat::UniqueFile index(
      plat::OpenFile(indexName, plat::Access::ReadWrite, plat::Share::Exclusive, plat::Mode::Binary));
  if (!index) {
    ReportFileFailure(errno, "opening", indexName);
  } else {
    if (!plat::SetStreamBuffer(index.get(), kIndexBuffer)) std::printf("Failed to Setup FFIDX.BBS Buffer\n");
    int written = SortOpenIndex(index.get(), indexName);
    if (!plat::CloseFile(index.release()) && written) ReportFailure("Error Writing " + indexName + "\n");
  }
  std::printf("\n");
}
