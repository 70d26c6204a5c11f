// marten run as a process on boards built in temporary directories: the
// frame, which passes run for which switch, and the files they leave,
// compared byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "filepath_record.h"
#include "index_record.h"
#include "marten.h"
#include "program_frames.h"
#include "records.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const char kBuildAndSort[] = "Building Fast Find Index...\nSorting Fast Find Index...\n\n";


std::string PointerFile(const std::vector<std::pair<int, int32_t>> &entries) {
  std::string b;
  for (int i = 0; i < kIndexPointerCount; ++i) vt::PutU32(b, b.size(), 0xFFFFFFFFu);
  for (const auto &[slot, value] : entries) vt::PutU32(b, 4 * static_cast<size_t>(slot), static_cast<uint32_t>(value));
  return b;
}

std::string SysInfoBytes() {
  return vt::AsBytes(vt::FilledRecord<SysInfoRecord>([](size_t i) { return 200 - i; }));
}

class MartenRun : public ::testing::Test {
 protected:
  void SetUp() override {
    config.logName = dir.Path() + "*T*N.LOG";
    config.fastIndexPath = dir.Board() + "FFIND\\";
    vt::WriteBoard(dir.Path(), config);
    vt::MakeDirs(dir / "FFIND");
    vt::WriteFile(dir / "SYSINFO.BBS", SysInfoBytes());
  }

  vt::RunResult Marten(const std::vector<std::string> &args, const std::string &cwd = "") {
    return vt::Run(MARTEN_EXE, args, cwd.empty() ? dir.Path() : cwd, {{"VLM", dir.Board()}, {"TASK", ""}});
  }

  // Area records in order; an empty path marks an unused area.
  void WriteAreas(const std::vector<std::string> &paths) {
    std::string bytes;
    for (const std::string &p : paths) {
      FilePathRecord r = vt::FilledRecord<FilePathRecord>([](size_t) { return 0x5A; });
      vt::SetPas(r.AreaPath, p);
      bytes += vt::AsBytes(r);
    }
    vt::WriteFile(dir / "FILEPATH.VLM", bytes);
  }

  void AddFile(const std::string &relative, size_t size) {
    fs::path p = fs::path(dir.Path()) / relative;
    vt::MakeDirs(p.parent_path().string());
    vt::WriteFile(p.string(), std::string(size, 'f'));
  }

  // Two file areas and an unused one between them; the directory names in
  // the records differ in case from those on disk.
  void WriteSampleAreas() {
    AddFile("FILES/Util/pkzip.exe", 2000);
    AddFile("FILES/Util/README", 10);
    AddFile("FILES/Util/FILES.BBS", 500);
    AddFile("FILES/Util/LONGFILENAME.ZIP", 700);
    AddFile("FILES/Util/.hidden", 9);
    AddFile("FILES/Util/SUB/INNER.ZIP", 9);
    AddFile("FILES/Games/doom.zip", 3000);
    AddFile("FILES/Games/readme", 100);
    AddFile("FILES/Games/_x.zip", 1);
    // Area 4 names the directory of area 1 again: its files appear twice.
    WriteAreas({dir.Board() + "files\\UTIL\\", "", dir.Board() + "FILES\\GAMES\\", dir.Board() + "Files\\util\\"});
  }

  std::string Log() { return vt::MaskLogTimes(vt::ReadFile(dir / "IDX1.LOG")); }
  std::string LogOf(const std::vector<std::string> &lines) {
    std::string log = "\r\n----------  " + vt::TodayText() + "\r\n";
    for (const std::string &l : lines) log += "> ##:##:##  " + l + "\r\n";
    return log;
  }

  vt::TempDir dir;
  vt::BoardConfig config;
};

