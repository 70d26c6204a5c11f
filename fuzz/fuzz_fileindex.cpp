// FILEPATH.VLM through the index build, FFIDX.BBS through the sort and the
// pointer table, and SYSINFO.BBS: the index sorted and holding the same
// records, every table slot pointing at the first record of its letter
// pair, the stored total matching the indexed sizes, the rest of the system
// information carried through.
//
// The directory list reads FILEPATH.VLM too: its lines are checked against
// the records in the range of areas and security levels the switches give.
//
// Input sections: 0 control, 1 FILEPATH.VLM, 2 FFIDX.BBS, 3 SYSINFO.BBS,
// 4 files to create: lines "<path below the scratch directory> <size>",
// 5 switches of the directory list, one per line.
// Control byte 0: bit 0 build (else sort the given index), bit 1 SYSINFO.BBS
// exists, bit 2 FFIDX.BBS exists (sort only), bit 3 write the directory
// list; bytes 1-2 MaxFileAreas.
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "marten.h"
#include "quarry2.h"
#include "switches.h"
#include "text.h"
#include "startup.h"
#include "support.h"

namespace {

int Compare(const FastIndexRecord &a, const FastIndexRecord &b) {
  int c = std::memcmp(a.Name, b.Name, sizeof a.Name);
  if (c) return c;
  return a.Area < b.Area ? -1 : a.Area > b.Area ? 1 : 0;
}

// The table slot of a record: letter pairs A-Z x (below A, A-Z, above Z),
// 728 for names above Z, none for names below A (bytes from 128 count as below).
int Slot(const FastIndexRecord &r) {
  signed char c1 = static_cast<signed char>(r.Name[0]), c2 = static_cast<signed char>(r.Name[1]);
  if (c1 > 'Z') return 728;
  if (c1 < 'A') return -1;
  int second = c2 < 'A' ? 0 : c2 <= 'Z' ? c2 - 'A' + 1 : 27;
  return (c1 - 'A') * 28 + second;
}

std::vector<FastIndexRecord> Records(const std::string &bytes) {
  std::vector<FastIndexRecord> out(bytes.size() / sizeof(FastIndexRecord));
  if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * sizeof(FastIndexRecord));
  return out;
}

bool Bytewise(const FastIndexRecord &a, const FastIndexRecord &b) { return std::memcmp(&a, &b, sizeof a) < 0; }

// Creates the listed files, sparse, with safe relative paths only.
void MakeFiles(const std::string &list) {
  size_t pos = 0, made = 0;
  while (pos < list.size() && made < 64) {
    size_t end = list.find('\n', pos);
    std::string line = list.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? list.size() : end + 1;
    size_t space = line.rfind(' ');
    if (space == std::string::npos) continue;
    std::string path = line.substr(0, space);
    unsigned long long length = std::strtoull(line.c_str() + space + 1, nullptr, 10);
    if (path.empty() || path[0] == '/' || path.find("..") != std::string::npos ||
        path.find('\0') != std::string::npos || path.size() > 200 || length > 0xFFFFFFFFull)
      continue;
    fz::WriteFile(path, "");
    std::string host = fz::Scratch() + path;
    if (truncate(host.c_str(), static_cast<off_t>(length)) == 0) ++made;
  }
}

// The directory list's expected text: the paths of the records from -FROM
// to -TO (held within 1 and MaxFileAreas) whose security lies in the range
// of -MINSEC and -MAXSEC, each up to a zero byte, as CR LF lines.
std::string ExpectedList(const std::string &records, uint16_t maxAreas) {
  std::string from, to, minText, maxText;
  GetParam("-FROM", from);
  GetParam("-TO", to);
  GetMinusSlashParam("MINSEC", minText);
  GetMinusSlashParam("MAXSEC", maxText);
  int64_t first = ReadDecimal(from), last = ReadDecimal(to);
  if (first < 1) first = 1;
  if (last > maxAreas || last < first) last = maxAreas;
  int32_t low = minText.empty() ? 0 : ReadDecimal(minText.substr(0, 11));
  int32_t high = maxText.empty() ? 65535 : ReadDecimal(maxText.substr(0, 11));
  if (high < low) high = 65535;
  std::string out;
  for (int64_t area = first; area <= last && size_t(area) * 256 <= records.size(); ++area) {
    const std::string r = records.substr(size_t(area - 1) * 256, 256);
    size_t n = std::min<size_t>(uint8_t(r[0]), 122);
    std::string path = r.substr(1, n).c_str();
    int32_t level = fz::U16(r, 123);
    if (n == 0 || level < low || level > high) continue;
    for (char c : path) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    out += "\r\n";
  }
  return out;
}

