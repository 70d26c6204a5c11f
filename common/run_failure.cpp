#include "run_failure.h"

#include <cstdio>
#include <cstring>

#include "program_frame.h"
#include "system_log.h"

void ReportFailure(const std::string &console, const std::string &log) {
  std::printf("%s", console.c_str());
  WriteSystemLog(log);
  RunFailed();
}

void ReportFailure(const std::string &console) {
  std::string line;
  for (char c : console)
    if (c != '\n' && c != '\r') line += c;
  ReportFailure(console, line);
}

void ReportFileFailure(int error, const char *action, const std::string &file) {
  ReportFailure(std::string(std::strerror(error)) + " " + action + " " + file + "\n");
}