TEST_F(MartenRun, BuildIndexesEveryAreaSortsItAndStoresTheTotal) {
  WriteSampleAreas();
  vt::RunResult r = Marten({"-BUILD"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(vt::Work(vt::kMarten, r.out), kBuildAndSort);
  EXPECT_EQ(Log(), LogOf({"Marten WIN 95/NT Started", "Building Fast Find Index", "Sorting Fast Find Index",
                          "Marten Finished"}));

  EXPECT_EQ(vt::ReadFile(dir / "FFIND/FFIDX.BBS"),
            Record("DOOM    .ZIP", 3, 3000) + Record("PKZIP   .EXE", 1, 2000) + Record("PKZIP   .EXE", 4, 2000) +
                Record("README      ", 1, 10) + Record("README      ", 3, 100) + Record("README      ", 4, 10) +
                Record("_X      .ZIP", 3, 1));
  EXPECT_EQ(vt::ReadFile(dir / "FFIND/FFPTR.BBS"),
            PointerFile({{28 * 3 + 15, 0}, {28 * 15 + 11, 1}, {28 * 17 + 5, 3}, {728, 6}, {729, 7}}));
  // 7121 bytes in all: 6 kilobytes.  Written today, so the counters stay.
  std::string info = SysInfoBytes();
  vt::EditRecord<SysInfoRecord>(info, 0, [](SysInfoRecord &r) { r.FileKilobytes = 6; });
  EXPECT_EQ(vt::ReadFile(dir / "SYSINFO.BBS"), info);

  // A second build from scratch gives the same files.
  std::string index = vt::ReadFile(dir / "FFIND/FFIDX.BBS");
  EXPECT_EQ(vt::Work(vt::kMarten, Marten({"/build"}).out), kBuildAndSort);
  EXPECT_EQ(vt::ReadFile(dir / "FFIND/FFIDX.BBS"), index);
}

TEST_F(MartenRun, SwitchesChooseThePasses) {
  WriteSampleAreas();
  const std::string unsorted = Record("ZIP     .ZIP", 2, 5) + Record("ARJ     .EXE", 9, 6);
  vt::WriteFile(dir / "FFIND/FFIDX.BBS", unsorted);
  auto sysInfoTime = fs::last_write_time(dir / "SYSINFO.BBS");

  // No switch: only the log lines; nothing of the index is touched.
  vt::RunResult none = Marten({});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(vt::Work(vt::kMarten, none.out), "");
  EXPECT_EQ(Log(), LogOf({"Marten WIN 95/NT Started", "Marten Finished"}));
  EXPECT_EQ(vt::ReadFile(dir / "FFIND/FFIDX.BBS"), unsorted);
  EXPECT_FALSE(vt::FileExists(dir / "FFIND/FFPTR.BBS"));

  // Help wins over every other switch, and opens no log.
  fs::remove(dir / "IDX1.LOG");
  vt::RunResult help = Marten({"-BUILD", "-?"});
  EXPECT_EQ(vt::Work(vt::kMarten, help.out),
            "Command Line Parameters\n\n"
            "  -BUILD        Build and Sort the Fast Find Index\n"
            "  -SORT         Sort the Fast Find Index\n"
            "  -NODE<1.999>  Node Number\n\n");
  EXPECT_FALSE(vt::FileExists(dir / "IDX1.LOG"));
  EXPECT_EQ(vt::ReadFile(dir / "FFIND/FFIDX.BBS"), unsorted);

  // The sort alone works on the index as it is and leaves SYSINFO.BBS alone.
  vt::RunResult sort = Marten({"/sort"});
  EXPECT_EQ(vt::Work(vt::kMarten, sort.out), "Sorting Fast Find Index...\n\n");
  EXPECT_EQ(vt::ReadFile(dir / "FFIND/FFIDX.BBS"), Record("ARJ     .EXE", 9, 6) + Record("ZIP     .ZIP", 2, 5));
  EXPECT_EQ(vt::ReadFile(dir / "FFIND/FFPTR.BBS"), PointerFile({{28 * 0 + 18, 0}, {28 * 25 + 9, 1}, {729, 2}}));
  EXPECT_EQ(vt::ReadFile(dir / "SYSINFO.BBS"), SysInfoBytes());
  EXPECT_EQ(fs::last_write_time(dir / "SYSINFO.BBS"), sysInfoTime);

  // Both switches: one build, one sort.
  vt::RunResult both = Marten({"-SORT", "-BUILD"});
  EXPECT_EQ(vt::Work(vt::kMarten, both.out), kBuildAndSort);
  EXPECT_EQ(vt::ReadFile(dir / "FFIND/FFIDX.BBS").size(), 7 * sizeof(FastIndexRecord));
}

TEST_F(MartenRun, StartupFailureTouchesNothing) {
  vt::TempDir empty;
  vt::WriteFile(empty / "CONSTANT.VLM", vt::ConstantBytes(config));
  vt::RunResult r = vt::Run(MARTEN_EXE, {"-BUILD"}, empty.Path(), {{"VLM", empty.Board()}, {"TASK", ""}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, vt::kMarten.Banner() + "Error: CONFIG.VLM not found\n");
  std::vector<std::string> names;
  for (const auto &e : fs::directory_iterator(empty.Path())) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"CONSTANT.VLM"}) << "no log, no index";
}

TEST_F(MartenRun, AreaFileProblems) {
  const std::string info = SysInfoBytes();
  const std::string zeroTotal = [&] {
    std::string b = info;
    vt::EditRecord<SysInfoRecord>(b, 0, [](SysInfoRecord &r) { r.FileKilobytes = 0; });
    return b;
  }();

  // No area file: the index is emptied all the same; the total is not stored.
  vt::WriteFile(dir / "FFIND/FFIDX.BBS", Record("OLD     .ZIP", 1, 1));
  vt::RunResult r = Marten({"-BUILD"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(vt::Work(vt::kMarten, r.out),
            "Building Fast Find Index...\nFILEPATH.VLM not found\n"
            "Sorting Fast Find Index...\n\n");
  EXPECT_EQ(vt::ReadFile(dir / "FFIND/FFIDX.BBS"), "");
  EXPECT_EQ(vt::ReadFile(dir / "FFIND/FFPTR.BBS"), PointerFile({{729, 0}}));
  EXPECT_EQ(vt::ReadFile(dir / "SYSINFO.BBS"), info);

  // An empty area file: an empty index and a total of 0.
  vt::WriteFile(dir / "FILEPATH.VLM", "");
  r = Marten({"-BUILD"});
  EXPECT_EQ(vt::Work(vt::kMarten, r.out), kBuildAndSort);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(vt::ReadFile(dir / "SYSINFO.BBS"), zeroTotal);

  // 700 bytes hold two areas; the 188 bytes behind them are not a record.
  AddFile("A1/ONE.TXT", 1);
  AddFile("A2/TWO.TXT", 1);
  AddFile("A3/THREE.TXT", 1);
  WriteAreas({dir.Board() + "A1\\", dir.Board() + "A2\\", dir.Board() + "A3\\"});
  vt::WriteFile(dir / "FILEPATH.VLM", vt::ReadFile(dir / "FILEPATH.VLM").substr(0, 700));
  Marten({"-BUILD"});
  EXPECT_EQ(vt::ReadFile(dir / "FFIND/FFIDX.BBS"), Record("ONE     .TXT", 1, 1) + Record("TWO     .TXT", 2, 1));

  // The area path is used exactly as stored: without its backslash the
  // pattern names other files, here none.  An area without files is no
  // failure.
  WriteAreas({dir.Board() + "A1"});
  EXPECT_EQ(Marten({"-BUILD"}).status, 0);
  EXPECT_EQ(vt::ReadFile(dir / "FFIND/FFIDX.BBS"), "");

  // No system information: the index is complete, the failure reported.
  WriteAreas({dir.Board() + "A1\\"});
  fs::remove(dir / "SYSINFO.BBS");
  r = Marten({"-BUILD"});
  EXPECT_EQ(vt::Work(vt::kMarten, r.out),
            "Building Fast Find Index...\nFailed Opening SYSINFO.BBS\n"
            "Sorting Fast Find Index...\n\n");
  EXPECT_EQ(vt::ReadFile(dir / "FFIND/FFIDX.BBS"), Record("ONE     .TXT", 1, 1));
  EXPECT_FALSE(vt::FileExists(dir / "SYSINFO.BBS"));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(Log().find("> ##:##:##  Failed Opening " + dir.Board() + "SYSINFO.BBS\r\n"), std::string::npos) << Log();
}

TEST_F(MartenRun, IndexDirectoryMissingOrEmpty) {
  WriteSampleAreas();
  vt::BoardConfig c = config;
  c.fastIndexPath = dir.Board() + "NO_SUCH\\";
  vt::WriteBoard(dir.Path(), c);
  vt::RunResult r = Marten({"-BUILD"});
  EXPECT_EQ(r.status, 2);
  const std::string missing = "No such file or directory opening " + c.fastIndexPath + "FFIDX.BBS\n";
  EXPECT_EQ(vt::Work(vt::kMarten, r.out),
            "Building Fast Find Index...\n" + missing + "Sorting Fast Find Index...\n" + missing + "\n");
  EXPECT_EQ(vt::ReadFile(dir / "SYSINFO.BBS"), SysInfoBytes()) << "a build that cannot start stores nothing";

  // An empty index directory means the current directory.
  c.fastIndexPath = "";
  vt::WriteBoard(dir.Path(), c);
  vt::TempDir work;
  r = Marten({"-BUILD"}, work.Path());
  EXPECT_EQ(vt::Work(vt::kMarten, r.out), kBuildAndSort);
  EXPECT_EQ(vt::ReadFile(work / "FFIDX.BBS").size(), 7 * sizeof(FastIndexRecord));
  EXPECT_EQ(vt::ReadFile(work / "FFPTR.BBS").size(), 2920u);
}

}  // namespace
