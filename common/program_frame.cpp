#include "program_frame.h"

#include <cstdio>
#include <new>
#include <string>

#include "startup.h"
#include "switches.h"
#include "system_log.h"
#include "text.h"

namespace {
bool Failed = false;
bool Started = false;
}  // namespace

void RunFailed() { Failed = true; }
int RunHasFailed() { return Failed ? 1 : 0; }
#ifdef VLM_TEST_HOOKS
void ResetRunFailed() { Failed = false; }
#endif
int StartupSucceeded() { return Started ? 1 : 0; }

int RunProgram(int argc, const char *const *argv, const ProgramInfo &info) {
  Failed = false;
  Started = false;
  try {
    SetArguments(argc, argv);
    std::printf(info.banner, kPlatform, kVersion);
    std::printf("Copyright (c) Velmora.  All Rights Reserved.\n");
    std::printf("Use -? for help\n\n");
    std::string error;
    if (FindHelpParam()) {
      // The help is shown on any machine; its figures come from the
      // configuration when there is one.
      Started = InitVelmora(error, info.code) != 0;
      info.help();
    } else {
      // A mistyped switch must not run the job without it: nothing is
      // changed, not even the log.
      std::vector<std::string> unknown = UnknownSwitches(info.switches);
      if (!unknown.empty()) {
        for (const std::string &arg : unknown) std::printf("Unknown switch %s\n", arg.c_str());
        std::printf("Use -? for help\n");
        std::fflush(stdout);
        return kExitStartup;
      }
      if (!InitVelmora(error, info.code)) {
        std::printf("Error: %s\n", error.c_str());
        std::fflush(stdout);
        return kExitStartup;
      }
      Started = true;
      if (info.acceptValues && !info.acceptValues()) {
        std::printf("Use -? for help\n");
        std::fflush(stdout);
        return kExitStartup;
      }
      // The work goes on without a log when it cannot be opened; the run
      // then leaves no record, so it does not end as done.
      if (!OpenSystemLog(MaintLog)) RunFailed();
      WriteSystemLog(StrPrintf(info.logStart, kPlatform));
      info.work();
      WriteSystemLog(info.logEnd);
      CloseSystemLog();
    }
    std::printf("%s", info.completion);
  } catch (const std::bad_alloc &) {
    std::printf("Error allocation memory\n");
    CloseSystemLog();
    Failed = true;
  }
  std::fflush(stdout);
  return Failed ? kExitIncomplete : kExitDone;
}