void CheckList(const std::string &records, const std::string &switches, uint16_t maxAreas) {
  std::vector<std::string> args{"quarry2", "-LISTC:\\BBS\\DIRS.TXT"};
  size_t pos = 0;
  while (pos < switches.size() && args.size() < 16) {
    size_t end = switches.find('\n', pos);
    if (end == std::string::npos) end = switches.size();
    args.push_back(switches.substr(pos, end - pos));
    pos = end + 1;
  }
  std::vector<const char *> argv;
  for (const std::string &a : args) argv.push_back(a.c_str());
  SetArguments(static_cast<int>(argv.size()), argv.data());
  Constant.MaxFileAreas = maxAreas;
  ResetSecurityRange();
  ListDirs();
  std::string list;
  FZ_CHECK(fz::ReadFile("BBS/DIRS.TXT", list));
  FZ_CHECK(list == ExpectedList(records, maxAreas));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fz::Setup();
  SysInfoRetrySeconds = 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> s = fz::Sections(data, size, 6);
  uint8_t control = fz::Byte(s[0], 0, 3);
  bool build = control & 1, sysInfoExists = control & 2, indexExists = control & 4;
  fz::ResetScratch();
  fz::SetBoard(16, 64, 0);
  fz::MakeBoardDirs();
  fz::WriteFile("BBS/FILEPATH.VLM", s[1]);
  if (sysInfoExists) fz::WriteFile("BBS/SYSINFO.BBS", s[3]);
  if (!build && indexExists) fz::WriteFile("BBS/FFIND/FFIDX.BBS", s[2]);
  MakeFiles(s[4]);

  if (control & 8) CheckList(s[1], s[5], fz::U16(s[0], 1));

  std::string index;
  if (build) {
    ProcessFilePath();
    FZ_CHECK(fz::ReadFile("BBS/FFIND/FFIDX.BBS", index));
    std::vector<FastIndexRecord> built = Records(index);
    FZ_CHECK(index.size() == built.size() * sizeof(FastIndexRecord));
    uint32_t areas = static_cast<uint32_t>(s[1].size() / 256);
    uint64_t kilobytes = 0, bytes = 0;
    for (const FastIndexRecord &r : built) {
      FZ_CHECK(r.NameLength == 12 && r.Reserved == 0 && r.Area >= 1 && r.Area <= areas);
      // The 8+4 form: upper case, blank filled, the extension's dot at 8.
      for (uint8_t c : r.Name) FZ_CHECK(!(c >= 'a' && c <= 'z'));
      kilobytes += uint32_t(r.Size) / 1024;
      bytes += uint32_t(r.Size) % 1024;
    }
    std::string sysInfo;
    if (sysInfoExists && fz::ReadFile("BBS/SYSINFO.BBS", sysInfo) && s[3].size() >= sizeof(SysInfoRecord)) {
      FZ_CHECK(sysInfo.size() == s[3].size());
      // Written today, the record keeps its daily counters.
      FZ_CHECK(sysInfo.compare(0, 40, s[3], 0, 40) == 0);
      FZ_CHECK(sysInfo.compare(44, std::string::npos, s[3], 44, std::string::npos) == 0);
      FZ_CHECK(fz::U32(sysInfo, 40) == static_cast<uint32_t>(kilobytes + bytes / 1024));
    } else {
      FZ_CHECK(sysInfo == (sysInfoExists ? s[3] : std::string()));
    }
  } else {
    index = indexExists ? s[2] : std::string();
  }

  fz::WriteFile("BBS/FFIND/FFPTR.BBS", "stale");
  SortFileIndex();
  if (!build && !indexExists) {
    FZ_CHECK(!fz::Exists("BBS/FFIND/FFIDX.BBS"));
    FZ_CHECK(fz::ReadFile("BBS/FFIND/FFPTR.BBS") == "stale");
    return 0;
  }
  std::string sorted = fz::ReadFile("BBS/FFIND/FFIDX.BBS");
  FZ_CHECK(sorted.size() == index.size());
  std::vector<FastIndexRecord> before = Records(index), after = Records(sorted);
  // Sorted, the same records, an incomplete last record left where it was.
  for (size_t i = 1; i < after.size(); ++i) FZ_CHECK(Compare(after[i - 1], after[i]) <= 0);
  std::sort(before.begin(), before.end(), Bytewise);
  std::vector<FastIndexRecord> check = after;
  std::sort(check.begin(), check.end(), Bytewise);
  FZ_CHECK(before.size() == check.size() &&
           (before.empty() || std::memcmp(before.data(), check.data(), before.size() * sizeof before[0]) == 0));
  size_t whole = after.size() * sizeof(FastIndexRecord);
  FZ_CHECK(sorted.compare(whole, std::string::npos, index, whole, std::string::npos) == 0);

  std::string table = fz::ReadFile("BBS/FFIND/FFPTR.BBS");
  FZ_CHECK(table.size() == kIndexPointerCount * 4);
  FZ_CHECK(static_cast<int32_t>(fz::U32(table, 729 * 4)) == static_cast<int32_t>(after.size()));
  std::vector<int32_t> first(729, -1);
  for (size_t i = 0; i < after.size(); ++i) {
    int slot = Slot(after[i]);
    if (slot >= 0 && first[slot] < 0) first[slot] = static_cast<int32_t>(i);
  }
  for (int k = 0; k < 729; ++k) FZ_CHECK(static_cast<int32_t>(fz::U32(table, k * 4)) == first[k]);
  return 0;
}
