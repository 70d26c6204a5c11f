// tether run as a process on boards built in temporary directories: area
// selection, linking of the header files (compared byte for byte), console
// texts and log lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "link.h"
#include "msgbase.h"
#include "plain_link_pass.h"
#include "program_frames.h"
#include "records.h"
#include "test_support.h"
#include "text.h"

namespace {

const char kNothing[] = "No Message Areas require Linking\n";

struct Msg {
  std::string subject;
  uint16_t replyTo = 0;
  uint16_t nextReply = 0;
  uint8_t attribute = 0;
};

// A header whose bytes outside the links and the subject are all noise, so
// any byte the linker should carry through but does not shows in a compare.
std::string HeaderBytes(const Msg &m, std::mt19937 &noise) {
  MessageHeader h = vt::FilledRecord<MessageHeader>([&](size_t) { return noise(); });
  h.ReplyTo = m.replyTo;
  h.NextReply = m.nextReply;
  h.Attribute = m.attribute;
  vt::SetPas(h.Subject, m.subject);
  return vt::AsBytes(h);
}

// What linking must leave in a header file: the plain scan over the
// range-checked links, written into every whole record only when it linked.
std::string ExpectedLinked(const std::string &file) {
  size_t count = file.size() / sizeof(MessageHeader);
  if (count < 2) return file;
  std::vector<LinkEntry> table(count);
  for (size_t i = 0; i < count; ++i) {
    MessageHeader h = vt::RecordAt<MessageHeader>(file, i);
    table[i].ReplyTo = h.ReplyTo > count ? 0 : h.ReplyTo;
    table[i].NextReply = h.NextReply > count ? 0 : h.NextReply;
    table[i].Excluded = h.Attribute & 1;
    table[i].SubjectKey = SubjectKey(h.Subject);
  }
  if (!PlainLinkPass(table)) return file;
  std::string out = file;
  for (size_t i = 0; i < count; ++i) {
    MessageHeader h = vt::RecordAt<MessageHeader>(file, i);
    h.ReplyTo = table[i].ReplyTo;
    h.NextReply = table[i].NextReply;
    out.replace(i * sizeof h, sizeof h, vt::AsBytes(h));
  }
  return out;
}

class TetherRun : public ::testing::Test {
 protected:
  void SetUp() override {
    config.msgPath = dir.Board() + "MSG\\";
    config.logName = dir.Board() + "TETHER.LOG";
    config.maxMsgAreas = 16;
    vt::WriteBoard(dir.Path(), config);
    vt::MakeDirs(dir / "MSG");
  }

  vt::RunResult Tether(const std::vector<std::string> &args = {}) {
    return vt::Run(TETHER_EXE, args, dir.Path(), {{"VLM", dir.Board()}, {"TASK", ""}});
  }

  // MESSAGES.VLM from (name, type) pairs, area 1 first; the unread bytes
  // hold noise.
  void WriteAreas(const std::vector<std::pair<std::string, int>> &areas) {
    std::string bytes;
    for (const auto &[name, type] : areas) {
      MessageRecord r = vt::FilledRecord<MessageRecord>([&](size_t) { return noise(); });
      vt::SetPas(r.AreaName, name);
      r.AreaType = static_cast<uint8_t>(type);
      bytes += vt::AsBytes(r);
    }
    vt::WriteFile(dir / "MESSAGES.VLM", bytes);
  }
  std::string HeaderPath(unsigned area) {
    std::string sub = StrPrintf("MSG/AREA%u/", (area - 1) / 100 + 1);
    vt::MakeDirs(dir / sub);
    return dir / (sub + StrPrintf("MH%05u.BBS", area));
  }
  std::string WriteHeaders(unsigned area, const std::vector<Msg> &msgs, const std::string &tail = "") {
    std::string bytes;
    for (const Msg &m : msgs) bytes += HeaderBytes(m, noise);
    bytes += tail;
    vt::WriteFile(HeaderPath(area), bytes);
    return bytes;
  }
  std::string Headers(unsigned area) { return vt::ReadFile(HeaderPath(area)); }
  void Mark(const std::string &marks) { vt::WriteFile(dir / "MSG/MSGREPLY.BBS", marks); }

