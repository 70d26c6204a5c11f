// Text, length-prefixed string, file and bit helpers.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "files.h"
#include "platform.h"
#include "test_support.h"
#include "text.h"

namespace {

std::string Forced(std::string path, const std::string &ext) {
  ForceExtension(path, ext);
  return path;
}

TEST(Text, BackslashesAreAddedAndRemovedOnce) {
  std::string s = "C:\\BBS";
  EXPECT_EQ(AppendBackslash(s), "C:\\BBS\\");
  EXPECT_EQ(AppendBackslash(s), "C:\\BBS\\");
  s.clear();
  EXPECT_EQ(AppendBackslash(s), "");
  EXPECT_EQ(RemoveBackslash(s), "");

  s = "C:\\BBS\\\\";
  EXPECT_EQ(RemoveBackslash(s), "C:\\BBS\\");
  s = "C:\\";
  EXPECT_EQ(RemoveBackslash(s), "C:");
}

TEST(Text, ForceExtensionReplacesOnlyTheLastComponentsExtension) {
  EXPECT_EQ(Forced("SURVEY", ".QAC"), "SURVEY.QAC");
  EXPECT_EQ(Forced("SURVEY.Q", ".QAC"), "SURVEY.QAC");
  EXPECT_EQ(Forced("C:\\A.B\\SURVEY", ".QAC"), "C:\\A.B\\SURVEY.QAC");
  EXPECT_EQ(Forced("SURVEY.", ".QAC"), "SURVEY.QAC");
  EXPECT_EQ(Forced("C:SURVEY.Q", ".QAC"), "C:SURVEY.QAC");
  EXPECT_EQ(Forced("D:\\MSG\\AREA1.TXT", "TMP"), "D:\\MSG\\AREA1.TMP") << "a dot is put before a bare extension";
  EXPECT_EQ(Forced("SURVEY.Q", ""), "SURVEY");
  EXPECT_EQ(Forced("A.B.C", ".X"), "A.B.X");
}

TEST(Text, SplitPathTakesEitherSeparator) {
  auto parts = [](const std::string &path) {
    PathParts p = SplitPath(path);
    return std::vector<std::string>{p.drive, p.dir, p.name, p.ext};
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(parts("C:\\BBS\\ATTACH\\~@000001\\REPORT.ZIP"), (V{"C:", "\\BBS\\ATTACH\\~@000001\\", "REPORT", ".ZIP"}));
  EXPECT_EQ(parts("/srv/bbs/A.B/REPORT"), (V{"", "/srv/bbs/A.B/", "REPORT", ""}));
  EXPECT_EQ(parts("C:/BBS\\MIXED/X.TAR.GZ"), (V{"C:", "/BBS\\MIXED/", "X.TAR", ".GZ"}));
  EXPECT_EQ(parts("C:X.ZIP"), (V{"C:", "", "X", ".ZIP"}));
  EXPECT_EQ(parts("\\X"), (V{"", "\\", "X", ""}));
  EXPECT_EQ(Forced("C:/A.B/SURVEY", ".QAC"), "C:/A.B/SURVEY.QAC");
}

TEST(Text, FirstWordSplitsAtTheFirstSpaceOnly) {
  std::string word, line = "FILE.ZIP   some text";
  EXPECT_EQ(FirstWord(word, line), "FILE.ZIP");
  EXPECT_EQ(line, "some text");

  line = "ONEWORD";
  EXPECT_EQ(FirstWord(word, line), "ONEWORD");
  EXPECT_EQ(line, "");

  line = "A\tB C";
  EXPECT_EQ(FirstWord(word, line), "A\tB") << "a tab does not separate words";
  EXPECT_EQ(line, "C");

  line = "  lead";
  EXPECT_EQ(FirstWord(word, line), "");
  EXPECT_EQ(line, "lead");
}

TEST(Text, TrimTreatsControlBytesAndBytesAbove127AsBlank) {
  std::string s = " \t\r\n ";
  EXPECT_EQ(Trim(s), "");
  s = "  A B";
  EXPECT_EQ(Trim(s), "A B");
  s = "\xE9word\xC4";
  EXPECT_EQ(Trim(s), "word");
  s = "\tX\t";
  EXPECT_EQ(TrimLead(s), "X\t");
  EXPECT_EQ(TrimTrail(s), "X");
}

TEST(Text, ReplaceStrUpperCasesTheTextButNotTheReplacement) {
  std::string s = "c:\\logs\\*t*n.log";
  EXPECT_EQ(ReplaceStr(s, "*T", "ut2"), "C:\\LOGS\\ut2*N.LOG");
  s = "maint.log";
  EXPECT_EQ(ReplaceStr(s, "*T", "MSG"), "MAINT.LOG");
  s = "aaaa";
  EXPECT_EQ(ReplaceStr(s, "AA", "b"), "bb") << "occurrences do not overlap";
  s = "x*t";
  EXPECT_EQ(ReplaceStr(s, "*T", "*T*T"), "X*T*T") << "the replacement is never searched";
  s = "*t";
  EXPECT_EQ(ReplaceStr(s, "*t", "Z"), "*T") << "a lower-case search text never matches";
}

TEST(Text, LengthPrefixedTextsNeverReadPastTheirField) {
  const uint8_t empty[4] = {0, 'A', 'B', 'C'};
  std::string out = "old";
  PasToC(empty, out);
  EXPECT_EQ(out, "");

  const uint8_t full[4] = {3, 'A', 'B', 'C'};
  EXPECT_EQ(pPasToC(full), "ABC");

  // A corrupt count byte larger than the field is cut to the field.
  const uint8_t corrupt[4] = {200, 'A', 'B', 'C'};
  EXPECT_EQ(pPasToC(corrupt), "ABC");

  uint8_t field[4] = {9, 9, 9, 9};
  CToPas("ABCDEF", field);
  EXPECT_EQ(pPasToC(field), "ABC");
  uint8_t roomy[6] = {9, 9, 9, 9, 9, 9};
  CToPas("AB", roomy);
  EXPECT_EQ(roomy[0], 2);
  EXPECT_EQ(roomy[3], 9) << "bytes after the text are left as they were";
}

TEST(Text, ReadDecimalReadsLeadingDigitsWithinThirtyTwoBits) {
  EXPECT_EQ(ReadDecimal("12abc"), 12);
  EXPECT_EQ(ReadDecimal("X"), 0);
  EXPECT_EQ(ReadDecimal(""), 0);
  EXPECT_EQ(ReadDecimal("-4"), -4);
  EXPECT_EQ(ReadDecimal("4294967298"), INT32_MAX) << "a huge value must not wrap to a small one";
}

TEST(Text, SetBitChangesOneBitOnly) {
  uint8_t b = 0x00;
  SetBitByte(3, 1, b);
  EXPECT_EQ(b, 0x08);
  b = 0xFF;
  SetBitByte(3, 0, b);
  EXPECT_EQ(b, 0xF7);
  SetBitByte(7, 0, b);
  EXPECT_EQ(b, 0x77);

  uint16_t w = 0;
  SetBitWord(15, 5, w);
  EXPECT_EQ(w, 0x8000);
  w = 0xFFFF;
  SetBitWord(8, 0, w);
  EXPECT_EQ(w, 0xFEFF);
}

TEST(FileQueries, FindOnlyOrdinaryFilesAndMatchPatternsIgnoringCase) {
  vt::TempDir dir;
  vt::MakeDirs(dir / "SUBDIR");
  vt::WriteFile(dir / "EMPTY.BBS", "");
  vt::WriteFile(dir / "five.bbs", "12345");

  EXPECT_EQ(ExistFile(dir.Board() + "SUBDIR"), 0) << "a directory is not a file";
  EXPECT_EQ(FileSize(dir.Board() + "SUBDIR"), -1);
  EXPECT_EQ(ExistFile(dir.Board() + "*.BBS"), 1);
  EXPECT_EQ(ExistFile(dir.Board() + "FIVE.B?S"), 1);
  EXPECT_EQ(ExistFile(dir.Board() + "*.MSG"), 0);
  EXPECT_EQ(ExistFile(dir.Board() + "MISSING.BBS"), 0);
  EXPECT_EQ(ExistFile(dir.Board() + "NOSUCHDIR\\*.*"), 0);

  EXPECT_EQ(FileSize(dir.Board() + "MISSING.BBS"), -1);
  EXPECT_EQ(FileSize(dir.Board() + "EMPTY.BBS"), 0);
  EXPECT_EQ(FileSize(dir.Board() + "FIVE.BBS"), 5);
  EXPECT_EQ(FileSize(dir.Board() + "F*"), 5);
}

TEST(FileQueries, StreamSizeIsTheFilesLengthNotTheBufferedData) {
  vt::TempDir dir;
  plat::UniqueFile f(
      plat::OpenFile(dir.Board() + "GROW.BIN", plat::Access::Write, plat::Share::DenyWrite, plat::Mode::Binary));
  ASSERT_TRUE(f);
  ASSERT_EQ(plat::SetStreamBuffer(f.get(), 65536), 1);
  ASSERT_EQ(plat::WriteBytes(f.get(), "abc", 3), 1);
  EXPECT_EQ(FileSize(f.get()), 0) << "the bytes are still in the stream's buffer";
  ASSERT_EQ(plat::FlushFile(f.get()), 1);
  EXPECT_EQ(FileSize(f.get()), 3);
  EXPECT_EQ(plat::CloseFile(f.release()), 1);
}

}  // namespace
