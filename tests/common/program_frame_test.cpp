// The frame as all four programs run it from a batch file: a switch none of
// them knows is refused before anything is done, and the help is shown with
// or without a board.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

struct Program {
  const char *exe;
  const char *banner;      // first banner line
  const char *completion;  // completion line
  std::vector<std::string> mistyped;  // a command line with one unknown switch
  const char *unknown;                // that switch
};

const Program kPrograms[] = {
    {SORREL_EXE, "Sorrel WIN 95/NT V1.48.  Velmora Message Base Maintenance.\n", "\nSorrel Completed\n",
     {"-LINK", "-CLEAN", "-N2"}, "-CLEAN"},
    {TETHER_EXE, "Tether WIN 95/NT V1.48.  Velmora Fast Message Base Linker.\n", "\nTether Completed\n",
     {"-LINKAL"}, "-LINKAL"},
    {MARTEN_EXE, "Marten WIN 95/NT V1.48.  Velmora Fast Find Index Maintenance.\n", "MARTEN Completed\n",
     {"-BIULD"}, "-BIULD"},
    {QUARRY2_EXE, "Quarry2 WIN 95/NT V1.48.  Velmora Utilities 2.\n", "\nQUARRY2 Completed\n",
     {"-LISTOUT.TXT", "/FROM5", "bare", "-FORM5"}, "-FORM5"},
};

std::string Banner(const Program &p) {
  return std::string(p.banner) + "Copyright (c) Velmora.  All Rights Reserved.\nUse -? for help\n\n";
}

// Every file under a directory with its bytes.
std::map<std::string, std::string> Files(const std::string &dir) {
  std::map<std::string, std::string> files;
  for (const auto &e : fs::recursive_directory_iterator(dir))
    files[e.path().string()] = e.is_directory() ? "<dir>" : vt::ReadFile(e.path().string());
  return files;
}

// A board on which every program, once started, writes at least its log.
class ProgramFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::BoardConfig config;
    config.msgPath = board.Board() + "MSG\\";
    config.userPath = board.Board();
    config.logName = board.Board() + "*T.LOG";
    config.fastIndexPath = board.Board();
    config.maxFileAreas = 12;
    vt::WriteBoard(board.Path(), config);
    vt::MakeDirs(board / "MSG");
    vt::WriteFile(board / "MSG/MSGREPLY.BBS", std::string(16, '\1'));
  }

  vt::RunResult Run(const Program &p, const std::vector<std::string> &args, const vt::TempDir &dir) {
    return vt::Run(p.exe, args, dir.Path(), {{"VLM", dir.Board()}, {"TASK", ""}});
  }

  vt::TempDir board;
  vt::TempDir nowhere;  // no board at all
};

TEST_F(ProgramFrame, UnknownSwitchIsRefusedAndNothingIsChanged) {
  for (const Program &p : kPrograms) {
    SCOPED_TRACE(p.exe);
    auto before = Files(board.Path());
    vt::RunResult r = Run(p, p.mistyped, board);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, Banner(p) + "Unknown switch " + p.unknown + "\nUse -? for help\n");
    EXPECT_EQ(Files(board.Path()), before) << "no log, no file touched";
    // Refused before start-up: the board is not even needed to be told.
    EXPECT_EQ(Run(p, p.mistyped, nowhere).out, r.out);
  }
}

TEST_F(ProgramFrame, HelpSynonymsShowTheHelpWithOrWithoutABoard) {
  for (const Program &p : kPrograms) {
    SCOPED_TRACE(p.exe);
    auto before = Files(board.Path());
    vt::RunResult help = Run(p, {"-?"}, board);
    ASSERT_EQ(help.status, 0);
    ASSERT_EQ(help.out.rfind(Banner(p), 0), 0u) << help.out;
    ASSERT_GT(help.out.size(), Banner(p).size() + std::string(p.completion).size());
    EXPECT_EQ(help.out.substr(help.out.size() - std::string(p.completion).size()), p.completion);
    // Without a board the help is the same, but for quarry2's area range,
    // which has no figure then.
    std::string bare = help.out;
    size_t range;
    while ((range = bare.find("<1..12>")) != std::string::npos) bare.replace(range, 7, "<1..n>");
    EXPECT_EQ(bare != help.out, std::string(p.exe) == QUARRY2_EXE);

    // A help switch wins over every other argument, unknown ones included.
    std::vector<std::vector<std::string>> lines = {{"-h"}, {"--help"}, {"/H"}, {"-Help"}, {"-BUILD", "-help"}};
    lines.push_back(p.mistyped);
    lines.back().push_back("-h");
    for (const auto &args : lines) {
      vt::RunResult r = Run(p, args, board);
      EXPECT_EQ(r.status, 0) << args[0];
      EXPECT_EQ(r.out, help.out) << args[0];
    }
    for (const auto &args : {std::vector<std::string>{"-?"}, std::vector<std::string>{"-h"}}) {
      vt::RunResult r = Run(p, args, nowhere);
      EXPECT_EQ(r.status, 0) << args[0];
      EXPECT_EQ(r.out, bare) << args[0];
    }
    EXPECT_EQ(Files(board.Path()), before) << "the help changes nothing";
    EXPECT_TRUE(fs::is_empty(nowhere.Path()));
  }
}

}  // namespace
