// The questionnaire compiler, run as quarry2 -COMPILE<script>; the compiled
// files are compared byte for byte.
#include <gtest/gtest.h>

#include "program_frames.h"
#include "test_support.h"
#include "text.h"

namespace {


class CompileQA : public ::testing::Test {
 protected:
  void SetUp() override {
    config.logName = dir.Path() + "LOG.TXT";
    vt::WriteBoard(dir.Path(), config);
    header = "; Compiled on " + vt::TodayText() + " for Velmora V1.48\r\n";
  }

  // Compiles `source` written as SCRIPT.Q; returns the console text between
  // the banner and the completion line.  A compile that ends without "Ok"
  // reported an error, and the run ends with status 2.
  std::string Compile(const std::string &source, const std::string &name = "SCRIPT.Q") {
    vt::WriteFile(dir / name, source);
    vt::RunResult r = vt::Run(QUARRY2_EXE, {"-COMPILE" + name}, dir.Path(), {{"VLM", dir.Path()}, {"TASK", ""}});
    std::string out = vt::Work(vt::kQuarry2, r.out);
    bool ok = out.size() >= 3 && out.compare(out.size() - 3, 3, "Ok\n") == 0;
    EXPECT_EQ(r.status, ok ? 0 : 2) << out;
    return out;
  }
  std::string Output(const std::string &name = "SCRIPT.QAC") { return vt::ReadFile(dir / name); }
  std::string Offset(size_t n) { return StrPrintf("%08zu", n); }

