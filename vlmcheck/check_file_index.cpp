// The fast-find index: FFIDX.BBS in the order the sort leaves it, FFPTR.BBS
// the table that order gives, and the total of SYSINFO.BBS the sum of the
// indexed sizes, as the build stores it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fast_index.h"
#include "startup.h"
#include "text.h"
#include "vlmcheck.h"

namespace {

std::string Describe(const std::vector<FastIndexRecord> &records, size_t i) {
  return StrPrintf("record %zu, %.12s area %u", i, Printable(std::string(reinterpret_cast<const char *>(records[i].Name), 12)).c_str(),
                   unsigned(records[i].Area));
}

// Returns whether the records are in index order.
int CheckOrder(const std::vector<FastIndexRecord> &records) {
  size_t misplaced = 0, first = 0;
  for (size_t i = 1; i < records.size(); ++i) {
    if (CompareFastIndex(records[i - 1], records[i]) <= 0) continue;
    if (misplaced++ == 0) first = i;
  }
  if (misplaced)
    ReportProblem(StrPrintf("FFIDX.BBS is not sorted: %s stands after %s (%zu record%s out of order)",
                            Describe(records, first).c_str(), Describe(records, first - 1).c_str(), misplaced,
                            misplaced == 1 ? "" : "s"));
  return misplaced ? 0 : 1;
}

void CheckPointers(const std::string &name, const std::vector<FastIndexRecord> &records) {
  std::string bytes;
  int read = ReadBoardFile(name, bytes);
  if (read == kFileMissing) {
    errno = ENOENT;
    ReportUnreadable("opening", name);
  }
  if (read != 1) return;
  int32_t expected[kIndexPointerCount], stored[kIndexPointerCount];
  if (bytes.size() != sizeof stored) {
    ReportProblem(StrPrintf("FFPTR.BBS holds %zu bytes, not the %zu of its table", bytes.size(), sizeof stored));
    return;
  }
  std::memcpy(stored, bytes.data(), sizeof stored);
  ComputeIndexPointers(records.data(), static_cast<long>(records.size()), expected);
  int differ = 0, first = 0;
  for (int e = 0; e < kIndexPointerCount; ++e) {
    if (stored[e] == expected[e]) continue;
    if (differ++ == 0) first = e;
  }
  if (differ)
    ReportProblem(StrPrintf("FFPTR.BBS does not match FFIDX.BBS: entry %d is %d, the index gives %d (%d entr%s)",
                            first, int(stored[first]), int(expected[first]), differ,
                            differ == 1 ? "y differs" : "ies differ"));
}

// The build's total: the sizes as the unsigned low 32 bits, in whole kilobytes.
int64_t IndexedKilobytes(const std::vector<FastIndexRecord> &records) {
  int64_t bytes = 0;
  for (const FastIndexRecord &r : records) bytes += static_cast<uint32_t>(r.Size);
  return bytes / 1024;
}

void CheckSysInfo(int64_t kilobytes) {
  std::string name = SystemPath + "SYSINFO.BBS", bytes;
  int read = ReadBoardFile(name, bytes, sizeof(SysInfoRecord));
  if (read == kFileMissing) {
    errno = ENOENT;
    ReportUnreadable("opening", name);
  }
  if (read != 1) return;
  if (bytes.size() < sizeof(SysInfoRecord)) {
    ReportProblem(StrPrintf("SYSINFO.BBS holds %zu bytes, less than its %zu-byte record", bytes.size(),
                            sizeof(SysInfoRecord)));
    return;
  }
  SysInfoRecord info;
  std::memcpy(&info, bytes.data(), sizeof info);
  if (info.FileKilobytes != kilobytes)
    ReportProblem(StrPrintf("SYSINFO.BBS counts %d KB of files, the index %lld KB", int(info.FileKilobytes),
                            static_cast<long long>(kilobytes)));
}

}  // namespace

void CheckFileIndex() {
  std::string directory;
  PasToC(Config.FastIndexPath, directory);
  std::string indexName = directory + "FFIDX.BBS", bytes;
  int read = ReadBoardFile(indexName, bytes);
  if (read == kFileMissing) {
    std::printf("Fast-find index: none\n");
    return;
  }
  if (read != 1) return;
  std::vector<FastIndexRecord> records(bytes.size() / sizeof(FastIndexRecord));
  std::memcpy(records.data(), bytes.data(), records.size() * sizeof(FastIndexRecord));
  int64_t kilobytes = IndexedKilobytes(records);
  Totals.indexChecked = true;
  Totals.indexRecords = records.size();
  std::printf("Fast-find index: %zu files, %lld KB\n", records.size(), static_cast<long long>(kilobytes));
  // The table of an index out of order says nothing more: the sort that
  // puts the index right writes the table afresh.
  if (CheckOrder(records)) CheckPointers(directory + "FFPTR.BBS", records);
  CheckSysInfo(kilobytes);
}
