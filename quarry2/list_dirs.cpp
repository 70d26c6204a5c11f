// The directory list: the AreaPath of every file area in a range of area
// numbers and security levels, one per line.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform.h"
#include "quarry2.h"
#include "run_failure.h"
#include "startup.h"
#include "switches.h"
#include "system_log.h"
#include "text.h"

namespace {

bool SecurityRead = false;
int32_t MinSecurity = 0;
int32_t MaxSecurity = 65535;

// Security values are taken into a 12-character buffer: longer values are cut.
std::string SecurityValue(const char *name) {
  std::string value;
  GetMinusSlashParam(name, value);
  if (value.size() > 11) value.resize(11);
  return value;
}

}  // namespace

#ifdef VLM_TEST_HOOKS
void ResetSecurityRange() { SecurityRead = false; }
#endif

int FilePathAllowed(FilePathRecord &record) {
  if (!SecurityRead) {
    SecurityRead = true;
    std::string min = SecurityValue("MINSEC"), max = SecurityValue("MAXSEC");
    MinSecurity = min.empty() ? 0 : ReadDecimal(min);
    MaxSecurity = max.empty() ? 65535 : ReadDecimal(max);
    if (MaxSecurity < MinSecurity) MaxSecurity = 65535;
  }
  int32_t level = record.AreaSecurity;
  return MinSecurity <= level && level <= MaxSecurity ? 1 : 0;
}

void ListDirs() {
  std::string value, listName;
  int64_t first = ReadDecimal(GetParam("-FROM", value));
  int64_t last = ReadDecimal(GetParam("-TO", value));
  GetMinusSlashParam("LIST", listName);
  int64_t maxAreas = Constant.MaxFileAreas;
  if (first < 1) first = 1;
  if (last > maxAreas || last < first) last = maxAreas;

  std::string message = "Writing List of Directories to " + listName;
  WriteSystemLog(message);
  std::printf("%s\n", message.c_str());

  plat::UniqueFile list(plat::OpenFile(listName, plat::Access::Write, plat::Share::DenyWrite, plat::Mode::Text));
  if (!list) {
    ReportFileFailure(errno, "creating", listName);
    return;
  }

  plat::UniqueFile areas = OpenFilePathFile(262144);
  if (!areas) return;

  bool writeFailed = false;
  if (first <= last && std::fseek(areas.get(), static_cast<long>((first - 1) * 256), SEEK_SET) == 0) {
    FilePathRecord record;
    std::string path;
    for (int64_t area = first; area <= last; ++area) {
      if (std::fread(&record, sizeof record, 1, areas.get()) != 1) break;
      PasToC(record.AreaPath, path);
      if (!path.empty() && FilePathAllowed(record))
        if (std::fprintf(list.get(), "%s\n", path.c_str()) < 0) writeFailed = true;
    }
  }
  int closeError = plat::CloseFile(list.release()) ? 0 : errno;
  if (writeFailed || closeError)
    ReportFileFailure(closeError ? closeError : EIO, "writing", listName);
}
