#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "area_link.h"
#include "link_conference.h"
#include "msgbase.h"
#include "platform.h"
#include "run_failure.h"
#include "startup.h"
#include "switches.h"
#include "system_log.h"
#include "tether.h"
#include "text.h"

namespace {

// Area types whose reply chains the linker joins; 3 and 4 are unused slots,
// 5 and everything above 8 are never linked here.
bool LinkedType(uint8_t type) { return type <= 2 || (type >= 6 && type <= 8); }

}  // namespace

void LinkMessageBase() {
  // MESSAGES.VLM is opened before the marks are consumed: when it cannot be
  // read, nothing could be linked, and the marks stay for the next run.  The
  // console still reports an unopenable MSGREPLY.BBS first, as a run that
  // consumed the marks would.
  std::string name = SystemPath + "MESSAGES.VLM";
  plat::UniqueFile areas(plat::OpenFile(name, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
  if (!areas) {
    int error = errno;
    KeepAreaLink();
    ReportFileFailure(error, "opening", name);
  } else {
    GetAreaLink();
    int all = FindMinusSlashParam("LINKALL");
    if (all && !plat::SetStreamBuffer(areas.get(), 65536)) std::printf("Failed to Setup %s Buffer\n", name.c_str());

    int any = 0;
    for (unsigned k = 1; k <= Constant.MaxMsgAreas; ++k) {
      if (!AreaLink[k - 1] && !all) continue;
      // With LINKALL every record is read in turn, so the stream is already there.
      if (!all && std::fseek(areas.get(), static_cast<long>((k - 1) * sizeof(MessageRecord)), SEEK_SET) != 0)
        continue;
      MessageRecord record;
      if (std::fread(&record, sizeof record, 1, areas.get()) != 1) {
        // Past the end of the file every later record is missing as well.
        if (all) break;
        continue;
      }
      if (record.AreaName[0] == 0 || !LinkedType(record.AreaType)) continue;
      LinkConference(static_cast<uint16_t>(k), record);
      any = 1;
    }
    if (!any) std::printf("No Message Areas require Linking\n");
  }
}
