// The platform layer's file operations as every host must provide them:
// results that report failure, the directory search and the fault hook.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform.h"
#include "test_support.h"

namespace {

plat::UniqueFile OpenWrite(const std::string &name) {
  return plat::UniqueFile(plat::OpenFile(name, plat::Access::Write, plat::Share::DenyWrite, plat::Mode::Binary));
}

TEST(Platform, FailedOperationsAreReportedNeverAssumed) {
  vt::TempDir dir;
  const std::string b = dir.Board();
  EXPECT_EQ(plat::DeleteFile(b + "MISSING.BBS"), 0);
  EXPECT_EQ(plat::RenameFile(b + "MISSING.BBS", b + "OTHER.BBS"), 0);
  EXPECT_FALSE(vt::FileExists(dir / "OTHER.BBS"));

  // The forms that take a missing file as a result tell it from a failure.
  EXPECT_EQ(plat::DeleteFileIfPresent(b + "MISSING.BBS"), plat::kNoSuchFile);
  EXPECT_EQ(plat::RenameFileIfPresent(b + "MISSING.BBS", b + "OTHER.BBS"), plat::kNoSuchFile);
  vt::WriteFile(dir / "HERE.BBS", "x");
  EXPECT_EQ(plat::RenameFileIfPresent(b + "HERE.BBS", b + "THERE.BBS"), 1);
  EXPECT_EQ(plat::DeleteFileIfPresent(b + "THERE.BBS"), 1);
  EXPECT_FALSE(vt::FileExists(dir / "THERE.BBS"));
  EXPECT_EQ(plat::DeleteFileIfPresent(b + std::string(300, 'X')), 0) << "a name the board cannot hold fails";

  ASSERT_EQ(plat::MakeDirectory(b + "ATTACH\\"), 1);
  vt::WriteFile(dir / "ATTACH/FILE.ZIP", "zip");
  EXPECT_EQ(plat::RemoveDirectory(b + "ATTACH\\"), 0) << "only empty directories are removed";
  EXPECT_EQ(plat::DeleteFile(b + "ATTACH"), 0) << "a directory is not deleted as a file";
  EXPECT_EQ(plat::DeleteFile(b + "ATTACH\\FILE.ZIP"), 1);
  EXPECT_EQ(plat::RemoveDirectory(b + "ATTACH\\"), 1);
  EXPECT_FALSE(vt::FileExists(dir / "ATTACH"));

  plat::UniqueFile f = OpenWrite(b + "CUT.BIN");
  ASSERT_TRUE(f);
  ASSERT_EQ(plat::WriteBytes(f.get(), "0123456789", 10), 1);
  ASSERT_EQ(plat::TruncateFile(f.get(), 4), 1) << "buffered bytes are written before the cut";
  EXPECT_EQ(plat::FileLength(f.get()), 4);
  EXPECT_EQ(plat::CloseFile(f.release()), 1);
  EXPECT_EQ(vt::ReadFile(dir / "CUT.BIN"), "0123");
}

TEST(Platform, DirectorySearchReturnsNamesSizesAndDirectoriesOnRequest) {
  vt::TempDir dir;
  vt::WriteFile(dir / "A.BBS", "12");
  vt::WriteFile(dir / "B.BBS", "1234");
  vt::MakeDirs(dir / "C.BBS");

  plat::DirectorySearch search;
  plat::FoundEntry e;
  int files = 0;
  int64_t bytes = 0;
  for (int ok = search.First(dir.Board() + "?.bbs", plat::FindFiles, e); ok; ok = search.Next(e)) {
    EXPECT_FALSE(e.isDirectory) << e.name;
    ++files;
    bytes += e.size;
  }
  EXPECT_EQ(files, 2);
  EXPECT_EQ(bytes, 6);
  EXPECT_EQ(search.Next(e), 0) << "the end stays the end";

  int dirs = 0;
  for (int ok = search.First(dir.Board() + "*.BBS", plat::FindDirectories, e); ok; ok = search.Next(e))
    if (e.isDirectory) {
      ++dirs;
      EXPECT_EQ(e.name, "C.BBS");
    }
  EXPECT_EQ(dirs, 1);
  EXPECT_EQ(search.First(dir.Board() + "C.BBS", plat::FindDirectories, e), 1);
  EXPECT_TRUE(e.isDirectory);
  EXPECT_EQ(search.First(dir.Board() + "*.MSG", plat::FindDirectories, e), 0);
}

TEST(Platform, GatheredAndPositionedWritesLandWhereTheStreamStands) {
  vt::TempDir dir;
  plat::UniqueFile f = OpenWrite(dir.Board() + "RUNS.BIN");
  ASSERT_TRUE(f);
  ASSERT_EQ(plat::WriteBytes(f.get(), "head", 4), 1);
  // More runs than one system call takes, empty ones among them.
  std::string source, expected = "head";
  for (int i = 0; i < 256; ++i) source += char('a' + i % 26);
  std::vector<plat::ByteSpan> runs;
  for (size_t i = 0; i < 2500; ++i) {
    size_t at = i % 200, size = i % 7;
    runs.push_back({source.data() + at, size});
    expected.append(source, at, size);
  }
  ASSERT_EQ(plat::WriteGathered(f.get(), runs.data(), runs.size()), 1);
  ASSERT_EQ(plat::WriteBytes(f.get(), "tail", 4), 1) << "the stream goes on after the gathered bytes";
  expected += "tail";
  ASSERT_EQ(plat::WriteBytesAt(f.get(), 2, "XY", 2), 1);
  expected.replace(2, 2, "XY");
  EXPECT_EQ(plat::CloseFile(f.release()), 1);
  EXPECT_EQ(vt::ReadFile(dir / "RUNS.BIN"), expected);

  // Scattered pieces: through a mapping inside the file (it spans pages),
  // by calls past its end (which lengthen it), over bytes still in the
  // stream's buffer, and nothing else touched.
  f.reset(plat::OpenFile(dir.Board() + "RUNS.BIN", plat::Access::ReadWrite, plat::Share::DenyNone, plat::Mode::Binary));
  ASSERT_TRUE(f);
  ASSERT_EQ(std::fseek(f.get(), 0, SEEK_END), 0);
  ASSERT_EQ(plat::WriteBytes(f.get(), "buffered", 8), 1);
  expected += "buffered";
  std::vector<plat::PlacedBytes> pieces;
  for (size_t at = 1; at + 3 < expected.size(); at += 1001) pieces.push_back({int64_t(at), "123", 3});
  pieces.push_back({int64_t(expected.size()) - 4, "ED", 2});
  pieces.push_back({int64_t(expected.size()) + 2, "past", 4});
  for (const plat::PlacedBytes &p : pieces) {
    if (expected.size() < size_t(p.offset) + p.size) expected.resize(size_t(p.offset) + p.size, '\0');
    expected.replace(size_t(p.offset), p.size, static_cast<const char *>(p.data), p.size);
  }
  ASSERT_EQ(plat::WriteScattered(f.get(), pieces.data(), pieces.size()), 1);
  // Positioned reads see what was written, and leave the stream where it was.
  char back[4] = {};
  ASSERT_EQ(std::fseek(f.get(), 3, SEEK_SET), 0);
  ASSERT_EQ(plat::ReadBytesAt(f.get(), int64_t(expected.size()) - 4, back, 4), 1);
  EXPECT_EQ(std::string(back, 4), expected.substr(expected.size() - 4));
  EXPECT_EQ(plat::ReadBytesAt(f.get(), int64_t(expected.size()) - 2, back, 4), 0) << "fewer bytes than asked";
  EXPECT_EQ(std::ftell(f.get()), 3);
  EXPECT_EQ(plat::CloseFile(f.release()), 1);
  EXPECT_EQ(vt::ReadFile(dir / "RUNS.BIN"), expected);
}

TEST(Platform, FaultHookFailsTheChosenDiskOperation) {
  vt::TempDir dir;
  vt::WriteFile(dir / "READ.BBS", "r");
  plat::SetFaultInjection(3, plat::FaultAction::FaultFail);
  plat::UniqueFile f = OpenWrite(dir.Board() + "OUT.BIN");  // 1
  ASSERT_TRUE(f);
  {
    plat::UniqueFile r(
        plat::OpenFile(dir.Board() + "READ.BBS", plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
    EXPECT_TRUE(r) << "reading changes nothing and is not counted";
  }
  EXPECT_EQ(plat::WriteBytes(f.get(), "a", 1), 1);  // 2
  errno = 0;
  EXPECT_EQ(plat::WriteBytes(f.get(), "b", 1), 0);  // 3
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(plat::WriteBytes(f.get(), "c", 1), 1);  // 4
  EXPECT_EQ(plat::FaultOperationCount(), 4);
  EXPECT_EQ(plat::CloseFile(f.release()), 1);  // 5
  plat::SetFaultInjection(0, plat::FaultAction::FaultFail);
  EXPECT_EQ(vt::ReadFile(dir / "OUT.BIN"), "ac");
}

// Files cut together: each by its own result, counted in the order given.
TEST(Platform, FilesCutTogetherReportEachResult) {
  vt::TempDir dir;
  std::vector<plat::UniqueFile> owned;
  std::vector<FILE *> files;
  for (int i = 0; i < 9; ++i) {
    owned.push_back(OpenWrite(dir.Board() + "CUT" + std::to_string(i) + ".BIN"));
    ASSERT_TRUE(owned.back());
    ASSERT_EQ(plat::WriteBytes(owned.back().get(), "buffered", 8), 1);
    files.push_back(owned.back().get());
  }
  plat::SetFaultInjection(4, plat::FaultAction::FaultFail);  // the fourth file's cut
  std::vector<int> errors(files.size(), -1);
  std::vector<int64_t> lengths(files.size(), 3);
  lengths[8] = 10;
  EXPECT_EQ(plat::TruncateFiles(files.data(), lengths.data(), files.size(), errors.data()), 0);
  plat::SetFaultInjection(0, plat::FaultAction::FaultFail);
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(errors[i], i == 3 ? EIO : 0) << i;
    ASSERT_EQ(plat::CloseFile(owned[i].release()), 1);
    std::string expected = i == 3 ? "buffered" : i == 8 ? std::string("buffered\0\0", 10) : "buf";
    EXPECT_EQ(vt::ReadFile(dir / ("CUT" + std::to_string(i) + ".BIN")), expected) << i;
  }
  EXPECT_EQ(plat::TruncateFiles(nullptr, nullptr, 0, nullptr), 1);
}

// Files deleted together: each by its own result.
TEST(Platform, FilesDeletedTogetherReportEachResult) {
  vt::TempDir dir;
  const std::string b = dir.Board();
  for (const char *name : {"ONE.BIN", "TWO.BIN", "FOUR.BIN"}) vt::WriteFile(dir / name, "x");
  std::vector<std::string> paths = {b + "ONE.BIN", b + "TWO.BIN", b + "THREE.BIN", b + "FOUR.BIN"};
  std::vector<int> errors(paths.size(), -1);
  EXPECT_EQ(plat::DeleteFiles(paths, errors.data()), 0);
  EXPECT_EQ(errors, (std::vector<int>{0, 0, ENOENT, 0}));
  for (const std::string &p : paths) EXPECT_EQ(plat::DeleteFileIfPresent(p), plat::kNoSuchFile) << p;
}

}  // namespace
