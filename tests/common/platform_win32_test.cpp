// Behaviour that only the board's own platform has: sharing modes that other
// openers really run into, byte-range locks that another process holds, the
// runtime's text mode and file attributes, and a whole program working on a
// board whose records name their files with drive letters.  On POSIX hosts
// these tests are skipped; the POSIX emulation has tests of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform.h"
#include "records.h"
#include "system_log.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class Win32Host : public ::testing::Test {
 protected:
  void SetUp() override {
    if (vt::HostIsPosix()) GTEST_SKIP() << "Windows behaviour";
  }
  vt::TempDir dir;
};

using vt::Open;
using vt::ReadAll;

// Starts the lock holder on `path` (bytes `offset`, `length`) for `seconds`
// in a thread; returns once the lock is held.
std::thread HoldLock(const vt::TempDir &dir, const std::string &path, int offset, int length, int seconds) {
  const std::string ready = dir / "LOCKED";
  std::thread holder([=] {
    vt::Run(LOCK_HOLDER_EXE, {path, std::to_string(offset), std::to_string(length), std::to_string(seconds), ready},
            "");
  });
  for (int i = 0; i < 1000 && !vt::FileExists(ready); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(vt::FileExists(ready)) << "the lock holder did not start";
  return holder;
}

TEST_F(Win32Host, SharingModesRefuseOtherOpenersAndNeverEmptyAHeldFile) {
  const std::string path = dir / "AREA.HDR";
  vt::WriteFile(path, "headers");
  using plat::Access, plat::Share;
  {
    plat::UniqueFile writer = Open(path, Access::ReadWrite, Share::DenyWrite);
    ASSERT_TRUE(writer);
    errno = 0;
    EXPECT_FALSE(Open(path, Access::ReadWrite)) << "a second writer is refused";
    EXPECT_EQ(errno, EACCES);
    EXPECT_FALSE(Open(path, Access::Write)) << "also one that would empty the file";
    EXPECT_FALSE(Open(path, Access::Read, Share::DenyWrite)) << "a writer is already there";
    EXPECT_TRUE(Open(path, Access::Read)) << "a reader that denies nothing is let in";
  }
  EXPECT_EQ(vt::ReadFile(path), "headers");
  {
    plat::UniqueFile held = Open(path, Access::Read, Share::Exclusive);
    ASSERT_TRUE(held);
    EXPECT_FALSE(Open(path, Access::Read));
  }
  {
    plat::UniqueFile reader = Open(path, Access::Read, Share::DenyWrite);
    ASSERT_TRUE(reader);
    EXPECT_TRUE(Open(path, Access::Read, Share::DenyWrite)) << "two readers that deny writing agree";
    EXPECT_FALSE(Open(path, Access::Append));
  }
  EXPECT_TRUE(Open(path, Access::ReadWrite, Share::Exclusive)) << "closing releases the file";

  // Another process is refused too, and our handles are not inherited by it.
  plat::UniqueFile held = Open(path, Access::ReadWrite, Share::Exclusive);
  ASSERT_TRUE(held);
  vt::RunResult refused = vt::Run(LOCK_HOLDER_EXE, {path, "0", "1", "0", dir / "READY"}, "");
  EXPECT_EQ(refused.status, 1);
  EXPECT_FALSE(vt::FileExists(dir / "READY"));
  held.reset();
  vt::RunResult granted = vt::Run(LOCK_HOLDER_EXE, {path, "0", "1", "0", dir / "READY"}, "");
  EXPECT_EQ(granted.status, 0);
  EXPECT_EQ(vt::ReadFile(path), "headers");
}

TEST_F(Win32Host, ARangeLockedByAnotherProcessIsRefusedAtOnceAndEndsWithIt) {
  const std::string path = dir / "SYSINFO.BBS";
  vt::WriteFile(path, std::string(200, 'r'));
  plat::UniqueFile f = Open(path, plat::Access::ReadWrite);
  ASSERT_TRUE(f);

  std::thread holder = HoldLock(dir, path, 0, 168, 2);
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(plat::LockRange(f.get(), 0, 168), 0);
  EXPECT_EQ(plat::LockRange(f.get(), 167, 10), 0) << "one held byte is enough to refuse";
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2)) << "a refusal does not wait";
  EXPECT_EQ(plat::LockRange(f.get(), 168, 32), 1) << "bytes outside the range stay free";
  EXPECT_EQ(plat::UnlockRange(f.get(), 168, 32), 1);
  holder.join();

  EXPECT_EQ(plat::LockRange(f.get(), 0, 168), 1) << "the lock ends with its process";
  {
    // Another handle of this process is refused as well.
    plat::UniqueFile g = Open(path, plat::Access::ReadWrite);
    ASSERT_TRUE(g);
    EXPECT_EQ(plat::LockRange(g.get(), 100, 1), 0);
  }
  char byte = 0;
  EXPECT_EQ(std::fread(&byte, 1, 1, f.get()), 1u) << "the holder reads its own range";
  EXPECT_EQ(plat::UnlockRange(f.get(), 0, 168), 1);
  EXPECT_EQ(plat::UnlockRange(f.get(), 0, 168), 0) << "nothing left to release";
}

