#include "system_log.h"

#include <cerrno>
#include <cstring>

#include "dates.h"
#include "platform.h"

FILE *hSystemLog = nullptr;

int OpenSystemLog(const std::string &name) {
  CloseSystemLog();
  hSystemLog = plat::OpenFile(name, plat::Access::Append, plat::Share::DenyNone, plat::Mode::Text);
  if (!hSystemLog) {
    std::printf("%s opening %s", std::strerror(errno), name.c_str());
    return 0;
  }
  plat::LocalTime now = plat::GetLocalTime();
  std::fprintf(hSystemLog, "\n----------  %02d-%s-%d\n", now.day, ShortMonths[(now.month + 11) % 12], now.year);
  return 1;
}

void WriteSystemLog(const std::string &text) {
  if (!hSystemLog) return;
  plat::LocalTime now = plat::GetLocalTime();
  std::fprintf(hSystemLog, "> %02d:%02d:%02d  %s\n", now.hour, now.minute, now.second, text.c_str());
}

void CloseSystemLog() {
  if (!hSystemLog) return;
  plat::CloseFile(hSystemLog);
  hSystemLog = nullptr;
}
