// The frame every program's entry point follows: banner, start-up, help or
// the work inside the log frame, completion line, exit status.
#pragma once

inline constexpr const char kVersion[] = "1.48";
inline constexpr const char kPlatform[] = "WIN 95/NT";

// One program's texts and routines; each program fills it in its main.cpp.
struct ProgramInfo {
  const char *banner = nullptr;      // first banner line, filled with platform and version
  const char *code = nullptr;        // program code for the log name
  const char *logStart = nullptr;    // log start line, filled with platform
  const char *logEnd = nullptr;      // log end line
  const char *completion = nullptr;  // completion line
  void (*help)() = nullptr;          // the help text of -?
  void (*work)() = nullptr;          // the program's work, run between the log lines
};

// Runs the program; returns the exit status (1 only for a failed start-up).
int RunProgram(int argc, const char *const *argv, const ProgramInfo &info);
