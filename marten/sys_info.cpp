// Reading and rewriting the system information record under its byte-range
// lock.  The board's nodes lock the same 168 bytes before they change the
// record, so nobody's change is lost between our read and our write.
#include <cerrno>
#include <cstdio>

#include "dates.h"
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
  uint16_t year, month, day, hour, minute, second;
  Long2Date(static_cast<int32_t>(modified), year, month, day, hour, minute, second);
  plat::LocalTime now = plat::GetLocalTime();
  if (year != now.year || month != now.month || day != now.day) {
    record.DailyCounter1 = 0;
    record.DailyCounter2 = 0;
    record.DailyCounter3 = 0;
  }
}

// Releases whatever an earlier call held, so that a failure leaves nothing held.
void DropSysInfo(SysInfoFile &sysInfo) {
  sysInfo.lock.Release();
  sysInfo.file.reset();
}

}  // namespace

int GetSysInfo(SysInfoFile &sysInfo, SysInfoRecord &record) {
  DropSysInfo(sysInfo);
  sysInfo.file.reset(
      plat::OpenFile(SystemPath + "SYSINFO.BBS", plat::Access::ReadWrite, plat::Share::DenyNone, plat::Mode::Binary));
  if (!sysInfo.file) return 0;
  FILE *f = sysInfo.file.get();
  for (int attempt = 1; attempt <= kSysInfoLockAttempts; ++attempt) {
    if (sysInfo.lock.Acquire(f, 0, kRecordBytes)) break;
    if (attempt < kSysInfoLockAttempts) plat::SleepSeconds(SysInfoRetrySeconds);
  }
  if (!sysInfo.lock.Held() || std::fread(&record, sizeof record, 1, f) != 1) {
    int e = errno;
    DropSysInfo(sysInfo);
    errno = e;
    return 0;
  }
  ClearCountersOfAnotherDay(f, record);
  return 1;
}

int PutSysInfo(SysInfoFile &sysInfo, SysInfoRecord &record) {
  FILE *f = sysInfo.file.get();
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
  sysInfo.lock.Release();
  int closeError = plat::CloseFile(sysInfo.file.release()) ? 0 : errno;
  if (!error) error = closeError;
  if (error) {
    errno = error;
    return 0;
  }
  return 1;
}
