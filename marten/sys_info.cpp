// Reading and rewriting the system information record under its byte-range
// lock.  The board's nodes lock the same 168 bytes before they change the
// record, so nobody's change is lost between our read and our write.
#include <cerrno>
#include <cstdio>

#include "marten.h"
#include "startup.h"

#ifdef VLM_TEST_HOOKS
unsigned SysInfoRetrySeconds = kSysInfoRetrySeconds;
#endif

namespace {

#ifndef VLM_TEST_HOOKS
constexpr unsigned SysInfoRetrySeconds = kSysInfoRetrySeconds;
#endif

constexpr int64_t kRecordBytes = sizeof(SysInfoRecord);

// The counters count events of one day: a record last written on another
// day (of any year) starts the day with them at zero.
void ClearCountersOfAnotherDay(FILE *file, SysInfoRecord &record) {
  uint32_t modified = 0;
  if (!plat::FileModifiedDos(file, modified)) return;  // no date: keep what the board wrote
  plat::LocalTime now = plat::GetLocalTime();
  int year = static_cast<int>(modified >> 25) + 1980;
  int month = static_cast<int>((modified >> 21) & 0x0F);
  int day = static_cast<int>((modified >> 16) & 0x1F);
  if (year != now.year || month != now.month || day != now.day) {
    record.DailyCounter1 = 0;
    record.DailyCounter2 = 0;
    record.DailyCounter3 = 0;
  }
}

}  // namespace

int GetSysInfo(plat::UniqueFile &file, SysInfoRecord &record) {
  file.reset();
  plat::UniqueFile f(
      plat::OpenFile(SystemPath + "SYSINFO.BBS", plat::Access::ReadWrite, plat::Share::DenyNone, plat::Mode::Binary));
  if (!f) return 0;

  bool locked = false;
  for (int attempt = 1; attempt <= kSysInfoLockAttempts; ++attempt) {
    if (plat::LockRange(f.get(), 0, kRecordBytes)) {
      locked = true;
      break;
    }
    if (attempt < kSysInfoLockAttempts) plat::SleepSeconds(SysInfoRetrySeconds);
  }
  if (!locked) return 0;

  if (std::fread(&record, sizeof record, 1, f.get()) != 1) {
    plat::UnlockRange(f.get(), 0, kRecordBytes);
    return 0;
  }
  ClearCountersOfAnotherDay(f.get(), record);
  file = std::move(f);
  return 1;
}

int PutSysInfo(plat::UniqueFile &file, SysInfoRecord &record) {
  FILE *f = file.get();
  if (!f) {
    errno = EBADF;
    return 0;
  }
  int error = 0;
  errno = 0;
  // The record must be on disk before the lock goes, or a node could read
  // the old values in between.
  if (std::fseek(f, 0, SEEK_SET) != 0 || !plat::WriteBytes(f, &record, sizeof record) || std::fflush(f) != 0)
    error = errno ? errno : EIO;
  plat::UnlockRange(f, 0, kRecordBytes);
  int closeError = plat::CloseFile(file.release());
  if (!error) error = closeError;
  if (error) {
    errno = error;
    return 0;
  }
  return 1;
}
