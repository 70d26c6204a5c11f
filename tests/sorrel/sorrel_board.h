// sorrel run inside the test process, on the boards of message_board.h.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "message_board.h"
#include "platform.h"
#include "program_frame.h"
#include "sorrel.h"

namespace st {

// sorrel run inside the test process, so that the operation hook set here
// acts on it, its operations counted from 1 and operation `failAt` failing
// or ending the process (none for 0); in the board's directory, without
// syncs, its output collected.
inline vt::RunResult RunHere(Board &b, const std::vector<std::string> &args, long failAt = 0,
                             plat::FaultAction action = plat::FaultAction::FaultFail) {
  plat::SetFaultInjection(failAt, action);
  vt::SetEnv("VLM", b.dir.Board());
  vt::UnsetEnv("TASK");
  std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(b.dir.Path());
  std::vector<const char *> argv{"sorrel"};
  for (const std::string &a : args) argv.push_back(a.c_str());
  plat::SetSyncs(false);
  vt::RunResult r;
  {
    vt::CapturedStdout out(b.dir / "STDOUT.TXT");
    r.status = RunProgram(int(argv.size()), argv.data(), SorrelProgram());
    r.out = out.Text();
  }
  plat::SetSyncs(true);
  plat::SetFaultInjection(0, plat::FaultAction::FaultFail);
  std::filesystem::current_path(cwd);
  return r;
}

}  // namespace st
