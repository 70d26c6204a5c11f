// vlmcheck run as a process: a healthy board, one broken board per kind of
// problem, the figures of what a pack would remove against what sorrel then
// removes, the switches.  No run may change a file of the board.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>

#include "fast_index.h"
#include "index_record.h"
#include "message_board.h"
#include "program_frames.h"
#include "records.h"

namespace {

namespace fs = std::filesystem;
using st::Msg;

std::string Work(const std::string &out) { return vt::Work(vt::kVlmcheck, out); }

std::vector<std::string> Problems(const std::string &out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  const std::string lead = "  Problem: ";
  for (std::string line; std::getline(in, line);)
    if (line.rfind(lead, 0) == 0) lines.push_back(line.substr(lead.size()));
  return lines;
}

// Every file under the board with its bytes and modification time.
using Snapshot = std::map<std::string, std::pair<std::string, fs::file_time_type>>;
Snapshot Files(const vt::TempDir &dir, const std::string &log) {
  Snapshot s;
  for (const auto &e : fs::recursive_directory_iterator(dir.Path())) {
    if (!e.is_regular_file() || e.path().filename() == log) continue;
    s[e.path().string()] = {vt::ReadFile(e.path().string()), fs::last_write_time(e.path())};
  }
  return s;
}
// Dates every file two days back, so a write would show in its time.
void DateBack(const vt::TempDir &dir) {
  for (const auto &e : fs::recursive_directory_iterator(dir.Path()))
    if (e.is_regular_file()) fs::last_write_time(e.path(), fs::file_time_type::clock::now() - std::chrono::hours(48));
}

std::string FastMail(uint16_t area, uint16_t message) {
  MsgFastRecord r{};
  r.Area = area;
  r.Message = message;
  return vt::AsBytes(r);
}

// Record `index` of a file as `change` edits it.
template <typename T, typename Change>
void Edit(const std::string &path, size_t index, Change change) {
  std::string b = vt::ReadFile(path);
  vt::EditRecord<T>(b, index, change);
  vt::WriteFile(path, b);
}

class Check : public ::testing::Test {
 protected:
  // A board as the programs and the board leave it: mutual reply links, a
  // deleted message, an exempt one, an area without files, a slot not in
  // use, a count below the messages (a post arrived since the run),
  // next-read numbers up to count + 1, fast mail records, a sorted index
  // with its table and total.
  void SetUp() override {
    board.config.fastIndexPath = board.dir.Board() + "FFIND\\";
    vt::MakeDirs(board.dir / "FFIND");
    std::vector<Msg> general(3);
    general[0] = {.to = "ALICE", .subject = "Hello", .text = "first", .nextReply = 2};
    general[1] = {.from = "ALICE", .subject = "RE:Hello", .text = "second", .attribute = 0x10, .replyTo = 1};
    general[2] = {.subject = "Spam", .text = "spam", .attribute = 0x01};
    std::vector<Msg> echo(4);
    echo[0] = {.text = "a", .attribute = 0x80, .written = st::kOld};
    echo[1].text = "bb";
    echo[2].text = "ccc";
    echo[3].text = "dddd";
    board.areas = {{.name = "General", .flags = 0x10, .msgs = general},
                   {.name = "Echo", .type = 1, .keepDays = 30, .maxMsgs = 10, .msgs = echo},
                   {.name = "Reserved", .type = 3, .msgs = {}},
                   {.name = "Empty", .type = 5, .msgs = {}}};
    board.Users({"SYSOP", "ALICE"});
    board.Write();
    for (auto [user, area, value] : {std::tuple{0, 1, 4}, {0, 2, 1}, {0, 4, 0}, {1, 1, 2}, {1, 2, 5}, {1, 4, 1}})
      board.SetNextRead(size_t(user), uint16_t(area), uint16_t(value));
    uint16_t counts[16] = {3, 3};
    vt::WriteFile(board.dir / "MSG/MSGCOUNT.BBS", vt::AsBytes(counts));
    vt::WriteFile(board.dir / "MSG/MSGFAST.BBS", FastMail(1, 1) + FastMail(2, 4));

    vt::WriteFile(board.dir / "FFIND/FFIDX.BBS",
                  Record("A       .ZIP", 1, 2048) + Record("AB      .TXT", 1, 1000) + Record("B       .EXE", 2, 5000));
    int32_t table[kIndexPointerCount];
    std::fill(std::begin(table), std::end(table), -1);
    table[0] = 0;   // A and a blank
    table[2] = 1;   // AB
    table[28] = 2;  // B and a blank
    table[729] = 3;
    vt::WriteFile(board.dir / "FFIND/FFPTR.BBS", vt::AsBytes(table));
    SysInfoRecord sysInfo = vt::FilledRecord<SysInfoRecord>([](size_t) { return 0x33; });
    sysInfo.FileKilobytes = (2048 + 1000 + 5000) / 1024;
    vt::WriteFile(board.dir / "SYSINFO.BBS", vt::AsBytes(sysInfo) + std::string(100, '\x33'));
  }

