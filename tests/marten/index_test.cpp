// The index routines in-process: the name rules of the build, the sort order,
// the pointer table, and write failures made with the fault hook.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "index_record.h"
#include "marten.h"
#include "platform.h"
#include "records.h"
#include "startup.h"
#include "test_support.h"
#include "text.h"

namespace {

std::string Name12(const std::string &name) {
  uint8_t field[12];
  if (!FastIndexName(name, field)) return "(left out)";
  return std::string(reinterpret_cast<const char *>(field), 12);
}


std::vector<int32_t> Pointers(const std::string &bytes) {
  std::vector<int32_t> table(bytes.size() / 4);
  std::memcpy(table.data(), bytes.data(), table.size() * 4);
  return table;
}

// The globals of a started program, pointed at a temporary board; the index
// files go into the board's directory as well.
class MartenIndex : public ::testing::Test {
 protected:
  void SetUp() override {
    SystemPath = dir.Board();
    Node = 1;
    std::memset(&Config, 0, sizeof Config);
    CToPas(dir.Board(), Config.FastIndexPath);
    FastIndexPath = dir.Board();
    plat::SetFaultInjection(0, plat::FaultAction::FaultFail);
  }
  void TearDown() override { plat::SetFaultInjection(0, plat::FaultAction::FaultFail); }

  std::string Sort() {
    testing::internal::CaptureStdout();
    SortFileIndex();
    return testing::internal::GetCapturedStdout();
  }
  std::string Build() {
    testing::internal::CaptureStdout();
    ProcessFilePath();
    return testing::internal::GetCapturedStdout();
  }
  void WriteAreas(const std::vector<std::string> &paths) {
    std::string bytes;
    for (const std::string &p : paths) bytes += vt::FileAreaBytes(p);
    vt::WriteFile(dir / "FILEPATH.VLM", bytes);
  }

