// The host conventions of the POSIX platform layer: path mapping, case-blind
// lookup, hidden files and links, text mode, locks, sharing and error texts.
// These tests call the host directly and run only on POSIX hosts.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files.h"
#include "platform.h"
#include "system_log.h"
#include "test_support.h"
#include "text.h"

namespace {

#define SKIP_UNLESS_POSIX() \
  if (!vt::HostIsPosix()) GTEST_SKIP() << "POSIX host conventions"

using vt::Open;
using vt::ReadAll;

std::string ReadBoardFile(const std::string &board, plat::Mode mode = plat::Mode::Binary) {
  plat::UniqueFile f = Open(board, plat::Access::Read, plat::Share::DenyNone, mode);
  return f ? ReadAll(f.get()) : std::string("<not opened>");
}

std::vector<std::string> Search(const std::string &pattern, unsigned attributes = plat::FindFiles) {
  std::vector<std::string> names;
  plat::DirectorySearch search;
  plat::FoundEntry e;
  for (int ok = search.First(pattern, attributes, e); ok; ok = search.Next(e)) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

// Runs `body` in a child process; its result is the child's exit status.
int InChild(const std::function<int()> &body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// 1 when another process can take a classic fcntl write lock on the range.
int OtherProcessCanLock(const std::string &host, off_t start, off_t len) {
  return InChild([&] {
    int fd = ::open(host.c_str(), O_RDWR);
    if (fd < 0) return 2;
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = len;
    return fcntl(fd, F_SETLK, &fl) == 0 ? 1 : 0;
  });
}

TEST(PosixPaths, BackslashesSeparateAndDrivesMapToTheirVariable) {
  SKIP_UNLESS_POSIX();
  vt::TempDir dir;
  vt::MakeDirs(dir / "SUB");
  {
    plat::UniqueFile f = Open(dir.Board() + "SUB\\A.TXT", plat::Access::Write);
    ASSERT_TRUE(f);
    ASSERT_EQ(plat::WriteBytes(f.get(), "data", 4), 1);
    EXPECT_EQ(plat::CloseFile(f.release()), 1);
  }
  EXPECT_EQ(vt::ReadFile(dir / "SUB/A.TXT"), "data");

  vt::UnsetEnv("VLM_DRIVE_C");
  EXPECT_EQ(plat::HostPath("C:\\VLMNOSUCH\\"), "/VLMNOSUCH/") << "an unmapped drive is dropped";

  const std::string root = dir.Path().substr(0, dir.Path().size() - 1);
  for (const std::string &value : {root, dir.Path()}) {
    vt::SetEnv("VLM_DRIVE_Q", value);
    EXPECT_EQ(plat::HostPath("Q:\\SUB\\A.TXT"), dir.Path() + "SUB/A.TXT") << value;
    EXPECT_EQ(ReadBoardFile("q:\\SUB\\A.TXT"), "data") << "the variable is named by the upper-case letter";
    EXPECT_EQ(ExistFile("Q:\\SUB\\*.TXT"), 1);
  }
  vt::UnsetEnv("VLM_DRIVE_Q");
}

TEST(PosixPaths, LookupIgnoresCaseTakingTheFirstInByteOrderAndCreatesAsGiven) {
  SKIP_UNLESS_POSIX();
  vt::TempDir dir;
  vt::WriteFile(dir / "config.vlm", "lower");
  vt::WriteFile(dir / "Config.Vlm", "mixed");
  vt::WriteFile(dir / "CONFIG.vlm", "upper");
  EXPECT_EQ(ReadBoardFile(dir.Board() + "CONFIG.VLM"), "upper");
  vt::WriteFile(dir / "CONFIG.VLM", "exact");
  EXPECT_EQ(ReadBoardFile(dir.Board() + "CONFIG.VLM"), "exact") << "an exact match wins";
  EXPECT_EQ(ReadBoardFile(dir.Board() + "Config.Vlm"), "mixed");

  // Directory components too, and writes go to the file that is there.
  vt::MakeDirs(dir / "MsgBase");
  vt::WriteFile(dir / "MsgBase/area1.hdr", "old");
  EXPECT_EQ(FileSize(dir.Board() + "MSGBASE\\AREA1.HDR"), 3);
  {
    plat::UniqueFile f = Open(dir.Board() + "MSGBASE\\AREA1.HDR", plat::Access::Write, plat::Share::Exclusive);
    ASSERT_TRUE(f);
    ASSERT_EQ(plat::WriteBytes(f.get(), "new!", 4), 1);
    EXPECT_EQ(plat::CloseFile(f.release()), 1);
  }
  EXPECT_EQ(vt::ReadFile(dir / "MsgBase/area1.hdr"), "new!");

  // A name that matches nothing is created as given, in the matched directory.
  {
    plat::UniqueFile f = Open(dir.Board() + "MSGBASE\\New.Tmp", plat::Access::Write);
    ASSERT_TRUE(f);
  }
  EXPECT_EQ(Search(dir.Board() + "MSGBASE\\*"), (std::vector<std::string>{"New.Tmp", "area1.hdr"}));

  EXPECT_EQ(plat::RenameFile(dir.Board() + "MSGBASE\\NEW.TMP", dir.Board() + "MSGBASE\\Area2.Hdr"), 1);
  EXPECT_EQ(Search(dir.Board() + "msgbase\\*.*"), (std::vector<std::string>{"Area2.Hdr", "area1.hdr"}));
  EXPECT_EQ(plat::DeleteFile(dir.Board() + "MSGBASE\\AREA2.HDR"), 1);
  EXPECT_FALSE(vt::FileExists(dir / "MsgBase/Area2.Hdr"));
}

// A path that exists exactly, or whose directory does, is resolved with one
// or two lookups instead of one per component; the result must be the
// walk's in every case, with or without kept listings.
TEST(PosixPaths, ShortcutsGiveTheHostPathOfTheComponentWalk) {
  SKIP_UNLESS_POSIX();
  vt::TempDir dir;
  vt::MakeDirs(dir / "BBS/MSG/AREA1");
  vt::MakeDirs(dir / "BBS/files");
  vt::WriteFile(dir / "BBS/MSG/AREA1/MH00001.BBS", "");
  vt::WriteFile(dir / "BBS/FILE.TXT", "");
  vt::WriteFile(dir / "BBS/Mixed.Dat", "");
  vt::WriteFile(dir / "BBS/mixed.dat", "");
  ASSERT_EQ(symlink("MSG", (dir / "BBS/LINKDIR").c_str()), 0);
  ASSERT_EQ(symlink("missing", (dir / "BBS/DANGLING").c_str()), 0);
  const std::string root = dir.Path().substr(0, dir.Path().size() - 1);
  vt::SetEnv("VLM_DRIVE_Q", root);
  vt::UnsetEnv("VLM_DRIVE_Z");
  const std::vector<std::string> cases = {
      "BBS\\MSG\\AREA1\\MH00001.BBS", "BBS\\MSG\\AREA1\\MH00001.PKJ", "BBS\\MSG\\AREA1\\mh00001.bbs",
      "BBS\\msg\\Area1\\MH00001.BBS", "BBS\\FILES\\NEW.TXT", "BBS\\NOSUCH\\AREA1\\X", "BBS\\MIXED.DAT",
      "BBS\\mixed.DAT\\", "BBS\\MSG\\", "BBS\\msg\\", "BBS\\\\MSG\\\\\\AREA1", "BBS\\.\\MSG\\.\\AREA1\\",
      "BBS\\MSG\\..\\msg\\AREA1\\..", "BBS\\FILE.TXT\\", "BBS\\FILE.TXT\\.", "BBS\\file.txt\\..",
      "BBS\\FILE.TXT\\X", "BBS\\LINKDIR\\AREA1\\MH00001.BBS", "BBS\\LINKDIR\\area1\\X", "BBS\\linkdir\\..\\file.txt",
      "BBS\\DANGLING", "BBS\\dangling", "BBS\\DANGLING\\X", "BBS\\DANGLING\\"};
  std::vector<std::string> paths;
  for (const std::string &c : cases) {
    paths.push_back(dir.Board() + c);
    paths.push_back("Q:\\" + c);
    paths.push_back("q:" + c);
  }
  for (const char *p : {"Q:", "Q:\\", "Z:\\", "Z:\\NOSUCH\\X", "\\", "", ".", "..", "bbs", "NOSUCH", "BBS\\MSG\\area1",
                        "bbs\\msg\\AREA1\\NEW.PKJ", "BBS\\NEW.PKJ\\", ".\\Bbs\\"})
    paths.push_back(p);  // relative ones from within the board's directory

  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.Path().c_str()), 0);
  for (int scope = 0; scope < 2; ++scope) {
    std::unique_ptr<plat::ListingScope> listings(scope ? new plat::ListingScope : nullptr);
    for (const std::string &p : paths) EXPECT_EQ(plat::HostPath(p), plat::HostPathByWalk(p)) << p << " scope " << scope;
  }
  EXPECT_EQ(plat::HostPath("bbs\\msg\\AREA1\\NEW.PKJ"), "BBS/MSG/AREA1/NEW.PKJ");
  EXPECT_EQ(plat::HostPath("Q:\\BBS\\MIXED.DAT\\"), dir.Path() + "BBS/Mixed.Dat/");
  plat::FileIdentity id;
  EXPECT_NE(plat::IdentifyFile("BBS\\FILE.TXT\\", id), 1) << "a file is no directory";
  ASSERT_EQ(chdir(cwd), 0);
  vt::UnsetEnv("VLM_DRIVE_Q");
}

// With a scope, every directory is read once however many absent names are
// asked for, and what this process changes is found as without the scope.
TEST(PosixPaths, KeptListingsReadEachDirectoryOnceAndFollowTheLayersOwnChanges) {
  SKIP_UNLESS_POSIX();
  vt::TempDir dir;
  vt::MakeDirs(dir / "MSG");
  vt::WriteFile(dir / "MSG/area.hdr", "h");
  const std::string msg = dir.Board() + "MSG\\";
  long reads = plat::CaseBlindDirectoryReads();
  EXPECT_EQ(FileSize(msg + "AREA.PKJ"), -1);
  EXPECT_EQ(FileSize(msg + "AREA.HDR"), 1);
  EXPECT_EQ(plat::CaseBlindDirectoryReads() - reads, 2) << "without a scope every absent name reads";
  EXPECT_FALSE(plat::KnownAbsent(msg + "AREA.PKJ")) << "nothing is known without a scope";
  {
    plat::ListingScope listings;
    reads = plat::CaseBlindDirectoryReads();
    EXPECT_FALSE(plat::KnownAbsent(msg + "AREA.PKJ")) << "nor before the directory is read";
    for (const char *name : {"AREA.PKJ", "AREA.PKC", "AREA.NEW", "AREA.OLD"}) EXPECT_EQ(FileSize(msg + name), -1);
    EXPECT_EQ(FileSize(msg + "AREA.HDR"), 1);
    EXPECT_EQ(plat::CaseBlindDirectoryReads() - reads, 1);
    EXPECT_TRUE(plat::KnownAbsent(msg + "AREA.PKJ"));
    EXPECT_FALSE(plat::KnownAbsent(msg + "AREA.HDR")) << "a case variant answers";
    EXPECT_FALSE(plat::KnownAbsent(msg + "NOSUCH\\AREA.PKJ"));

    // Case variants made, renamed and deleted by the layer are found, and
    // a name they no longer hold is made as given.
    auto madeAsGiven = [&](const std::string &name) {
      return Open(msg + name, plat::Access::Write) && vt::FileExists(dir / ("MSG/" + name));
    };
    plat::UniqueFile f = Open(msg + "Area.Pkj", plat::Access::Write);
    ASSERT_TRUE(f);
    EXPECT_FALSE(plat::KnownAbsent(msg + "AREA.PKJ")) << "a name the layer made is in the listing";
    ASSERT_EQ(plat::WriteBytes(f.get(), "jj", 2), 1);
    ASSERT_EQ(plat::CloseFile(f.release()), 1);
    EXPECT_EQ(FileSize(msg + "AREA.PKJ"), 2);
    EXPECT_EQ(plat::RenameFile(msg + "AREA.PKJ", msg + "Area.Old"), 1);
    EXPECT_EQ(FileSize(msg + "AREA.OLD"), 2);
    EXPECT_TRUE(madeAsGiven("AREA.PKJ"));
    EXPECT_EQ(plat::RenameFileNoReplace(msg + "AREA.OLD", msg + "Area.New"), 1);
    EXPECT_EQ(FileSize(msg + "area.new"), 2);
    EXPECT_TRUE(madeAsGiven("AREA.OLD"));
    EXPECT_EQ(plat::DeleteFile(msg + "AREA.NEW"), 1);
    EXPECT_TRUE(madeAsGiven("AREA.NEW"));
    int error = -1;
    EXPECT_EQ(plat::DeleteFiles({msg + "area.new"}, &error), 1);
    EXPECT_TRUE(plat::KnownAbsent(msg + "AREA.NEW")) << "deleted together, gone from the listing too";
    EXPECT_EQ(plat::MakeDirectory(msg + "Sub"), 1);
    EXPECT_TRUE(Open(msg + "SUB\\X.TXT", plat::Access::Write));
    EXPECT_EQ(FileSize(msg + "sub\\x.txt"), 0);
    EXPECT_EQ(plat::DeleteFile(msg + "SUB\\X.TXT"), 1);
    EXPECT_EQ(plat::RemoveDirectory(msg + "SUB"), 1);
    EXPECT_EQ(plat::MakeDirectory(msg + "SUB"), 1);
    EXPECT_TRUE(vt::FileExists(dir / "MSG/SUB"));

    // Another text for the same directory shares its listing.
    EXPECT_TRUE(Open(dir.Board() + "MSG\\..\\MSG\\Late.Dat", plat::Access::Write));
    EXPECT_EQ(FileSize(msg + "LATE.DAT"), 0);

    // The one limit: a variant made by someone else is not seen by the fallback.
    vt::WriteFile(dir / "MSG/Other.Dat", "o");
    EXPECT_EQ(FileSize(msg + "OTHER.DAT"), -1);
    EXPECT_EQ(plat::CaseBlindDirectoryReads() - reads, 2) << "MSG and Sub, once each";
  }
  plat::ListingScope again;
  reads = plat::CaseBlindDirectoryReads();
  EXPECT_EQ(FileSize(msg + "OTHER.DAT"), 1) << "a new scope reads afresh";
  EXPECT_EQ(FileSize(msg + "AREA.PKC"), -1);
  EXPECT_EQ(plat::CaseBlindDirectoryReads() - reads, 1);
}

TEST(PosixPaths, HiddenFilesAreNeverFoundAndLinksToRegularFilesCount) {
  SKIP_UNLESS_POSIX();
  vt::TempDir dir;
  vt::WriteFile(dir / ".hidden", "secret");
  vt::WriteFile(dir / "target.dat", "1234");
  vt::MakeDirs(dir / "SUBDIR");
  ASSERT_EQ(symlink("target.dat", (dir / "LINK.DAT").c_str()), 0);
  ASSERT_EQ(symlink("SUBDIR", (dir / "DIRLINK.DAT").c_str()), 0);
  ASSERT_EQ(symlink("missing.dat", (dir / "DANGLING.DAT").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "PIPE.DAT").c_str(), 0600), 0);