  // The texts of the log's entries, without their times.
  std::vector<std::string> LogTexts() {
    std::vector<std::string> texts;
    std::string log = vt::ReadFile(dir / "TETHER.LOG");
    size_t at = 0;
    while ((at = log.find("\r\n> ", at)) != std::string::npos) {
      size_t start = at + 4 + 10;  // "hh:mm:ss  "
      size_t end = log.find("\r\n", start);
      texts.push_back(log.substr(start, end - start));
      at = end;
    }
    return texts;
  }
  std::vector<std::string> Logged(std::vector<std::string> middle) {
    middle.insert(middle.begin(), "Tether WIN 95/NT Started");
    middle.push_back("Tether Finished");
    return middle;
  }

  vt::TempDir dir;
  vt::BoardConfig config;
  std::mt19937 noise{12345};
};

TEST_F(TetherRun, HelpTouchesNothing) {
  Mark("\1\1");
  vt::RunResult r = Tether({"-?"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(vt::Work(vt::kTether, r.out),
            "Command Line Parameters\n\n"
            "  -LINKALL        Link All Message Areas\n"
            "  -NODE<1..999>   Node Number\n");
  EXPECT_EQ(vt::ReadFile(dir / "MSG/MSGREPLY.BBS"), "\1\1");
  EXPECT_FALSE(vt::FileExists(dir / "TETHER.LOG"));
}

TEST_F(TetherRun, StartupFailureLinksNothing) {
  Mark("\1");
  std::remove((dir / "CONFIG.VLM").c_str());
  vt::RunResult r = Tether();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, vt::kTether.Banner() + "Error: CONFIG.VLM not found\n");
  EXPECT_EQ(vt::ReadFile(dir / "MSG/MSGREPLY.BBS"), "\1");
}

TEST_F(TetherRun, NothingMarked) {
  WriteAreas({{"General", 0}});
  std::string before = WriteHeaders(1, {{"A"}, {"A"}});
  Mark(std::string(16, '\0'));
  vt::RunResult r = Tether();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(vt::Work(vt::kTether, r.out), kNothing);
  EXPECT_EQ(LogTexts(), Logged({}));
  EXPECT_EQ(Headers(1), before);
}

TEST_F(TetherRun, LinksTheMarkedAreasByteForByte) {
  WriteAreas({{"Hello", 0}, {"Tests", 1}, {"Deleted", 2}, {"Existing", 6}, {"Untouched", 8}});
  std::string hello = WriteHeaders(1, {{"Hello"}, {"Re: Hello"}, {"RE:Hello"}});
  std::string tests = WriteHeaders(2, {{"Test"}, {"Test"}, {"Test"}});
  std::string deleted = WriteHeaders(3, {{"x"}, {"X", 0, 0, 0x01}, {"re:x"}});
  // Message 1 already has a successor; message 3 already answers message 2.
  std::string existing = WriteHeaders(4, {{"Old", 0, 2}, {"Old"}, {"Old", 2}, {"Old"}});
  std::string untouched = WriteHeaders(5, {{"Same"}, {"Same"}});
  Mark(std::string("\1\2\xFF\1\0", 5));

  vt::RunResult r = Tether();
  EXPECT_EQ(vt::Work(vt::kTether, r.out),
            "Linking Hello...\nLinking Tests...\nLinking Deleted...\nLinking Existing...\n");
  EXPECT_EQ(LogTexts(), Logged({"Linked Hello", "Linked Tests", "Linked Deleted", "Linked Existing"}));
  EXPECT_EQ(vt::ReadFile(dir / "MSG/MSGREPLY.BBS"), std::string(16, '\0'));

  std::string h = Headers(1);
  EXPECT_EQ(vt::Header(h, 1).NextReply, 3);  // 1 -> 3
  EXPECT_EQ(vt::Header(h, 3).ReplyTo, 1);    // 3 answers 1
  EXPECT_EQ(vt::Header(h, 2).ReplyTo, 0);    // "Re: Hello" keeps its blank and stays alone
  EXPECT_EQ(vt::Header(h, 2).NextReply, 0);
  EXPECT_EQ(h, ExpectedLinked(hello));

  std::string t = Headers(2);
  EXPECT_EQ(vt::Header(t, 1).NextReply, 2);
  EXPECT_EQ(vt::Header(t, 2).ReplyTo, 1);
  EXPECT_EQ(vt::Header(t, 2).NextReply, 3);
  EXPECT_EQ(vt::Header(t, 3).ReplyTo, 2);
  EXPECT_EQ(t, ExpectedLinked(tests));

  std::string d = Headers(3);
  EXPECT_EQ(vt::Header(d, 1).NextReply, 3);
  EXPECT_EQ(vt::Header(d, 3).ReplyTo, 1);
  EXPECT_EQ(vt::AsBytes(vt::Header(d, 2)), vt::AsBytes(vt::Header(deleted, 2)));
  EXPECT_EQ(d, ExpectedLinked(deleted));

  std::string e = Headers(4);
  EXPECT_EQ(vt::Header(e, 1).NextReply, 2);  // kept, not extended
  EXPECT_EQ(vt::Header(e, 2).NextReply, 4);  // 2 answers nothing, but its open end takes 4
  EXPECT_EQ(vt::Header(e, 4).ReplyTo, 2);
  EXPECT_EQ(e, ExpectedLinked(existing));

  EXPECT_EQ(Headers(5), untouched);
}

TEST_F(TetherRun, OutOfRangeLinksAreWrittenBackOnlyWhenSomethingWasLinked) {
  WriteAreas({{"Lonely", 0}, {"Mixed", 0}});
  // Count 3: a ReplyTo of 4 is out of range, 3 is in range.
  std::string lonely = WriteHeaders(1, {{"a", 4}, {"b", 0, 9}, {"c", 3}});
  std::string mixed = WriteHeaders(2, {{"a", 4}, {"a", 0, 9}, {"b", 3, 3}});
  Mark("\1\1");
  vt::RunResult r = Tether();
  EXPECT_EQ(vt::Work(vt::kTether, r.out), "Linking Lonely...\nLinking Mixed...\n");
  // Nothing to join: the file is not written, the log line is written all the same.
  EXPECT_EQ(Headers(1), lonely);
  EXPECT_EQ(LogTexts(), Logged({"Linked Lonely", "Linked Mixed"}));
  std::string m = Headers(2);
  EXPECT_EQ(vt::Header(m, 1).ReplyTo, 0);    // cleared
  EXPECT_EQ(vt::Header(m, 1).NextReply, 2);  // 1 -> 2 (2's NextReply of 9 was out of range)
  EXPECT_EQ(vt::Header(m, 2).ReplyTo, 1);
  EXPECT_EQ(vt::Header(m, 2).NextReply, 0);  // cleared
  EXPECT_EQ(vt::Header(m, 3).ReplyTo, 3);    // in range, kept
  EXPECT_EQ(m, ExpectedLinked(mixed));
}

TEST_F(TetherRun, SmallAndMissingHeaderFilesAreQuiet) {
  WriteAreas({{"Empty", 0}, {"Single", 0}, {"Missing", 0}, {"Ragged", 0}});
  WriteHeaders(1, {});
  std::string single = WriteHeaders(2, {{"a"}}, std::string(185, 'z'));
  // A trailing partial record is neither counted nor changed.
  std::string ragged = WriteHeaders(4, {{"a"}, {"a"}}, "partial record");
  Mark("\1\1\1\1");
  vt::RunResult r = Tether();
  EXPECT_EQ(vt::Work(vt::kTether, r.out), "Linking Ragged...\n");
  EXPECT_EQ(LogTexts(), Logged({"Linked Ragged"}));
  EXPECT_EQ(Headers(1), "");
  EXPECT_EQ(Headers(2), single);
  std::string g = Headers(4);
  EXPECT_EQ(g.size(), ragged.size());
  EXPECT_EQ(g.substr(372), "partial record");
  EXPECT_EQ(vt::Header(g, 1).NextReply, 2);
  EXPECT_EQ(g, ExpectedLinked(ragged.substr(0, 372)) + "partial record");
}

TEST_F(TetherRun, SelectsOnlyLinkedTypesAndUsedSlots) {
  // Types 0, 1, 2, 6, 7 and 8 are linked; 3, 4, 5 and 9 never; slot 11 is
  // unused; areas 13 and 14 lie past the end of MESSAGES.VLM.
  WriteAreas({{"T0", 0}, {"T1", 1}, {"T2", 2}, {"T3", 3}, {"T4", 4}, {"T5", 5}, {"T6", 6}, {"T7", 7},
              {"T8", 8}, {"T9", 9}, {"", 0}, {"T200", 200}});
  std::vector<std::string> before(15);
  for (unsigned a = 1; a <= 14; ++a) before[a] = WriteHeaders(a, {{"s"}, {"s"}});
  Mark(std::string(14, '\1'));
  vt::RunResult r = Tether();
  EXPECT_EQ(vt::Work(vt::kTether, r.out),
            "Linking T0...\nLinking T1...\nLinking T2...\nLinking T6...\nLinking T7...\nLinking T8...\n");
  for (unsigned a : {1, 2, 3, 7, 8, 9}) EXPECT_EQ(vt::Header(Headers(a), 1).NextReply, 2) << a;
  for (unsigned a : {4, 5, 6, 10, 11, 12, 13, 14}) EXPECT_EQ(Headers(a), before[a]) << a;
  EXPECT_EQ(vt::ReadFile(dir / "MSG/MSGREPLY.BBS"), std::string(16, '\0'));
}

TEST_F(TetherRun, LinkAllInEveryFormReadsEveryArea) {
  WriteAreas({{"One", 0}, {"Two", 2}});
  for (const char *form : {"-LINKALL", "/linkall", "-linkall", "-LINKALLAREAS"}) {
    WriteHeaders(1, {{"s"}, {"s"}});
    WriteHeaders(2, {{"s"}, {"s"}});
    Mark(std::string("\0\0\3", 3));
    vt::RunResult r = Tether({form});
    EXPECT_EQ(vt::Work(vt::kTether, r.out), "Linking One...\nLinking Two...\n") << form;
    EXPECT_EQ(vt::Header(Headers(2), 1).NextReply, 2) << form;
    EXPECT_EQ(vt::ReadFile(dir / "MSG/MSGREPLY.BBS"), std::string(16, '\0')) << form;
  }
}

TEST_F(TetherRun, NothingToLinkWhenNoAreaQualifies) {
  WriteAreas({{"Netmail", 5}, {"", 0}, {"Netmail2", 5}});
  std::string before = WriteHeaders(1, {{"s"}, {"s"}});
  Mark("\1");
  EXPECT_EQ(vt::Work(vt::kTether, Tether({"-LINKALL"}).out), kNothing);
  EXPECT_EQ(Headers(1), before);

  config.maxMsgAreas = 0;
  vt::WriteBoard(dir.Path(), config);
  WriteAreas({{"General", 0}});
  WriteHeaders(1, {{"s"}, {"s"}});
  EXPECT_EQ(vt::Work(vt::kTether, Tether({"-LINKALL"}).out), kNothing);
}

TEST_F(TetherRun, MissingMarksFileIsReported) {
  WriteAreas({{"General", 0}});
  WriteHeaders(1, {{"s"}, {"s"}});
  const std::string noMarks = std::string(std::strerror(ENOENT)) + " opening " + config.msgPath + "MSGREPLY.BBS\n";
  vt::RunResult r = Tether();
  EXPECT_EQ(vt::Work(vt::kTether, r.out), noMarks + kNothing);
  EXPECT_FALSE(vt::FileExists(dir / "MSG/MSGREPLY.BBS"));
  // A board where no area has new mail may have no marks file: no failure.
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(LogTexts(), Logged({}));

  // Without MESSAGES.VLM as well: both files are reported, the marks file first.
  std::remove((dir / "MESSAGES.VLM").c_str());
  r = Tether();
  EXPECT_EQ(vt::Work(vt::kTether, r.out),
            noMarks + std::strerror(ENOENT) + " opening " + dir.Board() + "MESSAGES.VLM\n");
  EXPECT_FALSE(vt::FileExists(dir / "MSG/MSGREPLY.BBS"));
  EXPECT_EQ(r.status, 2);
}

TEST_F(TetherRun, MarksSurviveAMissingAreaFile) {
  Mark(std::string("\1\0\1", 3));
  vt::RunResult r = Tether();
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(vt::Work(vt::kTether, r.out),
            std::string(std::strerror(ENOENT)) + " opening " + dir.Board() + "MESSAGES.VLM\n");
  EXPECT_EQ(LogTexts(), Logged({std::string(std::strerror(ENOENT)) + " opening " + dir.Board() + "MESSAGES.VLM"}));
  // Nothing could be linked, so the marks wait for the next run.
  EXPECT_EQ(vt::ReadFile(dir / "MSG/MSGREPLY.BBS"), std::string("\1\0\1", 3));

  WriteAreas({{"General", 0}, {"Other", 0}, {"Third", 0}});
  WriteHeaders(1, {{"s"}, {"s"}});
  r = Tether();
  EXPECT_EQ(vt::Work(vt::kTether, r.out), "Linking General...\n");
  EXPECT_EQ(vt::Header(Headers(1), 1).NextReply, 2);
}

TEST_F(TetherRun, ThreeThousandMessagesInSeveralPieces) {
  std::mt19937 rng(99);
  std::vector<Msg> msgs(3000);
  const char *subjects[] = {"Alpha", "RE:Alpha", "Beta", "re:beta", "Re: Beta", "Gamma", "", "Re:"};
  for (Msg &m : msgs) {
    m.subject = subjects[rng() % 8];
    if (rng() % 10 == 0) m.attribute = 0x01;
    if (rng() % 8 == 0) m.replyTo = static_cast<uint16_t>(rng() % 3100);
    if (rng() % 8 == 0) m.nextReply = static_cast<uint16_t>(rng() % 3100);
  }
  // The last links of the file join messages of the second and third pieces.
  msgs[2999] = {"Unique end"};
  msgs[1500] = {"Unique end"};
  WriteAreas({{"Busy", 0}});
  std::string before = WriteHeaders(1, msgs);
  Mark("\1");
  vt::RunResult r = Tether();
  EXPECT_EQ(vt::Work(vt::kTether, r.out), "Linking Busy...\n");
  std::string after = Headers(1);
  EXPECT_EQ(vt::Header(after, 1501).NextReply, 3000);
  EXPECT_EQ(vt::Header(after, 3000).ReplyTo, 1501);
  EXPECT_EQ(after, ExpectedLinked(before));
}

TEST_F(TetherRun, AreaBeyondSixteenBitNumbersIsLeftAlone) {
  WriteAreas({{"Huge", 0}, {"Next", 0}});
  MessageHeader same{};
  vt::SetPas(same.Subject, "same");
  std::string huge;
  for (size_t i = 0; i < 65536; ++i) huge += vt::AsBytes(same);
  vt::WriteFile(HeaderPath(1), huge);
  WriteHeaders(2, {{"s"}, {"s"}});
  Mark("\1\1");
  vt::RunResult r = Tether();
  EXPECT_EQ(vt::Work(vt::kTether, r.out), "Linking Huge...\n" + config.msgPath +
                                              "AREA1\\MH00001.BBS holds 65536 messages, more than 65535: not linked\n"
                                              "Linking Next...\n");
  EXPECT_EQ(Headers(1), huge);
  EXPECT_EQ(LogTexts(), Logged({"Not linked Huge: more than 65535 messages", "Linked Next"}));
  EXPECT_EQ(r.status, 2) << "an area not linked is work left undone";
}

}  // namespace

namespace {

// A write that fails at any point is reported and never touches more than the
// link fields; a run stopped at any point leaves every message's other bytes.
TEST_F(TetherRun, FailedOrInterruptedWritesKeepTheMessages) {
  std::vector<Msg> msgs(3000, Msg{"Same"});
  WriteAreas({{"Busy", 0}});
  std::string before;
  auto runWithFault = [&](long at, const char *mode) {
    std::remove((dir / "TETHER.LOG").c_str());
    before = WriteHeaders(1, msgs);
    Mark("\1");
    return vt::Run(TETHER_EXE, {}, dir.Path(),
                   {{"VLM", dir.Board()}, {"TASK", ""}, {"VLM_FAULT_AT", std::to_string(at)}, {"VLM_FAULT_MODE", mode}});
  };
  const long operations = vt::CountFaultOperations([&](long at) { return runWithFault(at, "exit"); });
  bool sawWriteError = false;
  for (const char *mode : {"fail", "exit"}) {
    for (long at = 1; at <= operations; ++at) {
      vt::RunResult r = runWithFault(at, mode);
      std::string after = Headers(1);
      ASSERT_EQ(after.size(), before.size()) << mode << " " << at;
      for (size_t i = 0; i < 3000; ++i)
        ASSERT_EQ(after.substr(i * 186 + 4, 182), before.substr(i * 186 + 4, 182)) << mode << " " << at;
      if (std::string(mode) == "fail") {
        // A failure the run reports ends it with status 2; the marks file
        // clearing and the log's close fail silently.
        EXPECT_EQ(r.status, r.out.find(std::strerror(EIO)) != std::string::npos ? 2 : 0) << at << r.out;
        if (r.out.find(" writing ") != std::string::npos) {
          sawWriteError = true;
          EXPECT_NE(r.out.find("Linking Busy...\n" + std::string(std::strerror(EIO)) + " writing " + config.msgPath +
                               "AREA1\\MH00001.BBS\n"),
                    std::string::npos)
              << r.out;
          for (const std::string &text : LogTexts()) EXPECT_NE(text, "Linked Busy");
        }
      } else {
        EXPECT_EQ(r.status, 86);
      }
    }
  }
  std::printf("fail and exit at each of %ld operations\n", operations);
  EXPECT_TRUE(sawWriteError);
}

}  // namespace