  vt::TempDir dir;
};

TEST(FastIndexNameTest, FitsTheEightPlusFourFormOrIsLeftOut) {
  EXPECT_EQ(Name12("readme.txt"), "README  .TXT");
  EXPECT_EQ(Name12("README"), "README      ");
  EXPECT_EQ(Name12("A.B"), "A       .B  ");
  EXPECT_EQ(Name12("SETUP12.EXE"), "SETUP12 .EXE");
  EXPECT_EQ(Name12("12345678.123"), "12345678.123");
  EXPECT_EQ(Name12("x."), "X       .   ");
  // The extension runs from the first dot: A.B.C keeps .B.C whole.
  EXPECT_EQ(Name12("A.B.C"), "A       .B.C");
  EXPECT_EQ(Name12("ABC.D"), "ABC     .D  ");
  // Only a-z change case; other bytes are kept as stored.
  EXPECT_EQ(Name12("\xe9t\xe9.txt"), "\xe9T\xe9     .TXT");

  for (const char *name : {"FILES.BBS", "files.bak", "SFFILES.BBS", "sffiles.Bbs"})
    EXPECT_EQ(Name12(name), "(left out)") << name;
  EXPECT_EQ(Name12("FILES.BB"), "FILES   .BB ") << "only the exact listing names are left out";

  EXPECT_EQ(Name12("INDEX.HTML"), "(left out)") << "extension of five with its dot";
  EXPECT_EQ(Name12("VERYLONGNAME"), "(left out)") << "base of twelve";
  EXPECT_EQ(Name12("123456789.A"), "(left out)") << "base of nine";
  EXPECT_EQ(Name12("MY LONG NAME.TXT"), "(left out)") << "more than twelve characters";
  EXPECT_EQ(Name12("ABCDEFGH.IJKL"), "(left out)") << "thirteen characters";
}

TEST_F(MartenIndex, DirectoryYieldsOnlyOrdinaryFilesWithShortNames) {
  std::string area = dir / "AREA";
  vt::MakeDirs(area + "/SUB");
  for (const char *name : {"readme.txt", "FILES.BBS", "files.bak", "SFFILES.BBS", "INDEX.HTML", "VERYLONGNAME",
                           "MY LONG NAME.TXT", ".hidden", "SUB/INNER.TXT"})
    vt::WriteFile(area + "/" + name, std::string(10, 'x'));
  vt::WriteFile(area + "/readme.txt", std::string(1500, 'r'));
  vt::MakeDirs(area + "/.HIDDIR");
  vt::WriteFile(area + "/.HIDDIR/X.TXT", "x");

  plat::UniqueFile index(plat::OpenFile(dir.Board() + "OUT.BBS", plat::Access::Write, plat::Share::Exclusive,
                                        plat::Mode::Binary));
  ASSERT_TRUE(index);
  TotalKilobytes = TotalBytes = 0;
  EXPECT_EQ(AddDirectory(dir.Board() + "AREA\\", 7, index.get()), 1);
  ASSERT_EQ(plat::CloseFile(index.release()), 1);
  EXPECT_EQ(vt::ReadFile(dir / "OUT.BBS"), Record("README  .TXT", 7, 1500));
  EXPECT_EQ(TotalKilobytes, 1);
  EXPECT_EQ(TotalBytes, 476);

  // A missing directory adds nothing and is no error.
  TotalKilobytes = TotalBytes = 0;
  index.reset(plat::OpenFile(dir.Board() + "OUT.BBS", plat::Access::Write, plat::Share::Exclusive,
                             plat::Mode::Binary));
  EXPECT_EQ(AddDirectory(dir.Board() + "NOWHERE\\", 1, index.get()), 1);
  ASSERT_EQ(plat::CloseFile(index.release()), 1);
  EXPECT_EQ(vt::ReadFile(dir / "OUT.BBS"), "");
  EXPECT_EQ(TotalKilobytes + TotalBytes, 0);
}

TEST_F(MartenIndex, SizesOfTwoGigabytesAndMoreNeverLowerTheTotal) {
  vt::MakeDirs(dir / "AREA");
  const uintmax_t big = (uintmax_t{1} << 31) + 5000;  // sparse: no disk space used
  vt::WriteFile(dir / "AREA/BIG.ISO", "");
  std::filesystem::resize_file(dir / "AREA/BIG.ISO", big);
  plat::UniqueFile index(plat::OpenFile(dir.Board() + "OUT.BBS", plat::Access::Write, plat::Share::Exclusive,
                                        plat::Mode::Binary));
  TotalKilobytes = TotalBytes = 0;
  EXPECT_EQ(AddDirectory(dir.Board() + "AREA\\", 1, index.get()), 1);
  ASSERT_EQ(plat::CloseFile(index.release()), 1);
  // The record keeps the low 32 bits; the total counts them unsigned.
  EXPECT_EQ(vt::ReadFile(dir / "OUT.BBS"), Record("BIG     .ISO", 1, static_cast<int32_t>(uint32_t(big))));
  EXPECT_EQ(TotalKilobytes, 2097152 + 4);
  EXPECT_EQ(TotalBytes, 5000 % 1024);
}

TEST(CompFastIndexTest, NameBytesUnsignedThenAreaNothingElse) {
  FastIndexRecord a{}, b{};
  std::memcpy(a.Name, "AB      .ZIP", 12);
  std::memcpy(b.Name, "ABC     .ZIP", 12);
  EXPECT_EQ(CompFastIndex(&a, &b), ' ' - 'C');
  EXPECT_EQ(CompFastIndex(&b, &a), 'C' - ' ');
  std::memcpy(b.Name, "\xC1" "B      .ZIP", 12);
  EXPECT_LT(CompFastIndex(&a, &b), 0) << "bytes above 127 sort after letters";

  std::memcpy(b.Name, a.Name, 12);
  a.Area = 12;
  b.Area = 3;
  a.Size = 1;
  b.Size = 999;
  b.Reserved = 5;
  EXPECT_EQ(CompFastIndex(&a, &b), 1);
  EXPECT_EQ(CompFastIndex(&b, &a), -1);
  b.Area = 12;
  EXPECT_EQ(CompFastIndex(&a, &b), 0) << "size and reserved byte play no part";
  a.Area = 0xFFFF;
  EXPECT_EQ(CompFastIndex(&a, &b), 1) << "areas compare unsigned";
}

TEST_F(MartenIndex, SortOrdersByNameThenAreaAndASecondSortChangesNothing) {
  std::string unsorted = Record("~Y      .ZIP", 1, 1) + Record("ABC1    .ZIP", 1, 2) +
                         Record("ABC     .ZIP", 12, 3) + Record("_X      .ZIP", 1, 4) +
                         Record("AB      .ZIP", 1, 5) + Record("ABC     .ZIP", 3, 6) + Record("Z       .ZIP", 2, 7);
  vt::WriteFile(dir / "FFIDX.BBS", unsorted);
  EXPECT_EQ(Sort(), "Sorting Fast Find Index...\n\n");
  std::string sorted = Record("AB      .ZIP", 1, 5) + Record("ABC     .ZIP", 3, 6) +
                       Record("ABC     .ZIP", 12, 3) + Record("ABC1    .ZIP", 1, 2) +
                       Record("Z       .ZIP", 2, 7) + Record("_X      .ZIP", 1, 4) + Record("~Y      .ZIP", 1, 1);
  EXPECT_EQ(vt::ReadFile(dir / "FFIDX.BBS"), sorted);

  std::vector<int32_t> table = Pointers(vt::ReadFile(dir / "FFPTR.BBS"));
  ASSERT_EQ(table.size(), 730u);
  std::vector<int32_t> expected(730, -1);
  expected[2] = 0;             // A then B
  expected[25 * 28 + 0] = 4;   // Z then blank
  expected[728] = 5;           // _ is the first above Z
  expected[729] = 7;
  EXPECT_EQ(table, expected);

  std::string pointers = vt::ReadFile(dir / "FFPTR.BBS");
  EXPECT_EQ(Sort(), "Sorting Fast Find Index...\n\n");
  EXPECT_EQ(vt::ReadFile(dir / "FFIDX.BBS"), sorted);
  EXPECT_EQ(vt::ReadFile(dir / "FFPTR.BBS"), pointers);
}

TEST_F(MartenIndex, SortOfEmptyAndPartialIndexes) {
  vt::WriteFile(dir / "FFIDX.BBS", "");
  EXPECT_EQ(Sort(), "Sorting Fast Find Index...\n\n");
  std::vector<int32_t> expected(730, -1);
  expected[729] = 0;
  EXPECT_EQ(vt::ReadFile(dir / "FFPTR.BBS").size(), 2920u);
  EXPECT_EQ(Pointers(vt::ReadFile(dir / "FFPTR.BBS")), expected);
  EXPECT_EQ(vt::ReadFile(dir / "FFIDX.BBS"), "");

  // 45 bytes: two records sorted, the five bytes of a third stay behind them.
  const std::string tail = "\x0c" "QQQQ";
  vt::WriteFile(dir / "FFIDX.BBS", Record("B       .ZIP", 1, 1) + Record("A       .TXT", 1, 2) + tail);
  EXPECT_EQ(Sort(), "Sorting Fast Find Index...\n\n");
  EXPECT_EQ(vt::ReadFile(dir / "FFIDX.BBS"), Record("A       .TXT", 1, 2) + Record("B       .ZIP", 1, 1) + tail);
  std::vector<int32_t> table = Pointers(vt::ReadFile(dir / "FFPTR.BBS"));
  EXPECT_EQ(table[0], 0);
  EXPECT_EQ(table[28], 1);
  EXPECT_EQ(table[729], 2);

  // A missing index: the opening message, the empty line, and the pointer
  // table of the last sort stays.
  std::string before = vt::ReadFile(dir / "FFPTR.BBS");
  std::filesystem::remove(dir / "FFIDX.BBS");
  EXPECT_EQ(Sort(), "Sorting Fast Find Index...\nNo such file or directory opening " + dir.Board() +
                        "FFIDX.BBS\n\n");
  EXPECT_EQ(vt::ReadFile(dir / "FFPTR.BBS"), before);
}

TEST_F(MartenIndex, PointerTableHoldsTheFirstRecordOfEachLetterPair) {
  auto table = [&](const std::vector<std::string> &names) {
    std::vector<FastIndexRecord> records(names.size());
    for (size_t i = 0; i < names.size(); ++i) std::memcpy(records[i].Name, names[i].data(), 12);
    testing::internal::CaptureStdout();
    CreateIndexPointer(records.data(), static_cast<long>(records.size()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    std::string bytes = vt::ReadFile(dir / "FFPTR.BBS");
    EXPECT_EQ(bytes.size(), 2920u);
    EXPECT_EQ(Pointers(bytes), std::vector<int32_t>(FastIndexPointers, FastIndexPointers + 730));
    return Pointers(bytes);
  };

  std::vector<int32_t> t = table({"1ST     .TXT", "AB      .ZIP", "AB      .ZIP", "B       .ZIP"});
  EXPECT_EQ(t[2], 1);
  EXPECT_EQ(t[28], 3);
  EXPECT_EQ(t[729], 4);
  EXPECT_EQ(std::count(t.begin(), t.end(), -1), 730 - 3) << "1ST has no slot";

  t = table({"A       .TXT"});
  EXPECT_EQ(t[0], 0);

  t = table({"AB      .ZIP", "AB      .ZIP", "AC      .ZIP"});
  EXPECT_EQ(t[2], 0);
  EXPECT_EQ(t[3], 2);

  // Second characters: a digit or a byte above 127 counts as below A, Z is
  // +26, [ _ ~ are above Z.  A first character above 127 has no slot.
  t = table({"A1      .ZIP", "A\xe9      .ZIP", "AZ      .ZIP", "A[      .ZIP", "A~      .ZIP", "ZZ      .ZIP",
             "_ABC    .ZIP", "~X      .ZIP", "\xe9T\xe9     .TXT"});
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[26], 2);
  EXPECT_EQ(t[27], 3);
  EXPECT_EQ(t[25 * 28 + 26], 5);
  EXPECT_EQ(t[728], 6);
  EXPECT_EQ(t[729], 9);
  EXPECT_EQ(std::count(t.begin(), t.end(), -1), 730 - 6);
}

TEST_F(MartenIndex, BuildTotalsInWholeKilobytes) {
  struct Case {
    std::vector<int> sizes;
    int32_t kilobytes;
  } cases[] = {{{1023, 1}, 1}, {{3000}, 2}, {{}, 0}, {{1024, 1024, 1023}, 2}, {{512, 512, 512, 512, 511}, 2}};
  for (const Case &c : cases) {
    std::filesystem::remove_all(dir / "AREA");
    vt::MakeDirs(dir / "AREA");
    for (size_t i = 0; i < c.sizes.size(); ++i)
      vt::WriteFile(dir / ("AREA/F" + std::to_string(i)), std::string(static_cast<size_t>(c.sizes[i]), 'x'));
    WriteAreas({dir.Board() + "AREA\\"});
    std::string sysInfo(sizeof(SysInfoRecord), '\x55');
    vt::WriteFile(dir / "SYSINFO.BBS", sysInfo);
    EXPECT_EQ(Build(), "Building Fast Find Index...\n");
    vt::EditRecord<SysInfoRecord>(sysInfo, 0, [&](SysInfoRecord &r) { r.FileKilobytes = c.kilobytes; });
    const size_t counters = offsetof(SysInfoRecord, DailyCounter1);
    EXPECT_EQ(vt::ReadFile(dir / "SYSINFO.BBS").substr(0, counters), sysInfo.substr(0, counters)) << c.kilobytes;
    EXPECT_EQ(vt::ReadFile(dir / "FFIDX.BBS").size(), sizeof(FastIndexRecord) * c.sizes.size());
  }
}

TEST_F(MartenIndex, WriteFailuresOfTheBuildAreReported) {
  vt::MakeDirs(dir / "AREA");
  for (const char *name : {"ONE.TXT", "TWO.TXT", "THREE.TXT"}) vt::WriteFile(dir / ("AREA/" + std::string(name)), "x");
  WriteAreas({dir.Board() + "AREA\\"});
  const std::string sysInfo(sizeof(SysInfoRecord), '\x11');
  const std::string indexName = dir.Board() + "FFIDX.BBS", sysInfoName = dir.Board() + "SYSINFO.BBS";
  const std::string head = "Building Fast Find Index...\n", eio = std::strerror(EIO);

  // An undisturbed build: what it writes and how many disk changes it makes.
  vt::WriteFile(dir / "SYSINFO.BBS", sysInfo);
  ASSERT_EQ(Build(), head);
  const long operations = plat::FaultOperationCount();
  const std::string index = vt::ReadFile(dir / "FFIDX.BBS"), stored = vt::ReadFile(dir / "SYSINFO.BBS");
  ASSERT_EQ(index.size(), 60u);
  ASSERT_NE(stored, sysInfo);

  // Each of them fails in turn; every failure is reported, the index holds
  // whole records only, and nothing is appended after a failed record.
  bool sawRecord = false, sawIndexClose = false, sawSysInfo = false;
  for (long at = 1; at <= operations; ++at) {
    SCOPED_TRACE("operation " + std::to_string(at));
    vt::WriteFile(dir / "SYSINFO.BBS", sysInfo);
    plat::SetFaultInjection(at, plat::FaultAction::FaultFail);
    std::string out = Build();
    std::string nowIndex = vt::ReadFile(dir / "FFIDX.BBS"), nowSysInfo = vt::ReadFile(dir / "SYSINFO.BBS");
    if (out == head + eio + " opening " + indexName + "\n") {
      EXPECT_EQ(nowSysInfo, sysInfo);
    } else if (out == head + "Error " + eio + " writing to " + indexName + "\n") {
      ASSERT_EQ(nowIndex.size() % sizeof(FastIndexRecord), 0u);
      ASSERT_EQ(index.compare(0, nowIndex.size(), nowIndex), 0) << "a prefix of the whole index";
      (nowIndex.size() < index.size() ? sawRecord : sawIndexClose) = true;
      EXPECT_EQ(nowSysInfo, stored) << "the total still describes the areas";
    } else if (out == head + "Failed Opening SYSINFO.BBS\n") {
      EXPECT_EQ(nowIndex, index);
      EXPECT_EQ(nowSysInfo, sysInfo);
    } else {
      ASSERT_EQ(out, head + "Error " + eio + " writing to " + sysInfoName + "\n");
      EXPECT_EQ(nowIndex, index);
      if (nowSysInfo == sysInfo) {
        sawSysInfo = true;
      } else {
        EXPECT_EQ(nowSysInfo, stored) << "only a failed close may leave the record written";
      }
      // The lock went with the failure: the record can be had again.
      plat::SetFaultInjection(0, plat::FaultAction::FaultFail);
      SysInfoFile f;
      SysInfoRecord record;
      EXPECT_EQ(GetSysInfo(f, record), 1);
      EXPECT_EQ(PutSysInfo(f, record), 1);
    }
  }
  EXPECT_TRUE(sawRecord && sawIndexClose && sawSysInfo) << sawRecord << sawIndexClose << sawSysInfo;

  // The sort likewise: a failed write-back is reported and the table still
  // written; a failed table is reported.
  plat::SetFaultInjection(0, plat::FaultAction::FaultFail);
  ASSERT_EQ(Sort(), "Sorting Fast Find Index...\n\n");
  const long sortOperations = plat::FaultOperationCount();
  const std::string sorted = vt::ReadFile(dir / "FFIDX.BBS"), table = vt::ReadFile(dir / "FFPTR.BBS");
  ASSERT_EQ(table.size(), 2920u);
  bool sawWriteBack = false, sawTable = false;
  for (long at = 1; at <= sortOperations; ++at) {
    SCOPED_TRACE("sort operation " + std::to_string(at));
    vt::WriteFile(dir / "FFIDX.BBS", index);
    std::filesystem::remove(dir / "FFPTR.BBS");
    plat::SetFaultInjection(at, plat::FaultAction::FaultFail);
    std::string out = Sort();
    std::string nowTable = vt::ReadFile(dir / "FFPTR.BBS");
    if (out == "Sorting Fast Find Index...\n" + eio + " opening " + indexName + "\n\n") {
      EXPECT_EQ(vt::ReadFile(dir / "FFIDX.BBS"), index);
    } else if (out == "Sorting Fast Find Index...\nError Writing " + indexName + "\n\n") {
      EXPECT_EQ(nowTable, table);
      sawWriteBack = true;
    } else {
      EXPECT_EQ(vt::ReadFile(dir / "FFIDX.BBS"), sorted);
      if (out == "Sorting Fast Find Index...\nError " + eio + " writing to " + dir.Board() + "FFPTR.BBS\n\n")
        sawTable = true;
      else
        EXPECT_EQ(out, "Sorting Fast Find Index...\n" + eio + " opening " + dir.Board() + "FFPTR.BBS\n\n");
    }
  }
  EXPECT_TRUE(sawWriteBack && sawTable) << sawWriteBack << sawTable;
}

}  // namespace