  vt::RunResult Vlmcheck(const std::vector<std::string> &args = {}) {
    return board.RunProgram(VLMCHECK_EXE, args);
  }
  // Runs vlmcheck and checks that it left every file of the board as it was.
  vt::RunResult CheckUnchanged(const std::vector<std::string> &args = {}) {
    DateBack(board.dir);
    Snapshot before = Files(board.dir, "SORREL.LOG");
    vt::RunResult r = Vlmcheck(args);
    EXPECT_TRUE(Files(board.dir, "SORREL.LOG") == before) << "a file of the board changed";
    return r;
  }

  st::Board board;
};

TEST_F(Check, HealthyBoardGivesFiguresNoProblemsAndStatusZero) {
  vt::RunResult r = CheckUnchanged();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Work(r.out),
            "Message areas\n"
            "    1 General: 3 messages, 1 deleted, 15 bytes of text; a pack would remove 1 (deleted 1), 190 bytes\n"
            "    2 Echo: 4 messages, 0 deleted, 10 bytes of text; a pack would remove nothing\n"
            "    4 Empty: no messages\n"
            "MSGFAST.BBS: 2 records\n"
            "Fast-find index: 3 files, 7 KB\n"
            "\n"
            "Checked 3 message areas (7 messages) and the fast-find index (3 files): a pack would remove 1 message, "
            "190 bytes; no problems found\n");
  std::string log = vt::MaskLogTimes(board.Log());
  EXPECT_NE(log.find("> ##:##:##  Vlmcheck WIN 95/NT Started\r\n"
                     "> ##:##:##  No problems found\r\n"
                     "> ##:##:##  Vlmcheck Finished\r\n"),
            std::string::npos)
      << log;

  // The board as sorrel and marten then leave it is healthy as well.
  vt::WriteFile(board.dir / "FILEPATH.VLM", vt::FileAreaBytes(board.dir.Board() + "FILES\\"));
  vt::MakeDirs(board.dir / "FILES");
  vt::WriteFile(board.dir / "FILES/TOOL.ZIP", std::string(5000, 'x'));
  vt::WriteFile(board.dir / "FILES/README", std::string(3000, 'x'));
  ASSERT_EQ(board.Run({"-LINK", "-FASTMAIL"}).status, 0);
  ASSERT_EQ(board.RunProgram(MARTEN_EXE, {"-BUILD"}).status, 0);
  r = CheckUnchanged();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Fast-find index: 2 files, 7 KB\n"), std::string::npos) << r.out;
}

// One kind of problem: how the healthy board is broken, and the problem
// lines it gives (a line beginning with "..." matches by its end).
struct BrokenBoard {
  const char *name;
  std::function<std::vector<std::string>(st::Board &)> breakIt;
  size_t problems = 0;  // counted in the summary, when more than its lines
};

void PrintTo(const BrokenBoard &b, std::ostream *os) { *os << b.name; }

class Broken : public Check, public ::testing::WithParamInterface<BrokenBoard> {};

bool Matches(const std::string &line, const std::string &expected) {
  if (expected.rfind("...", 0) != 0) return line == expected;
  std::string end = expected.substr(3);
  return line.size() >= end.size() && line.compare(line.size() - end.size(), end.size(), end) == 0;
}

TEST_P(Broken, GivesStatusTwoAndItsProblemLines) {
  std::vector<std::string> expected = GetParam().breakIt(board);
  vt::RunResult r = CheckUnchanged();
  EXPECT_EQ(r.status, 2) << r.out;
  std::vector<std::string> lines = Problems(r.out);
  ASSERT_EQ(lines.size(), expected.size()) << r.out;
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_TRUE(Matches(lines[i], expected[i])) << lines[i];
  std::string found = std::to_string(GetParam().problems ? GetParam().problems : expected.size()) + " problem";
  EXPECT_NE(r.out.find("; " + found), std::string::npos) << r.out;
  EXPECT_NE(board.Log().find("  " + found), std::string::npos);
}