  EXPECT_EQ(ExistFile(dir.Board() + ".hidden"), 0);
  EXPECT_EQ(FileSize(dir.Board() + ".HIDDEN"), -1);
  EXPECT_EQ(Search(dir.Board() + "*"), (std::vector<std::string>{"LINK.DAT", "target.dat"}));
  EXPECT_EQ(Search(dir.Board() + "*", plat::FindDirectories),
            (std::vector<std::string>{"DIRLINK.DAT", "LINK.DAT", "SUBDIR", "target.dat"}));

  EXPECT_EQ(FileSize(dir.Board() + "LINK.DAT"), 4);
  for (const char *name : {"DIRLINK.DAT", "DANGLING.DAT", "PIPE.DAT"})
    EXPECT_EQ(ExistFile(dir.Board() + name), 0) << name << " is not an ordinary file";
}

TEST(PosixTextMode, LinesAreWrittenWithCrLfAndReadBackAsOnTheBoardsPlatform) {
  SKIP_UNLESS_POSIX();
  vt::TempDir dir;
  const std::string name = dir.Board() + "LIST.TXT";
  for (plat::Access access : {plat::Access::Write, plat::Access::Append}) {
    plat::UniqueFile f = Open(name, access, plat::Share::DenyWrite, plat::Mode::Text);
    ASSERT_TRUE(f);
    std::fputs("a\nb\n", f.get());
    EXPECT_EQ(plat::CloseFile(f.release()), 1);
  }
  EXPECT_EQ(vt::ReadFile(dir / "LIST.TXT"), "a\r\nb\r\na\r\nb\r\n");

  vt::WriteFile(dir / "IN.TXT", "one\r\ntwo\rthree\r\n\r\nlast\r");
  EXPECT_EQ(ReadBoardFile(dir.Board() + "IN.TXT", plat::Mode::Text), "one\ntwo\rthree\n\nlast\r")
      << "only a CR before LF is dropped";
  EXPECT_EQ(ReadBoardFile(dir.Board() + "IN.TXT"), "one\r\ntwo\rthree\r\n\r\nlast\r") << "binary mode is untouched";

  vt::WriteFile(dir / "EOF.TXT", "x\r\ny\r\x1Anot read\r\n");
  EXPECT_EQ(ReadBoardFile(dir.Board() + "EOF.TXT", plat::Mode::Text), "x\ny\r");

  // A CR LF split across the layer's raw reads is still one line end.
  for (size_t lead : {65535u, 65536u, 8191u}) {
    vt::WriteFile(dir / "BIG.TXT", std::string(lead, 'x') + "\r\ntail\r\n");
    EXPECT_EQ(ReadBoardFile(dir.Board() + "BIG.TXT", plat::Mode::Text), std::string(lead, 'x') + "\ntail\n")
        << lead;
  }

  // Line by line, as the scripts are read.
  vt::WriteFile(dir / "LINES.TXT", "first\r\nsecond\r\n");
  plat::UniqueFile f = Open(dir.Board() + "LINES.TXT", plat::Access::Read, plat::Share::DenyNone, plat::Mode::Text);
  ASSERT_TRUE(f);
  char line[64];
  ASSERT_NE(std::fgets(line, sizeof line, f.get()), nullptr);
  EXPECT_STREQ(line, "first\n");
  ASSERT_NE(std::fgets(line, sizeof line, f.get()), nullptr);
  EXPECT_STREQ(line, "second\n");
  EXPECT_EQ(std::fgets(line, sizeof line, f.get()), nullptr);
}

