// The run: switches, the problem lines, reading board files, the summary.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform.h"
#include "program_frame.h"
#include "run_failure.h"
#include "startup.h"
#include "switches.h"
#include "system_log.h"
#include "text.h"
#include "vlmcheck.h"

CheckTotals Totals;

void CountProblem() {
  ++Totals.problems;
  RunFailed();
}

void ReportProblem(const std::string &text) {
  CountProblem();
  std::printf("  Problem: %s\n", text.c_str());
}

void ReportUnreadable(const char *action, const std::string &path) {
  // Part of the check is left undone: a failure of the run, logged as the
  // other programs log theirs.
  std::string text = StrPrintf("%s %s %s", std::strerror(errno), action, path.c_str());
  ++Totals.problems;
  ReportFailure("  Problem: " + text + "\n", text);
}

void ProblemLines::Add(const std::string &text) {
  if (shown_ < kShown) {
    ++shown_;
    ReportProblem(text);
  } else {
    ++more_;
    CountProblem();
  }
}

void ProblemLines::Finish(const std::string &where, const char *what) {
  if (more_) std::printf("  Problem: %s: %u more %s\n", where.c_str(), unsigned(more_), what);
  shown_ = more_ = 0;
}

int ReadBoardFile(const std::string &path, std::string &bytes, size_t limit) {
  bytes.clear();
  plat::UniqueFile file(plat::OpenFile(path, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
  if (!file) {
    if (errno == ENOENT) return kFileMissing;
    ReportUnreadable("opening", path);
    return 0;
  }
  std::vector<char> piece(65536);
  while (bytes.size() < limit) {
    size_t want = std::min(piece.size(), limit - bytes.size());
    size_t got = std::fread(piece.data(), 1, want, file.get());
    bytes.append(piece.data(), got);
    if (got < want) break;
  }
  if (std::ferror(file.get())) {
    ReportUnreadable("reading", path);
    return 0;
  }
  return 1;
}

std::string Printable(std::string text) {
  for (char &c : text)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
  return text;
}

void Help() {
  std::printf("\n");
  std::printf("                   VLMCHECK only reads the board: it changes no file\n");
  std::printf(" -AREA<n>          Checks message area n only\n");
  std::printf(" -DUMP<n>          Checks message area n and shows its headers\n");
  std::printf(" -DISABLEDEL       Shows what a pack with -DISABLEDEL would remove\n");
  std::printf(" -NODE<1..999>     Node Number\n\n");
  std::printf("Exit status 0: no problem found, 2: problems found, 1: not started\n\n");
  std::printf("eg. VLMCHECK -AREA5 -DISABLEDEL\n");
}

namespace {

// The areas of -AREA<n> and -DUMP<n>, 0 without the switch.
uint16_t OnlyArea = 0;
uint16_t DumpedArea = 0;

// The area number of -AREA<n> or -DUMP<n> into `area` (0 when the switch is
// absent).  Returns 0 when the value is no message area's number.
int AreaSwitch(const char *name, uint16_t &area) {
  area = 0;
  if (!FindMinusSlashParam(name)) return 1;
  std::string value;
  GetMinusSlashParam(name, value);
  bool digits = !value.empty() && value.size() <= 5 && value.find_first_not_of("0123456789") == std::string::npos;
  int32_t n = digits ? ReadDecimal(value) : 0;
  if (n < 1 || n > Constant.MaxMsgAreas) {
    std::printf("-%s needs a message area number from 1 to %u\n", name, unsigned(Constant.MaxMsgAreas));
    return 0;
  }
  area = static_cast<uint16_t>(n);
  return 1;
}

void Summary(uint16_t onlyArea, int doDelete) {
  std::string checked =
      onlyArea ? StrPrintf("Checked message area %u", unsigned(onlyArea))
               : StrPrintf("Checked %u message area%s", unsigned(Totals.areas), Totals.areas == 1 ? "" : "s");
  checked += StrPrintf(" (%llu messages)", static_cast<unsigned long long>(Totals.messages));
  if (Totals.indexChecked)
    checked += StrPrintf(" and the fast-find index (%llu files)", static_cast<unsigned long long>(Totals.indexRecords));
  std::string removes = StrPrintf("a pack%s would remove %llu message%s, %lld bytes", doDelete ? "" : " with -DISABLEDEL",
                                  static_cast<unsigned long long>(Totals.removed), Totals.removed == 1 ? "" : "s",
                                  static_cast<long long>(Totals.reclaimed));
  std::string found = Totals.problems == 0 ? std::string("no problems found")
                      : Totals.problems == 1
                          ? std::string("1 problem found")
                          : StrPrintf("%llu problems found", static_cast<unsigned long long>(Totals.problems));
  std::printf("\n%s: %s; %s\n", checked.c_str(), removes.c_str(), found.c_str());
  found[0] = UpperChar(found[0]);
  WriteSystemLog(found);
}

}  // namespace

int AcceptAreaSwitches() {
  if (!AreaSwitch("AREA", OnlyArea) || !AreaSwitch("DUMP", DumpedArea)) return 0;
  if (OnlyArea && DumpedArea && OnlyArea != DumpedArea) {
    std::printf("-AREA and -DUMP name different areas\n");
    return 0;
  }
  if (DumpedArea) OnlyArea = DumpedArea;
  return 1;
}

void CheckBoard() {
  Totals = CheckTotals{};
  int doDelete = FindMinusSlashParam("DISABLEDEL") ? 0 : 1;
  CheckMessageBase(OnlyArea, doDelete);
  if (!OnlyArea) CheckFileIndex();
  if (DumpedArea) DumpArea(DumpedArea);
  Summary(OnlyArea, doDelete);
}
