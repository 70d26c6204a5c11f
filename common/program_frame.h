// The frame every program's entry point follows: banner, start-up, help or
// the work inside the log frame, completion line, exit status.
#pragma once

#include <string>
#include <vector>

inline constexpr const char kVersion[] = "1.48";
inline constexpr const char kPlatform[] = "WIN 95/NT";

// One program's texts and routines; each program fills it in its main.cpp.
struct ProgramInfo {
  const char *banner = nullptr;      // first banner line, filled with platform and version
  const char *code = nullptr;        // program code for the log name
  const char *logStart = nullptr;    // log start line, filled with platform
  const char *logEnd = nullptr;      // log end line
  const char *completion = nullptr;  // completion line
  // Names of the program's own switches, read by prefix in either form
  // ("LINK" also accepts -LINKALL).  The node and help switches are every
  // program's and need no entry; any other switch is refused.
  std::vector<std::string> switches = {};
  // Checks the values of those switches against the board once start-up
  // has loaded its configuration, before the log is opened: 0 refuses the
  // command line (the routine has printed why) and the run ends with
  // kExitStartup, having changed nothing.  Null when every value is taken.
  int (*acceptValues)() = nullptr;
  void (*help)() = nullptr;          // the help text of -? (start-up may have failed)
  void (*work)() = nullptr;          // the program's work, run between the log lines
};

// Exit statuses: everything asked was done; start-up failed or the command
// line was refused; the run went on past a failure that left part of its
// work undone.
inline constexpr int kExitDone = 0;
inline constexpr int kExitStartup = 1;
inline constexpr int kExitIncomplete = 2;

// Runs the program; returns its exit status.  A help switch shows the help
// whatever else the line holds, with or without a board.  Otherwise a switch
// the program does not accept is refused before start-up, and a value the
// board has no use for (acceptValues) right after it.
int RunProgram(int argc, const char *const *argv, const ProgramInfo &info);

// Records that part of the run's work was left undone: the run goes on and
// ends with kExitIncomplete.
void RunFailed();
int RunHasFailed();
#ifdef VLM_TEST_HOOKS
// Test builds only: a new run for code that calls the routines directly,
// as RunProgram begins one.
void ResetRunFailed();
#endif

// Whether start-up loaded the configuration: the help, shown without a
// board as well, tells its figures from the configuration only then.
int StartupSucceeded();