TEST(PosixLocks, RangeLockConflictsWithOtherProcessesAndSurvivesAnotherClose) {
  SKIP_UNLESS_POSIX();
  vt::TempDir dir;
  vt::WriteFile(dir / "SYSINFO.BBS", std::string(168, '\0'));
  const std::string board = dir.Board() + "SYSINFO.BBS";
  const std::string host = dir / "SYSINFO.BBS";

  plat::UniqueFile f = Open(board, plat::Access::ReadWrite);
  ASSERT_TRUE(f);
  ASSERT_EQ(plat::LockRange(f.get(), 10, 20), 1);
  EXPECT_EQ(OtherProcessCanLock(host, 15, 1), 0);
  EXPECT_EQ(OtherProcessCanLock(host, 0, 10), 1) << "bytes outside the range stay free";
  EXPECT_EQ(InChild([&] {
              plat::UniqueFile g = Open(board, plat::Access::ReadWrite);
              return g ? plat::LockRange(g.get(), 0, 168) : 2;
            }),
            0)
      << "another of our programs is refused at once";

  {
    // Another stream of the same file in this process is refused too, and its
    // close must not drop the lock held through the first one.
    plat::UniqueFile g = Open(board, plat::Access::ReadWrite);
    ASSERT_TRUE(g);
    EXPECT_EQ(plat::LockRange(g.get(), 0, 168), 0);
  }
  EXPECT_EQ(OtherProcessCanLock(host, 15, 1), 0);

  ASSERT_EQ(plat::UnlockRange(f.get(), 10, 20), 1);
  EXPECT_EQ(OtherProcessCanLock(host, 15, 1), 1);
}