  vt::TempDir dir;
  vt::BoardConfig config;
  std::string header;
};

TEST_F(CompileQA, EmptyAndCommentOnlyScriptsGiveTheHeaderAlone) {
  EXPECT_EQ(Compile(""), "Compiling SCRIPT.Q...Ok\n");
  EXPECT_EQ(Output(), header);
  EXPECT_EQ(Compile("; one\r\n\r\n   \r\n;two"), "Compiling SCRIPT.Q...Ok\n");
  EXPECT_EQ(Output(), header);
}

TEST_F(CompileQA, JumpsCarryTheOffsetOfTheirLabel) {
  EXPECT_EQ(Compile(":LOOP\r\nHELLO\r\nGOTO LOOP\r\n"), "Compiling SCRIPT.Q...Ok\n");
  EXPECT_EQ(Output(), header + "HELLO\r\n@#01 " + Offset(header.size()) + "\r\n");
}

TEST_F(CompileQA, StatementsAndControlLines) {
  std::string source =
      "  display   Hello there  \r\n"
      "gosub sub one\r\n"
      "Goto End\r\n"
      "GOSUBX stays\r\n"
      "POSTINFO\r\n"
      "postinfo now\r\n"
      ":sub ONE\r\n"
      "ask\tName?\r\n"
      "return to caller\r\n"
      "RETURN\r\n"
      ":end\r\n"
      ":End\r\n"
      "Bye";  // last line without line end
  EXPECT_EQ(Compile(source), "Compiling SCRIPT.Q...Ok\n");
  std::string l1 = "DISPLAY   Hello there\r\n";
  std::string l2 = "@#00 ";  // patched below
  size_t gosubAt = header.size() + l1.size();
  size_t gotoAt = gosubAt + 15;
  std::string rest1 = "GOSUBX stays\r\n@#02\r\nPOSTINFO now\r\n";
  size_t subAt = gotoAt + 15 + rest1.size();
  std::string rest2 = "ASK\tNAME?\r\n@#03\r\n@#03\r\n";
  size_t endAt = subAt + rest2.size();
  // Tabs do not end the first word: "ask\tName?" is upper-cased whole.
  EXPECT_EQ(Output(), header + l1 + "@#00 " + Offset(subAt) + "\r\n@#01 " + Offset(endAt) + "\r\n" + rest1 + rest2 +
                          "BYE\r\n");
}

TEST_F(CompileQA, MultiWordLabelsMatchOnlyInUpperCase) {
  EXPECT_EQ(Compile(":two words\r\nA\r\nGOTO TWO WORDS\r\n"), "Compiling SCRIPT.Q...\nLabel TWO WORDS not found\n");
  EXPECT_EQ(Output(), header + "A\r\n@#01 00000000\r\n");
  // A label defined twice: the first definition counts.
  EXPECT_EQ(Compile(":X\r\nA\r\n:X\r\nB\r\nGOTO x\r\n"), "Compiling SCRIPT.Q...Ok\n");
  EXPECT_EQ(Output(), header + "A\r\nB\r\n@#01 " + Offset(header.size()) + "\r\n");
  // A label after the last statement points at the end of the file.
  EXPECT_EQ(Compile("GOTO LAST\r\n:last\r\n"), "Compiling SCRIPT.Q...Ok\n");
  EXPECT_EQ(Output(), header + "@#01 " + Offset(header.size() + 15) + "\r\n");
}

TEST_F(CompileQA, MissingLabelLeavesZerosAndEndsWithoutOk) {
  EXPECT_EQ(Compile("GOTO NOWHERE\r\nGOSUB here\r\n:HERE\r\n"), "Compiling SCRIPT.Q...\nLabel NOWHERE not found\n");
  EXPECT_EQ(Output(), header + "@#01 00000000\r\n@#00 " + Offset(header.size() + 30) + "\r\n");
  // The night's log says which script failed.
  EXPECT_NE(vt::ReadFile(dir / "LOG.TXT").find("  Label NOWHERE not found in SCRIPT.Q\r\n"), std::string::npos);
}

TEST_F(CompileQA, LongLinesAreReadInPiecesOf298) {
  std::string longLine = std::string(298, 'a') + "bc";
  EXPECT_EQ(Compile(longLine + "\r\n"), "Compiling SCRIPT.Q...Ok\n");
  // Only the first piece's first word is upper-cased; the second piece is a
  // statement of its own.
  EXPECT_EQ(Output(), header + std::string(298, 'A') + "\r\nBC\r\n");
}

TEST_F(CompileQA, InputStopsAtCtrlZAndPlainLineFeedsWork) {
  EXPECT_EQ(Compile("one\ntwo\r\n\x1Athree\r\n"), "Compiling SCRIPT.Q...Ok\n");
  EXPECT_EQ(Output(), header + "ONE\r\nTWO\r\n");
}

TEST_F(CompileQA, TooManyJumpsStopsReading) {
  std::string source = ":L\r\n";
  for (int i = 0; i < 2501; ++i) source += "GOTO L\r\n";
  source += "AFTER\r\n";
  EXPECT_EQ(Compile(source), "Compiling SCRIPT.Q...\nToo Many Gotos/Gosubs Defined\n");
  std::string expected = header;
  for (int i = 0; i < 2500; ++i) expected += "@#01 " + Offset(header.size()) + "\r\n";
  expected += "@#01 00000000\r\n";  // the 2501st is written, unpatched
  EXPECT_EQ(Output(), expected);
}

TEST_F(CompileQA, TooManyLabelsStopsReading) {
  std::string source;
  for (int i = 0; i < 501; ++i) source += ":L" + std::to_string(i) + "\r\n";
  source += "AFTER\r\nGOTO L0\r\n";
  EXPECT_EQ(Compile(source), "Compiling SCRIPT.Q...\nToo Many Labels Defined\n");
  EXPECT_EQ(Output(), header);
}

TEST_F(CompileQA, OutputNameAndOpeningFailures) {
  Compile("A\r\n", "NOEXT");
  EXPECT_EQ(Output("NOEXT.QAC"), header + "A\r\n");
  Compile("B\r\n", "DOT.");
  EXPECT_EQ(Output("DOT.QAC"), header + "B\r\n");

  vt::RunResult noName = vt::Run(QUARRY2_EXE, {"-COMPILE"}, dir.Path(), {{"VLM", dir.Path()}, {"TASK", ""}});
  EXPECT_EQ(vt::Work(vt::kQuarry2, noName.out), "No such file or directory opening \n");
  EXPECT_EQ(noName.status, 2);

  vt::RunResult missing =
      vt::Run(QUARRY2_EXE, {"/COMPILEABSENT.Q"}, dir.Path(), {{"VLM", dir.Path()}, {"TASK", ""}});
  EXPECT_EQ(vt::Work(vt::kQuarry2, missing.out), "No such file or directory opening ABSENT.Q\n");
  EXPECT_FALSE(vt::FileExists(dir / "ABSENT.QAC"));

  vt::MakeDirs(dir / "BLOCKED.QAC");
  std::string out = Compile("A\r\n", "BLOCKED.Q");
  EXPECT_EQ(out.rfind("Compiling BLOCKED.Q...", 0), 0u) << out;
  EXPECT_NE(out.find(" creating BLOCKED.QAC\n"), std::string::npos) << out;
}

}  // namespace