const BrokenBoard kBrokenBoards[] = {
    {"CorruptHeader",
     [](st::Board &b) {
       b.areas[0].msgs[1].subjectCount = 80;
       b.WriteAreaFiles(1, b.areas[0].msgs);
       return std::vector<std::string>{"area 1 message 2: corrupt header, Subject count 80 beyond its 72 characters"};
     }},
    {"TenLinesOfAKindInAnArea",
     [](st::Board &b) {
       std::vector<std::string> lines;
       b.areas[0].msgs.resize(13);
       for (size_t i = 0; i < 13; ++i) {
         b.areas[0].msgs[i] = {.text = "x", .subjectCount = 99};
         if (i < 10)
           lines.push_back("area 1 message " + std::to_string(i + 1) +
                           ": corrupt header, Subject count 99 beyond its 72 characters");
       }
       b.WriteAreaFiles(1, b.areas[0].msgs);
       lines.push_back("area 1: 3 more corrupt headers");
       return lines;
     },
     13},
    {"TextBeyondTheTextFile",
     [](st::Board &b) {
       b.areas[0].msgs[2].extraLength = 100;
       b.WriteAreaFiles(1, b.areas[0].msgs);
       return std::vector<std::string>{
           "area 1 message 3: text at 11, 104 bytes, beyond the end of the text file (15 bytes)"};
     }},
    {"OverlappingTexts",
     [](st::Board &b) {
       Edit<MessageHeader>(b.HeaderPath(1), 1, [](MessageHeader &h) { h.TextStart = 3; });
       return std::vector<std::string>{"area 1 message 2: text at 3, 6 bytes, overlaps the text of message 1"};
     }},
    {"ReplyLinkOutOfRange",
     [](st::Board &b) {
       Edit<MessageHeader>(b.HeaderPath(2), 1, [](MessageHeader &h) { h.ReplyTo = 9; });
       return std::vector<std::string>{"area 2 message 2: ReplyTo 9 beyond the area's 4 messages"};
     }},
    {"OneSidedReplyLink",
     [](st::Board &b) {
       Edit<MessageHeader>(b.HeaderPath(2), 2, [](MessageHeader &h) { h.NextReply = 4; });
       return std::vector<std::string>{"area 2 message 3: NextReply 4, but message 4 has ReplyTo 0"};
     }},
    {"CountAboveTheMessages",
     [](st::Board &b) {
       Edit<uint16_t>(b.dir / "MSG/MSGCOUNT.BBS", 1, [](uint16_t &count) { count = 6; });
       return std::vector<std::string>{
           "area 2: MSGCOUNT.BBS counts 6 messages, the area has 4: messages gone since the last maintenance run"};
     }},
    {"PackingFilesLeftBehind",
     [](st::Board &b) {
       std::vector<std::string> lines;
       for (const char *name :
            {"MH00001.PKJ", "MH00001.PKC", "MH00001.NEW", "MT00001.NEW", "MH00001.OLD", "MT00001.OLD", "MT00001.TMP"}) {
         vt::WriteFile(b.dir / (std::string("MSG/AREA1/") + name), "x");
         lines.push_back("area 1: " + b.config.msgPath + "AREA1\\" + name + " left by a packing");
       }
       return lines;
     }},
    {"NextReadBeyondTheCount",
     [](st::Board &b) {
       b.SetNextRead(1, 2, 6);
       return std::vector<std::string>{"area 2: next-read numbers of 1 user beyond 5, the area's count + 1 (user 2: 6)"};
     }},
    {"FastMailRecordsOfNoMessage",
     [](st::Board &b) {
       vt::WriteFile(b.dir / "MSG/MSGFAST.BBS",
                     vt::ReadFile(b.dir / "MSG/MSGFAST.BBS") + FastMail(2, 5) + FastMail(3, 1));
       return std::vector<std::string>{
           "MSGFAST.BBS: 1 record of area 2 points at no message (record 3: message 5, the area has 4 messages)",
           "MSGFAST.BBS: 1 record of area 3 points at no message (record 4: message 1, no such area in use)"};
     }},
    {"BoardFileThatCannotBeRead",
     [](st::Board &b) {
       // A directory where the file should be: opening or reading it fails
       // on every host.
       fs::remove(b.dir / "MSG/MSGCOUNT.BBS");
       vt::MakeDirs(b.dir / "MSG/MSGCOUNT.BBS");
       return std::vector<std::string>{"... " + b.config.msgPath + "MSGCOUNT.BBS"};
     }},
    {"TextFileMissing",
     [](st::Board &b) {
       fs::remove(b.TextPath(2));
       // The area counts as empty, as sorrel counts it: its count, next-read
       // numbers and fast mail records are then beyond it as well.
       return std::vector<std::string>{
           "area 2: " + b.config.msgPath + "AREA1\\MH00002.BBS holds 4 headers, but MT00002.BBS is missing",
           "area 2: MSGCOUNT.BBS counts 3 messages, the area has 0: messages gone since the last maintenance run",
           "area 2: next-read numbers of 1 user beyond 1, the area's count + 1 (user 2: 5)",
           "MSGFAST.BBS: 1 record of area 2 points at no message (record 2: message 4, the area has 0 messages)"};
     }},
    {"IndexOutOfOrder",
     [](st::Board &b) {
       vt::WriteFile(b.dir / "FFIND/FFIDX.BBS",
                     Record("A       .ZIP", 1, 2048) + Record("B       .EXE", 2, 5000) + Record("AB      .TXT", 1, 1000));
       return std::vector<std::string>{"FFIDX.BBS is not sorted: record 2, AB      .TXT area 1 stands after record 1, "
                                       "B       .EXE area 2 (1 record out of order)"};
     }},
    {"PointerTableOfAnotherIndex",
     [](st::Board &b) {
       Edit<int32_t>(b.dir / "FFIND/FFPTR.BBS", 2, [](int32_t &entry) { entry = 0; });
       return std::vector<std::string>{"FFPTR.BBS does not match FFIDX.BBS: entry 2 is 0, the index gives 1 (1 entry differs)"};
     }},
    {"SysInfoTotalOfAnotherIndex",
     [](st::Board &b) {
       Edit<SysInfoRecord>(b.dir / "SYSINFO.BBS", 0, [](SysInfoRecord &r) { r.FileKilobytes = 9; });
       return std::vector<std::string>{"SYSINFO.BBS counts 9 KB of files, the index 7 KB"};
     }},
};