TEST(PosixSharing, DenyingOpensRefuseEachOtherWithoutTouchingTheFile) {
  SKIP_UNLESS_POSIX();
  vt::TempDir dir;
  vt::WriteFile(dir / "AREA.HDR", "headers");
  const std::string board = dir.Board() + "AREA.HDR";
  using plat::Access, plat::Share;
  {
    plat::UniqueFile held = Open(board, Access::ReadWrite, Share::Exclusive);
    ASSERT_TRUE(held);
    errno = 0;
    EXPECT_FALSE(Open(board, Access::Read, Share::DenyWrite));
    EXPECT_EQ(errno, EACCES);
    EXPECT_FALSE(Open(board, Access::Write, Share::Exclusive));
    EXPECT_EQ(vt::ReadFile(dir / "AREA.HDR"), "headers") << "a refused open must not empty the file";
    EXPECT_EQ(InChild([&] { return Open(board, Access::ReadWrite, Share::DenyWrite) ? 1 : 0; }), 0);
    EXPECT_TRUE(Open(board, Access::Read, Share::DenyNone)) << "an open that denies nothing is not refused";
  }
  {
    plat::UniqueFile reader = Open(board, Access::Read, Share::DenyWrite);
    ASSERT_TRUE(reader);
    EXPECT_TRUE(Open(board, Access::Read, Share::DenyWrite)) << "two readers that deny writing agree";
    EXPECT_FALSE(Open(board, Access::ReadWrite, Share::DenyWrite));
    EXPECT_FALSE(Open(board, Access::Read, Share::Exclusive));
  }
  EXPECT_TRUE(Open(board, Access::ReadWrite, Share::Exclusive)) << "closing releases the file";
}

