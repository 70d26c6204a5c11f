// The frame every program's entry point follows: banner, start-up, help or
// work inside the log frame, completion line, exit status.
#pragma once

inline constexpr const char kVersion[] = "1.48";
inline constexpr const char kPlatform[] = "WIN 95/NT";

struct ProgramInfo {
  const char *bannerFormat;  // filled with platform and version
  const char *code;          // program code for the log name
  const char *logStart;      // filled with platform
  const char *logEnd;
  const char *completion;
  void (*help)();
  void (*work)();
  // The work routine opens and closes the log itself (with OpenRunLog and
  // CloseRunLog) instead of the frame doing it around the work.
  bool workOwnsLog;
};

// Runs the program; returns the exit status (1 only for a failed start-up).
int RunProgram(int argc, const char *const *argv, const ProgramInfo &info);

// The log frame: open the maintenance log and write the start line; write the
// end line and close it.
void OpenRunLog(const ProgramInfo &info);
void CloseRunLog(const ProgramInfo &info);