TEST_F(Win32Host, TextModeIsTheRuntimesCrLfAndCtrlZ) {
  const std::string name = dir / "LIST.TXT";
  for (plat::Access access : {plat::Access::Write, plat::Access::Append}) {
    plat::UniqueFile f = Open(name, access, plat::Share::DenyWrite, plat::Mode::Text);
    ASSERT_TRUE(f);
    std::fputs("a\nb\n", f.get());
    EXPECT_EQ(plat::CloseFile(f.release()), 1);
  }
  EXPECT_EQ(vt::ReadFile(name), "a\r\nb\r\na\r\nb\r\n");

  vt::WriteFile(dir / "IN.TXT", "one\r\ntwo\rthree\r\n\r\nlast\r\x1Anot read\r\n");
  plat::UniqueFile in = Open(dir / "IN.TXT", plat::Access::Read, plat::Share::DenyNone, plat::Mode::Text);
  ASSERT_TRUE(in);
  EXPECT_EQ(ReadAll(in.get()), "one\ntwo\rthree\n\nlast\r");
  plat::UniqueFile raw = Open(dir / "IN.TXT", plat::Access::Read);
  ASSERT_TRUE(raw);
  EXPECT_EQ(ReadAll(raw.get()).size(), 34u) << "binary mode is untouched";

  // A CR LF across the stream buffer's edge is still one line end.
  vt::WriteFile(dir / "BIG.TXT", std::string(4095, 'x') + "\r\ntail\r\n");
  plat::UniqueFile big = Open(dir / "BIG.TXT", plat::Access::Read, plat::Share::DenyNone, plat::Mode::Text);
  ASSERT_TRUE(big);
  ASSERT_EQ(plat::SetStreamBuffer(big.get(), 4096), 1);
  EXPECT_EQ(ReadAll(big.get()), std::string(4095, 'x') + "\ntail\n");
}

