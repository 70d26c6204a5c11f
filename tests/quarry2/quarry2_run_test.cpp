// quarry2 run as a process on boards built in temporary directories: the
// program frame, start-up, the log, and the directory list.
#include <gtest/gtest.h>

#include "program_frames.h"
#include "records.h"
#include "test_support.h"
#include "text.h"

namespace {

class Quarry2Run : public ::testing::Test {
 protected:
  void SetUp() override {
    config.logName = dir.Path() + "*T*N.LOG";
    config.maxFileAreas = 10;
    vt::WriteBoard(dir.Path(), config);
  }

  vt::RunResult Quarry2(const std::vector<std::string> &args, std::map<std::string, std::string> env = {}) {
    env.emplace("VLM", dir.Board());
    env.emplace("TASK", "");
    return vt::Run(QUARRY2_EXE, args, dir.Path(), env);
  }

  // Areas 1..n with the given levels; an empty path marks an unused area.
  void WriteAreas(const std::vector<std::pair<std::string, uint16_t>> &areas) {
    std::string bytes;
    for (const auto &[path, security] : areas) bytes += vt::FileAreaBytes(path, security);
    vt::WriteFile(dir / "FILEPATH.VLM", bytes);
  }

  std::string List(const std::vector<std::string> &extra) {
    std::vector<std::string> args{"-LISTOUT.TXT"};
    args.insert(args.end(), extra.begin(), extra.end());
    Quarry2(args);
    return vt::ReadFile(dir / "OUT.TXT");
  }

