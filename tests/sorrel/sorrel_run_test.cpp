// sorrel run as a process: the skipping and packing paths, the limits,
// renumbering of links and next-read numbers, fast mail records, attached
// files, the clean-up of old boards and the counts.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sorrel.h"
#include "sorrel_board.h"

namespace {

using st::Msg;

std::vector<Msg> Numbered(int n, const std::string &prefix = "m") {
  std::vector<Msg> v(n);
  for (int i = 0; i < n; ++i) {
    v[i].subject = prefix + std::to_string(i + 1);
    v[i].text = "text of " + prefix + std::to_string(i + 1) + std::string(i % 7, '.');
  }
  return v;
}

// The texts as packing leaves them: the last byte of each written as 0.
std::string Packed(const std::string &text) {
  std::string t = text;
  if (!t.empty() && t.size() % 65536 != 0) t.back() = '\0';
  return t;
}

class SorrelRun : public ::testing::Test {
 protected:
  void SetUp() override { vt::WriteFile(board.dir / "MSG/MSGCOUNT.BBS", std::string(32, '\x55')); }
  st::Board board;
};

TEST_F(SorrelRun, AreaWithNothingDeletedIsOnlyRead) {
  board.areas.push_back({.name = "  General  ", .msgs = Numbered(3)});
  board.Write();
  std::string headers = board.Headers(1), texts = board.Texts(1);
  auto r = board.Run({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(vt::Work(vt::kSorrel, r.out), "Searching General...\rSkipping  General...\n");
  EXPECT_EQ(board.Headers(1), headers);
  EXPECT_EQ(board.Texts(1), texts);
  EXPECT_EQ(board.Log().find("Packed"), std::string::npos);
  EXPECT_EQ(board.MsgCount(), (std::vector<uint16_t>{3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(vt::FileExists(board.dir / "MSG/MSGDLTD.BBS"));
}

TEST_F(SorrelRun, LinkingWithNothingDeletedRewritesTheLinksInPlace) {
  std::vector<Msg> msgs(4);
  msgs[0].subject = "Hello";
  msgs[1].subject = "Re: Hello";
  msgs[2].subject = "RE:Hello";
  msgs[3].subject = "RE: Hello";
  board.areas.push_back({.msgs = msgs});
  board.Write();
  vt::WriteFile(board.dir / "MSG/MSGREPLY.BBS", std::string("\1", 1));
  std::string before = board.Headers(1);
  auto r = board.Run({"-LINK"});
  EXPECT_EQ(vt::Work(vt::kSorrel, r.out), "Searching Area...\rSkipping  Area...\n");
  std::string after = board.Headers(1);
  // Hello -> RE:Hello, Re: Hello -> RE: Hello (the blank stays in the key).
  EXPECT_EQ(vt::Header(after, 1).NextReply, 3);
  EXPECT_EQ(vt::Header(after, 3).ReplyTo, 1);
  EXPECT_EQ(vt::Header(after, 2).NextReply, 4);
  EXPECT_EQ(vt::Header(after, 4).ReplyTo, 2);
  for (size_t n = 1; n <= 4; ++n) EXPECT_EQ(vt::Unlinked(after, n), vt::Unlinked(before, n)) << n;
  EXPECT_EQ(board.Log().find("Packed"), std::string::npos);
  EXPECT_EQ(vt::ReadFile(board.dir / "MSG/MSGREPLY.BBS"), std::string(16, '\0'));
}

TEST_F(SorrelRun, DeletedCorruptAndLimitedMessagesGoExemptOnesStay) {
  std::vector<Msg> msgs = Numbered(8);
  msgs[0].attribute = 0x01;              // deleted
  msgs[1].subjectCount = 73;             // corrupt: one more than the field holds
  msgs[2].written = st::kOld;            // too old
  msgs[3].written = st::kOld;            // too old but exempt
  msgs[3].attribute = 0x80;
  msgs[4].attribute = 0x81;              // exempt and deleted: goes
  msgs[5].attribute = 0x10;              // received long ago
  msgs[5].received = st::kOld;
  board.areas.push_back({.name = "Limits", .keepDays = 30, .keepRecvDays = 10, .msgs = msgs});
  board.Write();
  auto r = board.Run({});
  EXPECT_EQ(vt::Work(vt::kSorrel, r.out), "Searching Limits...\rPacking   Limits...\n");
  ASSERT_EQ(board.Count(1), 3u);
  EXPECT_EQ(board.Subject(1, 1), "m4");
  EXPECT_EQ(board.Subject(1, 2), "m7");
  EXPECT_EQ(board.Subject(1, 3), "m8");
  EXPECT_EQ(board.TextOf(1, 1), Packed(msgs[3].text));
  EXPECT_EQ(board.Texts(1), Packed(msgs[3].text) + Packed(msgs[6].text) + Packed(msgs[7].text));
  EXPECT_NE(board.Log().find("Packed (    5) Limits"), std::string::npos);
  EXPECT_EQ(board.MsgCount()[0], 3);

  // With -DISABLEDEL only the deleted and the corrupt ones would have gone.
  board.areas[0].msgs = msgs;
  board.Write();
  board.Run({"-DISABLEDEL"});
  EXPECT_EQ(board.Count(1), 5u);
  EXPECT_EQ(board.Subject(1, 1), "m3");
}

TEST_F(SorrelRun, CountLimitTakesTheOldestPassingOverExemptOnes) {
  std::vector<Msg> msgs = Numbered(150);
  msgs[9].attribute = 0x80;
  board.areas.push_back({.maxMsgs = 100, .msgs = msgs});
  // A second area over its limit only through exempt messages.
  std::vector<Msg> exempt = Numbered(3, "e");
  for (Msg &m : exempt) m.attribute = 0x80;
  board.areas.push_back({.name = "Exempt", .maxMsgs = 2, .msgs = exempt});
  board.Write();
  board.Run({});
  ASSERT_EQ(board.Count(1), 100u);
  EXPECT_EQ(board.Subject(1, 1), "m10");  // exempt, kept
  EXPECT_EQ(board.Subject(1, 2), "m52");  // 1-9 and 11-51 removed
  EXPECT_EQ(board.Subject(1, 100), "m150");
  EXPECT_EQ(board.Count(2), 3u);
  EXPECT_NE(board.Log().find("Packed (    0) Exempt"), std::string::npos);
  EXPECT_NE(board.Log().find("Packed (   50) Area"), std::string::npos);
}

TEST_F(SorrelRun, SizeLimitKeepsTheAreaUnderItsKilobytes) {
  std::vector<Msg> msgs = Numbered(10);
  for (Msg &m : msgs) m.text = std::string(1024 - sizeof(MessageHeader), 'x');  // one kilobyte with its header
  board.areas.push_back({.maxKilobytes = 4, .msgs = msgs});
  board.Write();
  board.Run({});
  EXPECT_EQ(board.Count(1), 4u);
  EXPECT_EQ(board.Subject(1, 1), "m7");
}

TEST_F(SorrelRun, LinksAndNextReadNumbersFollowTheNewNumbers) {
  board.Users({"SYSOP", "ANN", "BOB", "CAT", "DAN"});
  std::vector<Msg> msgs = Numbered(10);
  for (int i = 4; i < 8; ++i) msgs[i].attribute = 0x01;  // 5-8 deleted
  // Existing chain 2 -> 5 -> 6 -> 9 collapses onto 2 -> 9.
  msgs[1].nextReply = 5;
  msgs[4].replyTo = 2;
  msgs[4].nextReply = 6;
  msgs[5].replyTo = 5;
  msgs[5].nextReply = 9;
  msgs[8].replyTo = 6;
  msgs[9].replyTo = 40;  // out of range
  board.areas.push_back({.msgs = msgs});
  board.Write();
  board.SetNextRead(0, 1, 7);
  board.SetNextRead(1, 1, 11);
  board.SetNextRead(2, 1, 0);
  board.SetNextRead(3, 1, 1);
  board.SetNextRead(4, 1, 10);
  std::string lastComb = vt::ReadFile(board.dir / "USERS/LASTCOMB.BBS");
  board.Run({});
  std::string h = board.Headers(1);
  ASSERT_EQ(board.Count(1), 6u);
  EXPECT_EQ(vt::Header(h, 2).NextReply, 5);  // former 2 -> former 9, now 5
  EXPECT_EQ(vt::Header(h, 5).ReplyTo, 2);
  EXPECT_EQ(vt::Header(h, 6).ReplyTo, 0);  // out of range cleared
  EXPECT_EQ(board.NextRead(0, 1), 5);
  EXPECT_EQ(board.NextRead(1, 1), 7);
  EXPECT_EQ(board.NextRead(2, 1), 0);
  EXPECT_EQ(board.NextRead(3, 1), 1);
  EXPECT_EQ(board.NextRead(4, 1), 6);
  // Nothing else of LASTCOMB.BBS changed.
  std::string after = vt::ReadFile(board.dir / "USERS/LASTCOMB.BBS");
  for (size_t u = 0; u < 5; ++u) vt::PutU16(lastComb, board.NextReadOffset(u, 1), board.NextRead(u, 1));
  EXPECT_EQ(after, lastComb);
}

TEST_F(SorrelRun, LinkingDuringPackingSkipsTheRemovedMessages) {
  std::vector<Msg> msgs(3);
  for (Msg &m : msgs) m.subject = "A";
  msgs[1].attribute = 0x01;
  board.areas.push_back({.msgs = msgs});
  board.Write();
  board.Run({"-LINKALL"});
  std::string h = board.Headers(1);
  ASSERT_EQ(board.Count(1), 2u);
  EXPECT_EQ(vt::Header(h, 1).NextReply, 2);
  EXPECT_EQ(vt::Header(h, 2).ReplyTo, 1);
}

TEST_F(SorrelRun, EveryMessageDeletedRemovesTheFilesAndResetsNextRead) {
  board.Users({"SYSOP", "ANN"});
  std::vector<Msg> msgs = Numbered(3);
  for (Msg &m : msgs) m.attribute = 0x01;
  board.areas.push_back({.name = "Gone", .msgs = msgs});
  board.Write();
  board.SetNextRead(0, 1, 3);
  auto r = board.Run({});
  EXPECT_EQ(vt::Work(vt::kSorrel, r.out), "Searching Gone...\rPacking   Gone...\n");
  EXPECT_FALSE(vt::FileExists(board.HeaderPath(1)));
  EXPECT_FALSE(vt::FileExists(board.TextPath(1)));
  EXPECT_EQ(board.NextRead(0, 1), 1);
  EXPECT_EQ(board.NextRead(1, 1), 1);
  EXPECT_EQ(board.Log().find("Packed"), std::string::npos);
  EXPECT_EQ(board.MsgCount()[0], 0);
}

TEST_F(SorrelRun, ThreeThousandMessagesInThreePieces) {
  std::vector<Msg> msgs = Numbered(3000);
  for (int i = 0; i < 3000; i += 3) msgs[i].attribute = 0x01;
  for (Msg &m : msgs) m.subject = "Same";
  board.areas.push_back({.msgs = msgs});
  board.Write();
  board.Run({"-LINKALL"});
  ASSERT_EQ(board.Count(1), 2000u);
  std::string h = board.Headers(1);
  for (size_t n = 1; n <= 2000; ++n) {
    size_t old = (n - 1) / 2 * 3 + (n - 1) % 2 + 2;  // former number
    ASSERT_EQ(board.TextOf(1, n), Packed(msgs[old - 1].text)) << n;
    ASSERT_EQ(vt::Header(h, n).ReplyTo, n - 1) << n;
    ASSERT_EQ(vt::Header(h, n).NextReply, n == 2000 ? 0 : n + 1) << n;
  }
}

TEST_F(SorrelRun, TextsAreCopiedInPiecesAndShortTextsKeepWhatWasThere) {
  std::vector<Msg> msgs(5);
  msgs[0].attribute = 0x01;
  msgs[1].text = std::string(65536, 'a');
  msgs[2].text = std::string(100, 'b');
  msgs[3].text = std::string(65536 + 10, 'c');
  msgs[4].text = "end";
  msgs[4].extraLength = 50;  // claims 50 bytes the text file does not hold
  board.areas.push_back({.msgs = msgs});
  board.Write();
  board.Run({});
  std::string h = board.Headers(1);
  EXPECT_EQ(board.TextOf(1, 1), msgs[1].text);
  EXPECT_EQ(board.TextOf(1, 2), std::string(99, 'b') + '\0');
  EXPECT_EQ(board.TextOf(1, 3), std::string(65536, 'c') + std::string(9, 'c') + '\0');
  EXPECT_EQ(vt::Header(h, 4).TextLength, 3);
  EXPECT_EQ(board.TextOf(1, 4), std::string("en\0", 3));
  EXPECT_EQ(board.Texts(1).size(), 65536u + 100 + 65546 + 3);
}

TEST_F(SorrelRun, FastMailRecordsFollowTheRule) {
  board.Users({"SYSOP", "ANN"}, {"Sysop", "Annie"});
  std::vector<Msg> msgs = Numbered(10);
  msgs[2].attribute = msgs[3].attribute = 0x01;  // 3 and 4 removed
  msgs[5].attribute = 0x10;                      // received: no record
  msgs[6].to = "All";                            // ALL outside type 5: none
  msgs[7].to = "ALL USERS";                      // not ALL: the general rule
  msgs[8].to = "annie";
  board.areas.push_back({.flags = 0x10, .msgs = msgs});
  std::vector<Msg> seven = Numbered(2);
  board.areas.push_back({.type = 7, .flags2 = 0x02, .msgs = seven});  // skipped: none
  std::vector<Msg> sevenPacked = Numbered(3);
  sevenPacked[0].attribute = 0x01;
  board.areas.push_back({.type = 7, .flags = 0x10, .msgs = sevenPacked});
  std::vector<Msg> five = Numbered(2);
  five[0].to = "ALL";
  board.areas.push_back({.type = 5, .flags = 0x10, .msgs = five});
  board.areas.push_back({.flags = 0x00, .msgs = Numbered(2)});  // not in the mail check
  board.Write();

  using V = std::vector<std::pair<uint16_t, uint16_t>>;
  board.Run({});
  EXPECT_EQ(board.FastMail(), (V{{1, 1}, {1, 2}, {1, 3}, {1, 6}, {1, 7}, {1, 8}, {3, 1}, {3, 2}, {4, 1}, {4, 2}}));

  // With -FASTMAIL only known names: ALL USERS is not one of them.
  board.areas[2].msgs = sevenPacked;
  board.Write();
  board.Run({"-FASTMAIL"});
  EXPECT_EQ(board.FastMail(), (V{{1, 1}, {1, 2}, {1, 3}, {1, 7}, {1, 8}, {3, 1}, {3, 2}, {4, 1}, {4, 2}}));
  EXPECT_NE(board.Log().find("Create Fast Mail Checks"), std::string::npos);
  // The key of the first record is that of SYSOP.
  std::string fast = vt::ReadFile(board.dir / "MSG/MSGFAST.BBS");
  uint8_t sysop[36] = {5, 'S', 'Y', 'S', 'O', 'P'};
  EXPECT_EQ(vt::RecordAt<MsgFastRecord>(fast, 0).NameKey, GetPasStringCRC(sysop));
}

TEST_F(SorrelRun, AttachmentsOfDeletedMessagesAreErased) {
  vt::MakeDirs(board.dir / "ATTACH/~@000001");
  vt::MakeDirs(board.dir / "ATTACH/~@000002");
  vt::WriteFile(board.dir / "ATTACH/~@000001/report.zip", "r");
  vt::WriteFile(board.dir / "ATTACH/~@000001/Data.txt", "d");
  vt::WriteFile(board.dir / "ATTACH/~@000002/KEEP.ZIP", "k");
  // Relative to the board directory, so the subjects stay within 72 characters.
  board.config.attachPath = "ATTACH\\";
  std::string attach = "ATTACH\\";
  vt::MakeDirs(board.dir / "ATTACH/~@000003");
  vt::WriteFile(board.dir / "ATTACH/~@000003/X.ZIP", "x");
  std::vector<Msg> msgs(3);
  msgs[0].attribute = 0x01;
  msgs[0].attribute2 = 0x04;
  msgs[0].subject = attach + "~@000001\\REPORT.ZIP " + attach + "~@000001\\DATA.TXT";
  msgs[1].attribute2 = 0x04;
  msgs[1].subject = attach + "~@000002\\KEEP.ZIP";
  // A corrupt header's subject is cut to its field when handed on.
  msgs[2].attribute = 0x01;
  msgs[2].attribute2 = 0x04;
  msgs[2].subject = attach + "~@000003\\X.ZIP";
  msgs[2].subjectCount = 200;
  board.areas.push_back({.flags = 0x20, .msgs = msgs});
  board.Write();
  board.Run({});
  EXPECT_FALSE(vt::FileExists(board.dir / "ATTACH/~@000001/report.zip"));
  EXPECT_FALSE(vt::FileExists(board.dir / "ATTACH/~@000001"));
  EXPECT_TRUE(vt::FileExists(board.dir / "ATTACH/~@000002/KEEP.ZIP"));
  EXPECT_FALSE(vt::FileExists(board.dir / "ATTACH/~@000003"));
  EXPECT_EQ(board.Count(1), 1u);
}

TEST_F(SorrelRun, AttachmentNamedWithForwardSlashesIsErasedWhereItLies) {
  vt::MakeDirs(board.dir / "ATTACH/~@000001");
  vt::WriteFile(board.dir / "ATTACH/~@000001/REPORT.ZIP", "r");
  vt::WriteFile(board.dir / "REPORT.ZIP", "same name in the current directory");
  board.config.attachPath = "ATTACH\\";
  // A host path on POSIX; a Windows temporary directory would not fit the
  // subject's 72 characters, so there the path relative to the board.
  std::string where = vt::HostIsPosix() ? board.dir.Path() : "";
  std::vector<Msg> msgs(2);
  msgs[0].attribute = 0x01;
  msgs[0].attribute2 = 0x04;
  msgs[0].subject = where + "ATTACH/~@000001/REPORT.ZIP";
  board.areas.push_back({.flags = 0x20, .msgs = msgs});
  board.Write();
  board.Run({});
  EXPECT_FALSE(vt::FileExists(board.dir / "ATTACH/~@000001/REPORT.ZIP"));
  EXPECT_FALSE(vt::FileExists(board.dir / "ATTACH/~@000001"));
  EXPECT_EQ(vt::ReadFile(board.dir / "REPORT.ZIP"), "same name in the current directory");
  EXPECT_EQ(board.Count(1), 1u);
}

TEST_F(SorrelRun, CleanupRemovesOldBoardsAndLoneFiles) {
  board.Users({"SYSOP", "ANN"});
  board.areas.push_back({.msgs = Numbered(2)});
  board.areas.push_back({.name = "Unused", .type = 3, .msgs = {}});
  board.areas.push_back({.name = "", .msgs = {}});
  board.areas.push_back({});  // configured, only its header file left
  board.Write();
  board.WriteAreaFiles(2, Numbered(1));
  board.WriteAreaFiles(3, Numbered(1));
  board.WriteAreaFiles(4, Numbered(1));
  std::remove(board.TextPath(4).c_str());
  board.WriteAreaFiles(9, Numbered(1));  // beyond MESSAGES.VLM: never touched

  auto r = board.Run({});
  EXPECT_TRUE(vt::FileExists(board.HeaderPath(2)));
  EXPECT_TRUE(vt::FileExists(board.HeaderPath(4)));
  EXPECT_EQ(vt::Work(vt::kSorrel, r.out), "Searching Area...\rSkipping  Area...\n");

  r = board.Run({"-CLEANUP"});
  EXPECT_EQ(vt::Work(vt::kSorrel, r.out),
            "Searching Area...\rSkipping  Area...\nDeleting Old Msg Board 2\nDeleting Old Msg Board 3\n");
  for (uint16_t a : {2, 3, 4}) {
    EXPECT_FALSE(vt::FileExists(board.HeaderPath(a))) << a;
    EXPECT_FALSE(vt::FileExists(board.TextPath(a))) << a;
  }
  EXPECT_EQ(board.NextRead(1, 2), 1);
  EXPECT_EQ(board.NextRead(1, 3), 1);
  EXPECT_EQ(board.NextRead(1, 4), 0x4444);
  EXPECT_TRUE(vt::FileExists(board.HeaderPath(9)));
}

TEST_F(SorrelRun, CountsNeedAnExistingFileAndDeletedMarkerGoes) {
  board.areas.push_back({.msgs = Numbered(2)});
  board.Write();
  std::remove((board.dir / "MSG/MSGCOUNT.BBS").c_str());
  vt::WriteFile(board.dir / "MSG/MSGDLTD.BBS", "x");
  auto r = board.Run({});
  EXPECT_EQ(vt::Work(vt::kSorrel, r.out), "Searching Area...\rSkipping  Area...\n");
  EXPECT_FALSE(vt::FileExists(board.dir / "MSG/MSGCOUNT.BBS"));
  EXPECT_FALSE(vt::FileExists(board.dir / "MSG/MSGDLTD.BBS"));
}

TEST_F(SorrelRun, AreaTooLargeToNumberIsLeftAsItIs) {
  board.areas.push_back({.name = "Huge", .msgs = {}});
  board.Write();
  std::string headers(65536 * sizeof(MessageHeader), '\0');
  vt::WriteFile(board.HeaderPath(1), headers);
  vt::WriteFile(board.TextPath(1), "");
  auto r = board.Run({});
  EXPECT_NE(vt::Work(vt::kSorrel, r.out).find("holds 65536 messages, more than 65535: not packed"), std::string::npos);
  EXPECT_EQ(r.status, 2) << "an area not packed is work left undone";
  EXPECT_EQ(board.Headers(1).size(), headers.size());
  EXPECT_EQ(board.MsgCount()[0], 0);
}

// Status 0 only when everything asked was done: a board's normal absences
// do not count, a failure counts and is written to the log.
TEST_F(SorrelRun, ExitStatusAndLoggedFailures) {
  std::vector<Msg> msgs = Numbered(3);
  msgs[0].attribute = 0x01;
  board.areas.push_back({.name = "Busy", .msgs = msgs});
  board.Write();
  std::remove((board.dir / "MSG/MSGCOUNT.BBS").c_str());
  const std::string noReplies = std::string(std::strerror(ENOENT)) + " opening " + board.config.msgPath + "MSGREPLY.BBS";
  // No MSGCOUNT.BBS and no MSGREPLY.BBS yet: said as always, no failure.
  const std::string foreign = board.AreaDir(1) + "MH00001.NEW";
  vt::WriteFile(foreign, "not ours");
  auto r = board.Run({"-LINK", "-N2"});
  EXPECT_EQ(r.status, 2);
  const std::string refused = "File exists creating " + board.config.msgPath + "AREA1\\MH00001.NEW";
  EXPECT_EQ(vt::Work(vt::kSorrel, r.out), noReplies + "\nSearching Busy...\rPacking   Busy..." + refused + "\n\n");
  EXPECT_NE(board.Log().find("  " + refused + "\r\n"), std::string::npos) << board.Log();
  EXPECT_EQ(board.Log().find("MSGREPLY"), std::string::npos) << "a normal absence is not logged";

  std::remove(foreign.c_str());
  r = board.Run({"-LINK"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(board.Count(1), 2u);

  std::remove((board.dir / "MESSAGES.VLM").c_str());
  r = board.Run({});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(board.Log().find("  " + std::string(std::strerror(ENOENT)) + " opening " + board.dir.Board() +
                             "MESSAGES.VLM\r\n"),
            std::string::npos);
}

TEST_F(SorrelRun, HelpText) {
  board.Write();
  auto r = board.Run({"-?"});
  EXPECT_EQ(vt::Work(vt::kSorrel, r.out),
            "\n                   SORREL always Compresses/Renumbers the Message Base\n"
            " -CLEANUP          Cleans up unused message boards\n"
            " -LINK             Links reply chains in messages with new Echomail/Netmail\n"
            " -LINKALL          Links EVERY echomail/netmail message area\n"
            " -FASTMAIL         Makes Velmora Mail Check Faster\n"
            " -DISABLEDEL       Disables deleting of messages by Days/Recv/Number/Kilobytes\n"
            " -NODE<1..999>     Node Number\n\neg. SORREL -LINK -N2\n");
  EXPECT_EQ(r.out.substr(0, 51), "Sorrel WIN 95/NT V1.48.  Velmora Message Base Maint");
}

}  // namespace
