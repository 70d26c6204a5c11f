// The system information record: the day check of its counters, a short
// file, and the byte-range lock held by a second process.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "marten.h"
#include "records.h"
#include "startup.h"
#include "test_support.h"
#include "text.h"

namespace {

namespace fs = std::filesystem;

// A record with recognisable bytes everywhere and counters 5, 6 and 7.
std::string SysInfoBytes() {
  SysInfoRecord r = vt::FilledRecord<SysInfoRecord>([](size_t i) { return i * 7 + 1; });
  r.FileKilobytes = 1234;
  r.DailyCounter1 = 5;
  r.DailyCounter2 = 6;
  r.DailyCounter3 = 7;
  return vt::AsBytes(r);
}

// Sets a file's modification time to a local calendar time.
void SetModified(const std::string &path, int year, int month, int day, int hour, int minute) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_isdst = -1;
  auto when = std::chrono::system_clock::from_time_t(std::mktime(&tm));
  fs::last_write_time(path, std::chrono::file_clock::from_sys(when));
}

// Starts a process that holds bytes 0-167 of `path` for `seconds`, and
// returns once the lock is held.
std::thread HoldLock(const vt::TempDir &dir, const std::string &path, int seconds) {
  std::string ready = dir / "LOCKED";
  fs::remove(ready);
  std::thread holder([=] {
    vt::Run(LOCK_HOLDER_EXE, {path, "0", std::to_string(sizeof(SysInfoRecord)), std::to_string(seconds), ready}, "");
  });
  for (int i = 0; i < 500 && !vt::FileExists(ready); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(vt::FileExists(ready)) << "the lock holder did not start";
  return holder;
}

class SysInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    SystemPath = dir.Board();
    SysInfoRetrySeconds = kSysInfoRetrySeconds;
  }
  void TearDown() override { SysInfoRetrySeconds = kSysInfoRetrySeconds; }

  // GetSysInfo and PutSysInfo with nothing changed: what the file then holds.
  std::string ReadAndWriteBack() {
    SysInfoFile f;
    SysInfoRecord record;
    EXPECT_EQ(GetSysInfo(f, record), 1);
    EXPECT_TRUE(f.file && f.lock.Held());
    EXPECT_EQ(PutSysInfo(f, record), 1);
    EXPECT_FALSE(f.file || f.lock.Held()) << "nothing held";
    return vt::ReadFile(path);
  }

  vt::TempDir dir;
  std::string path = dir / "SYSINFO.BBS";
};

TEST_F(SysInfo, CountersOfAnotherDayAreClearedAndEverythingElseKept) {
  plat::LocalTime now = plat::GetLocalTime();
  const std::string original = SysInfoBytes() + "board's own bytes after the record";
  std::string cleared = original;
  vt::EditRecord<SysInfoRecord>(cleared, 0, [](SysInfoRecord &r) {
    r.DailyCounter1 = 0;
    r.DailyCounter2 = 0;
    r.DailyCounter3 = 0;
  });

  vt::WriteFile(path, original);
  SetModified(path, now.year, now.month, now.day, 0, 0);
  EXPECT_EQ(ReadAndWriteBack(), original) << "written earlier today";

  vt::WriteFile(path, original);
  SetModified(path, now.year, now.month, now.day - 1, 23, 59);  // mktime carries into the month before
  EXPECT_EQ(ReadAndWriteBack(), cleared) << "written yesterday";

  vt::WriteFile(path, original);
  SetModified(path, now.year - 1, now.month, now.day, 12, 0);
  EXPECT_EQ(ReadAndWriteBack(), cleared) << "written on this day of last year";

  vt::WriteFile(path, original);
  SetModified(path, now.year, now.month == 1 ? 2 : 1, now.day, 12, 0);
  EXPECT_EQ(ReadAndWriteBack(), cleared) << "same day of another month";
}

TEST_F(SysInfo, ShortOrMissingFileGivesNothing) {
  SysInfoFile f;
  SysInfoRecord record;
  EXPECT_EQ(GetSysInfo(f, record), 0) << "missing";
  EXPECT_FALSE(f.file || f.lock.Held()) << "nothing held";

  const std::string shortFile = SysInfoBytes().substr(0, 100);
  vt::WriteFile(path, shortFile);
  EXPECT_EQ(GetSysInfo(f, record), 0);
  EXPECT_FALSE(f.file || f.lock.Held()) << "nothing held";
  EXPECT_EQ(vt::ReadFile(path), shortFile);
  // Nothing stays locked or open: a whole record can be had at once.
  vt::WriteFile(path, SysInfoBytes());
  SysInfoRetrySeconds = 0;
  EXPECT_EQ(GetSysInfo(f, record), 1);
  EXPECT_EQ(PutSysInfo(f, record), 1);
}

TEST_F(SysInfo, GivesUpWhileAnotherProcessHoldsTheRecord) {
  vt::WriteFile(path, SysInfoBytes());
  std::thread holder = HoldLock(dir, path, 2);
  SysInfoRetrySeconds = 0;  // the 17 attempts at once
  SysInfoFile f;
  SysInfoRecord record;
  EXPECT_EQ(GetSysInfo(f, record), 0);
  EXPECT_FALSE(f.file || f.lock.Held()) << "nothing held";
  holder.join();
  EXPECT_EQ(GetSysInfo(f, record), 1) << "free again once the holder has ended";
  EXPECT_EQ(PutSysInfo(f, record), 1);
}

TEST_F(SysInfo, MartenWaitsForTheLockAndThenStoresTheTotal) {
  vt::BoardConfig config;
  config.logName = dir.Path() + "MAINT.LOG";
  config.fastIndexPath = dir.Board();
  vt::WriteBoard(dir.Path(), config);
  vt::MakeDirs(dir / "AREA");
  vt::WriteFile(dir / "AREA/BIG.ZIP", std::string(5000, 'z'));
  vt::WriteFile(dir / "FILEPATH.VLM", vt::FileAreaBytes(dir.Board() + "AREA\\"));
  std::string info = SysInfoBytes();
  vt::WriteFile(path, info);

  std::thread holder = HoldLock(dir, path, 3);
  auto start = std::chrono::steady_clock::now();
  vt::RunResult r = vt::Run(MARTEN_EXE, {"-BUILD"}, dir.Path(), {{"VLM", dir.Board()}, {"TASK", ""}});
  auto waited = std::chrono::steady_clock::now() - start;
  holder.join();

  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find("Failed Opening SYSINFO.BBS"), std::string::npos) << r.out;
  EXPECT_GE(waited, std::chrono::seconds(2)) << "marten did not wait for the lock";
  vt::EditRecord<SysInfoRecord>(info, 0, [](SysInfoRecord &r) { r.FileKilobytes = 4; });
  EXPECT_EQ(vt::ReadFile(path).substr(0, offsetof(SysInfoRecord, DailyCounter1)),
            info.substr(0, offsetof(SysInfoRecord, DailyCounter1)));
}

}  // namespace