TEST(PosixErrors, ErrorTextsAreTheCLibrarysStrerror) {
  SKIP_UNLESS_POSIX();
  vt::TempDir dir;
  errno = 0;
  EXPECT_FALSE(Open(dir.Board() + "MISSING.BBS", plat::Access::Read));
  EXPECT_STREQ(std::strerror(errno), "No such file or directory");

  vt::MakeDirs(dir / "ADIR");
  EXPECT_FALSE(Open(dir.Board() + "ADIR", plat::Access::Read));
  EXPECT_STREQ(std::strerror(errno), "Is a directory");

  EXPECT_FALSE(Open(dir.Board() + std::string(300, 'N'), plat::Access::Write));
  EXPECT_STREQ(std::strerror(errno), "File name too long");
  EXPECT_FALSE(vt::FileExists(dir / std::string(255, 'N'))) << "an overlong name is not cut";

  vt::WriteFile(dir / "HELD", "");
  plat::UniqueFile held = Open(dir.Board() + "HELD", plat::Access::ReadWrite, plat::Share::Exclusive);
  ASSERT_TRUE(held);
  EXPECT_FALSE(Open(dir.Board() + "HELD", plat::Access::ReadWrite, plat::Share::Exclusive));
  EXPECT_STREQ(std::strerror(errno), "Permission denied");

  testing::internal::CaptureStdout();
  OpenSystemLog(dir.Board() + "NODIR\\X.LOG");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "No such file or directory opening " + dir.Board() + "NODIR\\X.LOG")
      << "the board path is printed as it was built";
}

