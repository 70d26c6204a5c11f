#include "platform_shared.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace plat {
namespace {

struct FaultState {
  bool loaded = false;
  long limit = 0;
  long count = 0;
  FaultAction action = FaultAction::FaultFail;
};

FaultState &Faults() {
  static FaultState state;
  if (!state.loaded) {
    state.loaded = true;
    if (const char *at = std::getenv("VLM_FAULT_AT")) state.limit = std::strtol(at, nullptr, 10);
    if (const char *mode = std::getenv("VLM_FAULT_MODE"))
      state.action = std::strcmp(mode, "exit") == 0 ? FaultAction::FaultExit : FaultAction::FaultFail;
  }
  return state;
}

}  // namespace

namespace shared {

bool FaultHere() {
  FaultState &f = Faults();
  ++f.count;
  if (f.limit <= 0 || f.count != f.limit) return false;
  // Ends the process without flushing any stream, like a crash would.
  if (f.action == FaultAction::FaultExit) std::_Exit(86);
  errno = EIO;
  return true;
}

int CheckedPath(const std::string &path) {
  if (path.size() > kMaxBoardPath) {
    errno = ENAMETOOLONG;
    return 0;
  }
  return 1;
}

uint32_t DosDateTime(const struct tm &tm) {
  int year = tm.tm_year + 1900 - 1980;
  if (year < 0) year = 0;
  return (static_cast<uint32_t>(year & 0x7F) << 25) | (static_cast<uint32_t>(tm.tm_mon + 1) << 21) |
         (static_cast<uint32_t>(tm.tm_mday) << 16) | (static_cast<uint32_t>(tm.tm_hour) << 11) |
         (static_cast<uint32_t>(tm.tm_min) << 5) | static_cast<uint32_t>(tm.tm_sec / 2);
}

LocalTime ToLocalTime(const struct tm &tm) {
  LocalTime lt;
  lt.year = tm.tm_year + 1900;
  lt.month = tm.tm_mon + 1;
  lt.day = tm.tm_mday;
  lt.hour = tm.tm_hour;
  lt.minute = tm.tm_min;
  lt.second = tm.tm_sec;
  return lt;
}

}  // namespace shared

void SetFaultInjection(long limit, FaultAction action) {
  FaultState &f = Faults();
  f.limit = limit;
  f.action = action;
  f.count = 0;
}

long FaultOperationCount() { return Faults().count; }

int WriteBytes(FILE *f, const void *data, size_t size) {
  if (shared::FaultHere()) return 0;
  return std::fwrite(data, 1, size, f) == size ? 1 : 0;
}

}  // namespace plat