TEST_F(Win32Host, SearchesNeverReturnHiddenOrSystemFilesAndDirectoriesOnlyWhenAsked) {
  for (const char *name : {"PLAIN.ZIP", "HIDDEN.ZIP", "SYSTEM.ZIP", "READONLY.ZIP", "ARCHIVE.ZIP"})
    vt::WriteFile(dir / name, "12345");
  vt::MakeDirs(dir / "SUB.ZIP");
  const std::string attrib = "C:\\windows\\system32\\attrib.exe";
  ASSERT_EQ(vt::Run(attrib, {"+h", dir / "HIDDEN.ZIP"}, "").status, 0);
  ASSERT_EQ(vt::Run(attrib, {"+s", dir / "SYSTEM.ZIP"}, "").status, 0);
  ASSERT_EQ(vt::Run(attrib, {"+r", dir / "READONLY.ZIP"}, "").status, 0);
  ASSERT_EQ(vt::Run(attrib, {"+a", dir / "ARCHIVE.ZIP"}, "").status, 0);

  auto search = [&](const std::string &pattern, unsigned attributes) {
    std::vector<std::string> names;
    plat::DirectorySearch s;
    plat::FoundEntry e;
    for (int ok = s.First(pattern, attributes, e); ok; ok = s.Next(e)) {
      names.push_back(e.name + (e.isDirectory ? "/" : "") + (e.readOnly ? "r" : "") + std::to_string(e.size));
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  EXPECT_EQ(search(dir / "*.zip", plat::FindFiles),
            (std::vector<std::string>{"ARCHIVE.ZIP5", "PLAIN.ZIP5", "READONLY.ZIPr5"}));
  EXPECT_EQ(search(dir / "*.*", plat::FindDirectories),
            (std::vector<std::string>{"ARCHIVE.ZIP5", "PLAIN.ZIP5", "READONLY.ZIPr5", "SUB.ZIP/0"}))
      << "never . or ..";
  EXPECT_TRUE(search(dir / "HIDDEN.ZIP", plat::FindDirectories).empty()) << "not even by its own name";
  EXPECT_TRUE(search(dir / "SUB.ZIP", plat::FindFiles).empty());
  vt::Run(attrib, {"-r", dir / "READONLY.ZIP"}, "");  // so the directory can be removed
}

TEST_F(Win32Host, ErrorTextsAreTheRuntimesAndPathsArePrintedAsGiven) {
  errno = 0;
  EXPECT_FALSE(Open(dir / "MISSING.BBS", plat::Access::Read));
  EXPECT_STREQ(std::strerror(errno), "No such file or directory");
  vt::WriteFile(dir / "HELD", "");
  plat::UniqueFile held = Open(dir / "HELD", plat::Access::ReadWrite, plat::Share::Exclusive);
  ASSERT_TRUE(held);
  EXPECT_FALSE(Open(dir / "HELD", plat::Access::Read));
  EXPECT_STREQ(std::strerror(errno), "Permission denied");
  EXPECT_EQ(plat::DeleteFile(dir / "HELD"), 0) << "an open file cannot be deleted here";
  EXPECT_EQ(errno, EACCES);
  held.reset();

  EXPECT_FALSE(Open(dir.Board() + std::string(300, 'N'), plat::Access::Write));
  EXPECT_EQ(errno, ENAMETOOLONG);

  testing::internal::CaptureStdout();
  OpenSystemLog(dir.Board() + "NODIR\\X.LOG");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "No such file or directory opening " + dir.Board() + "NODIR\\X.LOG");
}

TEST_F(Win32Host, FilesAreRenamedOverOthersAndDirectoriesRemovedWithOrWithoutBackslash) {
  vt::WriteFile(dir / "OLD.TXT", "old");
  vt::WriteFile(dir / "NEW.TXT", "new");
  EXPECT_EQ(plat::RenameFile(dir / "NEW.TXT", dir / "OLD.TXT"), 1) << "the target is replaced, as on POSIX";
  EXPECT_EQ(vt::ReadFile(dir / "OLD.TXT"), "new");
  EXPECT_FALSE(vt::FileExists(dir / "NEW.TXT"));
  errno = 0;
  EXPECT_EQ(plat::RenameFile(dir / "NEW.TXT", dir / "OTHER.TXT"), 0);
  EXPECT_EQ(errno, ENOENT);

  EXPECT_EQ(plat::MakeDirectory(dir / "SUB\\"), 1);
  vt::WriteFile(dir / "SUB\\F", "x");
  EXPECT_EQ(plat::RemoveDirectory(dir / "SUB"), 0) << "only empty directories";
  EXPECT_EQ(plat::DeleteFile(dir / "SUB"), 0) << "a directory is not a file";
  EXPECT_EQ(plat::DeleteFile(dir / "SUB\\F"), 1);
  EXPECT_EQ(plat::RemoveDirectory(dir / "SUB\\"), 1);
  EXPECT_FALSE(vt::FileExists(dir / "SUB"));
}

// quarry2 on a board kept under a drive letter of its own, the way a board's
// records name it ("V:\BBS\FILES\"), with the program started elsewhere.
// The drive is the one named by VLM_TEST_DRIVE (the test command maps one
// for the Wine runs); without it the board lies on the temporary directory's
// drive, which is a drive letter too.
TEST_F(Win32Host, Quarry2WorksOnABoardWhoseRecordsHoldDrivePaths) {
  std::string root = dir.Path();
  std::string mapped;
  if (const char *drive = std::getenv("VLM_TEST_DRIVE"); drive && *drive) {
    // A leaf of the same random name as the temporary directory, removed below.
    std::string leaf = fs::path(dir.Path().substr(0, dir.Path().size() - 1)).filename().string();
    mapped = std::string(drive) + "\\" + leaf + "\\";
    std::error_code ec;
    ASSERT_TRUE(fs::create_directories(mapped, ec)) << mapped << ": " << ec.message();
    root = mapped;
  }
  struct Cleanup {
    std::string path;
    ~Cleanup() {
      std::error_code ec;
      if (!path.empty()) fs::remove_all(path, ec);
    }
  } cleanup{mapped};
  ASSERT_EQ(root[1], ':');

  const std::string bbs = root + "BBS\\";
  for (const char *sub : {"LOGS", "QA", "FILES\\A1", "FILES\\A2"}) vt::MakeDirs(bbs + sub);
  vt::BoardConfig config;
  config.logName = bbs + "LOGS\\*T*N.LOG";
  vt::WriteBoard(bbs, config);
  std::string areas;
  for (const auto &[path, security] : {std::pair<std::string, uint16_t>{bbs + "FILES\\A1\\", 10},
                                       std::pair<std::string, uint16_t>{bbs + "FILES\\A2\\", 200}}) {
    areas += vt::FileAreaBytes(path, security);
  }
  vt::WriteFile(bbs + "FILEPATH.VLM", areas);
  vt::WriteFile(bbs + "QA\\NEWUSER.Q", ":TOP\r\nHELLO\r\nGOTO TOP\r\n");

  vt::TempDir elsewhere;
  const std::string system = bbs.substr(0, bbs.size() - 1);  // VLM without its backslash
  vt::RunResult r = vt::Run(QUARRY2_EXE, {"-LIST" + bbs + "LIST.TXT", "-MAXSEC100"}, elsewhere.Path(),
                            {{"VLM", system}, {"TASK", ""}});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Writing List of Directories to " + bbs + "LIST.TXT\n"), std::string::npos) << r.out;
  EXPECT_EQ(vt::ReadFile(bbs + "LIST.TXT"), bbs + "FILES\\A1\\\r\n");

  r = vt::Run(QUARRY2_EXE, {"-COMPILE" + bbs + "QA\\NEWUSER.Q"}, elsewhere.Path(), {{"VLM", system}, {"TASK", ""}});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Compiling " + bbs + "QA\\NEWUSER.Q...Ok\n"), std::string::npos) << r.out;
  const std::string header = "; Compiled on " + vt::TodayText() + " for Velmora V1.48\r\n";
  EXPECT_EQ(vt::ReadFile(bbs + "QA\\NEWUSER.QAC"),
            header + "HELLO\r\n@#01 " + std::string(8 - std::to_string(header.size()).size(), '0') +
                std::to_string(header.size()) + "\r\n");

  // The log template named the drive too; its name comes out in upper case.
  std::string log = vt::ReadFile(bbs + "LOGS\\UT21.LOG");
  EXPECT_NE(log.find("Writing List of Directories to " + bbs + "LIST.TXT\r\n"), std::string::npos) << log;
  EXPECT_EQ(vt::MaskLogTimes(log).find("\r\n----------  " + vt::TodayText() + "\r\n"), 0u);
}

}  // namespace