TEST(PosixFiles, ModificationDateIsTheLocalTimePacked) {
  SKIP_UNLESS_POSIX();
  vt::TempDir dir;
  vt::WriteFile(dir / "F.BBS", "x");
  const time_t when = 1700000000;  // an arbitrary moment, shown in the host's zone
  struct timespec times[2] = {{when, 0}, {when + 1, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir / "F.BBS").c_str(), times, 0), 0);
  struct tm tm;
  time_t modified = when + 1;
  ASSERT_NE(localtime_r(&modified, &tm), nullptr);
  uint32_t expected = (uint32_t(tm.tm_year + 1900 - 1980) << 25) | (uint32_t(tm.tm_mon + 1) << 21) |
                      (uint32_t(tm.tm_mday) << 16) | (uint32_t(tm.tm_hour) << 11) | (uint32_t(tm.tm_min) << 5) |
                      uint32_t(tm.tm_sec / 2);
  plat::UniqueFile f = Open(dir.Board() + "F.BBS", plat::Access::Read);
  ASSERT_TRUE(f);
  uint32_t packed = 0;
  ASSERT_EQ(plat::FileModifiedDos(f.get(), packed), 1);
  EXPECT_EQ(packed, expected);
}

#ifdef VLM_TEST_HOOKS
// The fuzz targets' write jail: every disk change outside it is refused,
// however the path climbs out; reading is not its business.
TEST(PosixTestHooks, WriteJailRefusesChangesOutsideItsDirectory) {
  SKIP_UNLESS_POSIX();
  vt::TempDir dir;
  vt::MakeDirs(dir / "JAIL/SUB");
  vt::WriteFile(dir / "OUT.TXT", "kept");
  vt::WriteFile(dir / "JAIL/IN.TXT", "in");
  plat::SetWriteJail(dir.Path() + "JAIL");
  const std::string jail = dir.Board() + "JAIL\\";
  EXPECT_EQ(plat::DeleteFile(dir.Board() + "OUT.TXT"), 0);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(plat::DeleteFile(jail + "SUB\\..\\..\\OUT.TXT"), 0);
  EXPECT_EQ(plat::RenameFile(jail + "IN.TXT", jail + "..\\MOVED.TXT"), 0);
  EXPECT_FALSE(Open(jail + "..\\NEW.TXT", plat::Access::Write));
  EXPECT_FALSE(Open(dir.Board() + "JAILX\\..\\NEW.TXT", plat::Access::Append));
  EXPECT_EQ(plat::MakeDirectory(dir.Board() + "JAIL2"), 0);
  EXPECT_EQ(ReadBoardFile(dir.Board() + "OUT.TXT"), "kept") << "reading is allowed";
  EXPECT_EQ(plat::RenameFile(jail + "IN.TXT", jail + "SUB\\.\\IN.TXT"), 1);
  EXPECT_EQ(plat::MakeDirectory(jail + "NEWDIR"), 1);
  plat::SetWriteJail("");
  EXPECT_EQ(plat::DeleteFile(dir.Board() + "OUT.TXT"), 1);
}
#endif

}  // namespace
