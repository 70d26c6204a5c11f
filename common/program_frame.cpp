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
}  // namespace

void RunFailed() { Failed = true; }
int RunHasFailed() { return Failed ? 1 : 0; }

int RunProgram(int argc, const char *const *argv, const ProgramInfo &info) {
  Failed = false;
  try {
    SetArguments(argc, argv);
    std::printf(info.banner, kPlatform, kVersion);
    std::printf("Copyright (c) Velmora.  All Rights Reserved.\n");
    std::printf("Use -? for help\n\n");
    std::string error;
    if (!InitVelmora(error, info.code)) {
      std::printf("Error: %s\n", error.c_str());
      std::fflush(stdout);
      return kExitStartup;
    }
    if (FindMinusSlashParam("?")) {
      info.help();
    } else {
      // The work goes on without a log when it cannot be opened.
      OpenSystemLog(MaintLog);
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