INSTANTIATE_TEST_SUITE_P(OneKindEach, Broken, ::testing::ValuesIn(kBrokenBoards),
                         [](const auto &info) { return std::string(info.param.name); });

// "a pack would remove N (...), B bytes" of each area line, by area number.
std::map<int, std::pair<int, long long>> Removals(const std::string &out) {
  std::map<int, std::pair<int, long long>> m;
  std::istringstream in(out);
  const std::string key = "would remove ";
  for (std::string l; std::getline(in, l);) {
    size_t at = l.find(key);
    if (l.rfind("    ", 0) != 0 || at == std::string::npos) continue;
    std::string rest = l.substr(at + key.size());
    size_t comma = rest.rfind(", ");
    m[std::stoi(l)] = rest == "nothing" ? std::pair{0, 0LL} : std::pair{std::stoi(rest), std::stoll(rest.substr(comma + 2))};
  }
  return m;
}

TEST(CheckAgainstSorrel, WouldRemoveWhatTheNextPackRemoves) {
  // Every cause and limit in play; dates decades away from the limits.
  std::vector<Msg> limits(8);
  limits[0].attribute = 0x01;                         // deleted
  limits[1].subjectCount = 73;                        // corrupt
  limits[2].written = st::kOld;                       // too old
  limits[3] = {.attribute = 0x80, .written = st::kOld};  // too old but exempt
  limits[4].attribute = 0x81;                         // exempt and deleted
  limits[5] = {.attribute = 0x10, .received = st::kOld};  // received too long ago
  std::vector<Msg> counted(8);
  counted[1].attribute = 0x80;
  std::vector<Msg> sized(8);
  for (Msg &m : sized) m.text = std::string(200, 's');
  std::vector<Msg> emptied(2);
  for (Msg &m : emptied) m.attribute = 0x01;
  for (size_t i = 0; i < 8; ++i) {
    limits[i].text = std::string(i * 3 + 1, 'l');
    counted[i].text = std::string(i * 5 + 2, 'c');
  }

  for (const char *disable : {"", "-DISABLEDEL"}) {
    SCOPED_TRACE(disable);
    st::Board board;
    board.areas = {{.name = "Limits", .keepDays = 30, .keepRecvDays = 10, .msgs = limits},
                   {.name = "Count", .maxMsgs = 5, .msgs = counted},
                   {.name = "Size", .type = 6, .maxMsgs = 7, .maxKilobytes = 1, .msgs = sized},
                   {.name = "Emptied", .msgs = emptied},
                   {.name = "Untouched", .msgs = std::vector<Msg>(2)}};
    board.Write();
    std::vector<std::string> args;
    if (*disable) args.push_back(disable);
    vt::RunResult check = board.RunProgram(VLMCHECK_EXE, args);
    std::map<int, std::pair<int, long long>> predicted = Removals(check.out);
    ASSERT_EQ(predicted.size(), 5u) << check.out;
    if (!*disable) {
      EXPECT_NE(check.out.find("Limits: 8 messages, 2 deleted, 92 bytes of text; a pack would remove 5 (corrupt 1, "
                               "deleted 2, age 1, receipt 1)"),
                std::string::npos)
          << check.out;
      EXPECT_NE(check.out.find("Size: 8 messages, 0 deleted, 1600 bytes of text; a pack would remove 3 (count limit "
                               "1, size limit 2), 1158 bytes"),
                std::string::npos)
          << check.out;
    }

    std::map<int, long long> bytesBefore;
    std::map<int, size_t> countBefore;
    for (int a = 1; a <= 5; ++a) {
      countBefore[a] = board.Count(uint16_t(a));
      bytesBefore[a] = (long long)(board.Headers(uint16_t(a)).size() + board.Texts(uint16_t(a)).size());
    }
    ASSERT_EQ(board.Run(args).status, 0);
    for (int a = 1; a <= 5; ++a) {
      SCOPED_TRACE(a);
      long long bytesAfter = (long long)(board.Headers(uint16_t(a)).size() + board.Texts(uint16_t(a)).size());
      EXPECT_EQ(predicted[a].first, int(countBefore[a] - board.Count(uint16_t(a))));
      EXPECT_EQ(predicted[a].second, bytesBefore[a] - bytesAfter);
    }
    // What is left, a further pack leaves alone.
    std::map<int, std::pair<int, long long>> again = Removals(board.RunProgram(VLMCHECK_EXE, args).out);
    for (const auto &[area, removal] : again) EXPECT_EQ(removal.first, 0) << area;
  }
}