  vt::TempDir dir;
  vt::BoardConfig config;
};

TEST_F(Quarry2Run, StartupFailuresEndWithStatusOne) {
  {
    vt::TempDir empty;
    vt::WriteFile(empty / "CONSTANT.VLM", vt::ConstantBytes(config));
    vt::RunResult r = vt::Run(QUARRY2_EXE, {"-LISTOUT.TXT"}, empty.Path(), {{"VLM", empty.Board()}, {"TASK", ""}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, vt::kQuarry2.Banner() + "Error: CONFIG.VLM not found\n");
    EXPECT_FALSE(vt::FileExists(empty / "OUT.TXT"));
  }
  {
    // With both files missing the message names the constant file.
    vt::TempDir empty;
    vt::RunResult r = vt::Run(QUARRY2_EXE, {}, empty.Path(), {{"VLM", empty.Board()}, {"TASK", ""}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              vt::kQuarry2.Banner() + "Error: No such file or directory opening " + empty.Board() + "CONSTANT.VLM\n");
  }
  {
    vt::TempDir shortConfig;
    vt::WriteFile(shortConfig / "CONFIG.VLM", vt::ConfigBytes(config).substr(0, 6143));
    vt::WriteFile(shortConfig / "CONSTANT.VLM", vt::ConstantBytes(config));
    vt::RunResult r = vt::Run(QUARRY2_EXE, {}, shortConfig.Path(), {{"VLM", shortConfig.Path()}, {"TASK", ""}});
    EXPECT_EQ(r.status, 1);
    // CONFIG.VLM is found in the current directory before the system directory.
    EXPECT_NE(r.out.find("Error: Success reading CONFIG.VLM\n"), std::string::npos) << r.out;
  }
  {
    vt::TempDir shortConstant;
    vt::WriteFile(shortConstant / "CONFIG.VLM", vt::ConfigBytes(config));
    vt::WriteFile(shortConstant / "CONSTANT.VLM", vt::ConstantBytes(config).substr(0, 1608));
    vt::RunResult r =
        vt::Run(QUARRY2_EXE, {}, shortConstant.Path(), {{"VLM", shortConstant.Board()}, {"TASK", ""}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error: Success reading " + shortConstant.Board() + "CONSTANT.VLM\n"), std::string::npos)
        << r.out;
  }
}

TEST_F(Quarry2Run, HelpAndNoCommand) {
  vt::RunResult help = Quarry2({"-?"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(vt::Work(vt::kQuarry2, help.out),
            "Command Line Parameters\n\n"
            "  -LIST<filename> [-FROM<1..10>] [-TO<1..10>] [-MINSEC<sec>] [-MAXSEC<sec>]\n"
            "                Write list directories to a file\n"
            "  -COMPILE<questionnaire>\n"
            "  -NODE<1..999>  Node Number\n");
  EXPECT_FALSE(vt::FileExists(dir / "UT21.LOG")) << "help opens no log";

  vt::RunResult none = Quarry2({});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(vt::Work(vt::kQuarry2, none.out), "No Valid Commands Specified\n");
  std::string log = vt::ReadFile(dir / "UT21.LOG");
  EXPECT_EQ(vt::MaskLogTimes(log), "\r\n----------  " + vt::TodayText() +
                                       "\r\n> ##:##:##  Quarry2 WIN 95/NT Started\r\n"
                                       "> ##:##:##  No Valid Commands Specified\r\n"
                                       "> ##:##:##  Quarry2 Finished\r\n");

  // A second run appends a second run separator; nothing before it changes.
  Quarry2({});
  std::string twice = vt::ReadFile(dir / "UT21.LOG");
  EXPECT_EQ(twice.substr(0, log.size()), log);
  EXPECT_EQ(twice.size(), 2 * log.size());
}

TEST_F(Quarry2Run, NodeComesFromSwitchThenTaskAndNamesTheLog) {
  struct Case {
    std::vector<std::string> args;
    std::string task;
    std::string log;
  } cases[] = {
      {{}, "", "UT21.LOG"},           {{}, "5", "UT25.LOG"},          {{"-NODE7"}, "5", "UT27.LOG"},
      {{"/node12"}, "", "UT212.LOG"}, {{"-NODE1000"}, "", "UT21.LOG"}, {{"-NODEX"}, "4", "UT21.LOG"},
      {{}, "0", "UT21.LOG"},          {{"-NODE999"}, "", "UT2999.LOG"},
      // The short form of sorrel's help example, for every program.
      {{"-N7"}, "5", "UT27.LOG"},     {{"/n12"}, "", "UT212.LOG"},    {{"-N4", "-NODE3"}, "", "UT23.LOG"},
  };
  for (const Case &c : cases) {
    vt::TempDir board;
    vt::BoardConfig cfg = config;
    cfg.logName = board.Path() + "*t*n.log";
    vt::WriteBoard(board.Path(), cfg);
    vt::Run(QUARRY2_EXE, c.args, board.Path(), {{"VLM", board.Path()}, {"TASK", c.task}});
    EXPECT_TRUE(vt::FileExists(board / c.log)) << c.log;
  }
}

TEST_F(Quarry2Run, ConfigurationIsTakenFromNodeFileThenCurrentThenSystemDirectory) {
  vt::TempDir work;  // the current directory, apart from the system directory
  auto withLog = [&](const std::string &name) {
    vt::BoardConfig c = config;
    c.logName = dir.Path() + name;
    return vt::ConfigBytes(c);
  };
  vt::WriteFile(dir / "CONFIG.VLM", withLog("SYSTEM.LOG"));
  auto run = [&](const std::vector<std::string> &args) {
    return vt::Run(QUARRY2_EXE, args, work.Path(), {{"VLM", dir.Path()}, {"TASK", ""}});
  };
  run({"-NODE3"});
  EXPECT_TRUE(vt::FileExists(dir / "SYSTEM.LOG"));
  vt::WriteFile(work / "CONFIG.VLM", withLog("CURRENT.LOG"));
  run({"-NODE3"});
  EXPECT_TRUE(vt::FileExists(dir / "CURRENT.LOG"));
  vt::WriteFile(dir / "CONFIG.3", withLog("NODE3.LOG"));
  run({"-NODE3"});
  EXPECT_TRUE(vt::FileExists(dir / "NODE3.LOG"));

  // The system directory is named with or without its trailing separator.
  std::string bare = dir.Path().substr(0, dir.Path().size() - 1);
  vt::RunResult r = vt::Run(QUARRY2_EXE, {"-NODE3"}, work.Path(), {{"VLM", bare}, {"TASK", ""}});
  EXPECT_EQ(r.status, 0) << r.out;
}

TEST_F(Quarry2Run, UnopenableLogIsReportedAndTheWorkGoesOn) {
  vt::BoardConfig c = config;
  c.logName = dir.Path() + "NO_SUCH_DIR/" + "X.LOG";
  vt::WriteBoard(dir.Path(), c);
  vt::RunResult r = Quarry2({});
  EXPECT_EQ(r.status, 2) << "a run that leaves no record is not done";
  // The log name comes out of the template in upper case.
  std::string name = dir.Path() + "NO_SUCH_DIR/X.LOG";
  UpperCase(name);
  EXPECT_EQ(vt::Work(vt::kQuarry2, r.out),
            "No such file or directory opening " + name + "No Valid Commands Specified\n");
}

TEST_F(Quarry2Run, ListWritesAreasInRangeAndSecurity) {
  WriteAreas({{"C:\\A1\\", 0},
              {"C:\\A2\\", 10},
              {"", 10},
              {"C:\\A4\\", 50},
              {"C:\\A5\\", 255},
              {"C:\\A6\\", 65535},
              {"C:\\A7\\", 5},
              {"C:\\A8\\", 10},
              {"C:\\A9\\", 100},
              {"C:\\A10\\", 20},
              {"C:\\A11\\", 0}});  // beyond MaxFileAreas
  const std::string all = "C:\\A1\\\r\nC:\\A2\\\r\nC:\\A4\\\r\nC:\\A5\\\r\nC:\\A6\\\r\nC:\\A7\\\r\n"
                          "C:\\A8\\\r\nC:\\A9\\\r\nC:\\A10\\\r\n";
  EXPECT_EQ(List({}), all);
  EXPECT_EQ(Quarry2({"-LISTOUT.TXT"}).status, 0) << "unused areas are no failure";
  EXPECT_EQ(List({"-FROM5", "-TO3"}), "C:\\A5\\\r\nC:\\A6\\\r\nC:\\A7\\\r\nC:\\A8\\\r\nC:\\A9\\\r\nC:\\A10\\\r\n");
  EXPECT_EQ(List({"-FROM0"}), all);
  EXPECT_EQ(List({"-FROM-3", "-TO2"}), "C:\\A1\\\r\nC:\\A2\\\r\n");
  EXPECT_EQ(List({"/FROM5"}), all) << "only the - form of FROM counts";
  EXPECT_EQ(List({"-FROM9", "-TO99"}), "C:\\A9\\\r\nC:\\A10\\\r\n");
  EXPECT_EQ(List({"-FROM11"}), "");
  EXPECT_EQ(List({"-MINSEC10", "-MAXSEC50"}), "C:\\A2\\\r\nC:\\A4\\\r\nC:\\A8\\\r\nC:\\A10\\\r\n");
  EXPECT_EQ(List({"-MINSEC10", "-MAXSEC5"}),
            "C:\\A2\\\r\nC:\\A4\\\r\nC:\\A5\\\r\nC:\\A6\\\r\nC:\\A8\\\r\nC:\\A9\\\r\nC:\\A10\\\r\n");
  EXPECT_EQ(List({"-MAXSEC0"}), "C:\\A1\\\r\n");
  EXPECT_EQ(List({"/MINSEC-5", "/MAXSEC20"}), "C:\\A1\\\r\nC:\\A2\\\r\nC:\\A7\\\r\nC:\\A8\\\r\nC:\\A10\\\r\n");
  // An overlong value is cut to the 11 characters its buffer holds.
  EXPECT_EQ(List({"-MINSEC00000000000100"}), all);

  vt::RunResult r = Quarry2({"-LISTOUT.TXT", "-COMPILEX.Q"});
  EXPECT_EQ(vt::Work(vt::kQuarry2, r.out), "Writing List of Directories to OUT.TXT\n");
  std::string log = vt::ReadFile(dir / "UT21.LOG");
  EXPECT_NE(log.find("  Writing List of Directories to OUT.TXT\r\n"), std::string::npos);
  EXPECT_FALSE(vt::FileExists(dir / "X.QAC"));
}

TEST_F(Quarry2Run, ListStopsAtTheLastWholeRecord) {
  std::string bytes = vt::FileAreaBytes("C:\\ONE\\", 1) + vt::FileAreaBytes("C:\\TWO\\", 1);
  bytes += std::string(188, 'x');  // 700 bytes in all
  vt::WriteFile(dir / "FILEPATH.VLM", bytes);
  EXPECT_EQ(List({}), "C:\\ONE\\\r\nC:\\TWO\\\r\n");

  // A count byte beyond the path's room is cut to the room.
  std::string corrupt = vt::FileAreaBytes(std::string(122, 'x'), 0);
  corrupt[0] = static_cast<char>(200);
  vt::WriteFile(dir / "FILEPATH.VLM", corrupt);
  EXPECT_EQ(List({}).size(), 122u + 2u);
}

TEST_F(Quarry2Run, ListFailures) {
  vt::RunResult missing = Quarry2({"-LISTOUT.TXT"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(vt::Work(vt::kQuarry2, missing.out), "Writing List of Directories to OUT.TXT\nFILEPATH.VLM not found\n");
  EXPECT_TRUE(vt::FileExists(dir / "OUT.TXT"));
  EXPECT_EQ(vt::ReadFile(dir / "OUT.TXT"), "");

  vt::RunResult noName = Quarry2({"-LIST"});
  EXPECT_EQ(vt::Work(vt::kQuarry2, noName.out),
            "Writing List of Directories to \nNo such file or directory creating \n");

  vt::RunResult noDir = Quarry2({"-LISTNO_SUCH_DIR\\OUT.TXT"});
  EXPECT_EQ(vt::Work(vt::kQuarry2, noDir.out),
            "Writing List of Directories to NO_SUCH_DIR\\OUT.TXT\n"
            "No such file or directory creating NO_SUCH_DIR\\OUT.TXT\n");
  EXPECT_EQ(noDir.status, 2);

  // The node's own area file wins over FILEPATH.VLM.
  WriteAreas({{"C:\\VLM\\", 0}});
  vt::WriteFile(dir / "FILEPATH.2", vt::FileAreaBytes("C:\\NODE2\\", 0));
  Quarry2({"-LISTOUT.TXT", "-NODE2"});
  EXPECT_EQ(vt::ReadFile(dir / "OUT.TXT"), "C:\\NODE2\\\r\n");
}

}  // namespace