TEST_F(Check, OneAreaItsHeadersAndRefusedAreaNumbers) {
  vt::RunResult r = CheckUnchanged({"-DUMP2"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Work(r.out),
            "Message areas\n"
            "    2 Echo: 4 messages, 0 deleted, 10 bytes of text; a pack would remove nothing\n"
            "MSGFAST.BBS: 1 record of area 2\n"
            "\n"
            "Headers of area 2, " + board.config.msgPath + "AREA1\\MH00002.BBS\n"
            "Flags: D deleted, R received, K keeps attachments, E exempt, F files attached, C corrupt\n"
            "\n"
            "  Msg From                                To\n"
            "      Subject\n"
            "      Written          Received         Flags  Reply  Next    Text at    Length\n"
            "    1 SOMEONE                             SYSOP\n"
            "      Hello\n"
            "      1990-01-01 00:00 2030-01-01 00:00 ...E..     0     0          0         1\n"
            "    2 SOMEONE                             SYSOP\n"
            "      Hello\n"
            "      2030-01-01 00:00 2030-01-01 00:00 ......     0     0          1         2\n"
            "    3 SOMEONE                             SYSOP\n"
            "      Hello\n"
            "      2030-01-01 00:00 2030-01-01 00:00 ......     0     0          3         3\n"
            "    4 SOMEONE                             SYSOP\n"
            "      Hello\n"
            "      2030-01-01 00:00 2030-01-01 00:00 ......     0     0          6         4\n"
            "\n"
            "Checked message area 2 (4 messages): a pack would remove 0 messages, 0 bytes; no problems found\n");

  // -AREA checks the one area, -DISABLEDEL figures as the switch packs.
  r = Vlmcheck({"-AREA1", "-DISABLEDEL"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("    1 General: 3 messages, 1 deleted, 15 bytes of text; a pack with -DISABLEDEL would remove "
                       "1 (deleted 1), 190 bytes\nMSGFAST.BBS: 1 record of area 1\n\nChecked message area 1"),
            std::string::npos)
      << r.out;

  for (const char *refused : {"-AREA0", "-AREA17", "-AREAX", "-DUMP", "/AREA2 -DUMP1"}) {
    std::vector<std::string> args;
    std::istringstream words(refused);
    for (std::string w; words >> w;) args.push_back(w);
    std::string log = board.Log();
    r = Vlmcheck(args);
    EXPECT_EQ(r.status, 1) << refused;
    // Refused once the board's number of areas is known, before the log.
    std::string said = r.out.substr(vt::kVlmcheck.Banner().size());
    EXPECT_TRUE(said == "-AREA needs a message area number from 1 to 16\nUse -? for help\n" ||
                said == "-DUMP needs a message area number from 1 to 16\nUse -? for help\n" ||
                said == "-AREA and -DUMP name different areas\nUse -? for help\n")
        << refused << ": " << said;
    EXPECT_EQ(board.Log(), log) << refused;
  }
}

}  // namespace
