// Packing while the board goes on: posts made at any moment of a run are
// kept with their own texts, next-read numbers the board writes meanwhile
// are renumbered, and a journal left behind never puts them back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "sorrel_board.h"

namespace {

using st::Msg;

// The operations of a run, as the operation hook reports them.
struct Operation {
  long number;
  std::string kind, path;
};

std::vector<Operation> OperationsOf(const std::function<void(st::Board &)> &setup) {
  st::Board b;
  setup(b);
  std::vector<Operation> ops;
  plat::SetOperationHook([&](long n, const char *kind, const std::string &path) { ops.push_back({n, kind, path}); });
  st::RunHere(b, {});
  plat::SetOperationHook(nullptr);
  return ops;
}

// The first operation of `kind` whose path ends in `tail` (0 when none).
// The first operation of that kind on a path that ends so, or with `last`
// the last one; 0 when there is none.
long Find(const std::vector<Operation> &ops, const std::string &kind, const std::string &tail, bool last = false) {
  long found = 0;
  for (const Operation &op : ops)
    if (op.kind == kind && op.path.size() >= tail.size() && op.path.compare(op.path.size() - tail.size(), tail.size(), tail) == 0) {
      found = op.number;
      if (!last) break;
    }
  return found;
}

// A message of the area as expected: subject and the text it must carry.
// Packing writes the last byte of a text as 0, so that byte is not compared.
bool TextMatches(const std::string &got, const std::string &want) {
  return got.size() == want.size() && (want.empty() || got.compare(0, got.size() - 1, want, 0, want.size() - 1) == 0);
}

// What went wrong in an area: messages missing, headers with another text,
// messages found twice.  `want` maps subjects to texts; `required` are the
// subjects that must be there.
std::string Check(const st::Board &b, uint16_t area, const std::map<std::string, std::string> &want,
                  const std::vector<std::string> &required) {
  std::map<std::string, int> seen;
  std::string problems;
  for (size_t n = 1; n <= b.Count(area); ++n) {
    std::string subject = b.Subject(area, n);
    auto w = want.find(subject);
    if (w == want.end() || !TextMatches(b.TextOf(area, n), w->second))
      problems += "  message " + std::to_string(n) + " (" + subject + ") has another text\n";
    ++seen[subject];
  }
  for (const std::string &s : required)
    if (seen[s] != 1) problems += "  " + s + " found " + std::to_string(seen[s]) + " times\n";
  return problems;
}

bool JournalLeft(const st::Board &b, uint16_t area) {
  char name[16];
  for (const char *ext : {"PKJ", "PKC", "NEW", "OLD"}) {
    std::snprintf(name, sizeof name, "MH%05u.%s", unsigned(area), ext);
    if (vt::FileExists(b.AreaDir(area) + name)) return true;
  }
  return false;
}

// ---------------------------------------------------------------- a real second process

TEST(LiveBoard, PostsOfAnotherProcessWhilePackingRunsAreKeptWithTheirTexts) {
  st::Board b;
  std::vector<Msg> msgs(30);
  std::map<std::string, std::string> want;
  std::vector<std::string> required;
  for (size_t i = 0; i < msgs.size(); ++i) {
    msgs[i].subject = "m" + std::to_string(i + 1);
    msgs[i].text = "text of m" + std::to_string(i + 1) + std::string(i * 3, '-');
    msgs[i].attribute = i % 4 == 0 ? kMsgDeleted : 0;
    want[msgs[i].subject] = msgs[i].text;
    if (i % 4) required.push_back(msgs[i].subject);
  }
  b.areas.push_back({.name = "Live", .msgs = msgs});
  b.Write();

  // Bounded in runs, posts and time: the poster posts every few
  // milliseconds while the runs go on, and stops when they are done.
  std::string stop = b.dir / "STOP";
  std::atomic<bool> posting{true};
  vt::RunResult posted;
  std::thread poster([&] {
    posted = vt::Run(BOARD_POSTER_EXE, {b.HeaderPath(1), b.TextPath(1), "1", "1000", "2", "30", stop}, "");
    posting = false;
  });
  int runs = 0, leftAlone = 0;
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (posting && runs < 60 && std::chrono::steady_clock::now() < until) {
    vt::RunResult r = b.Run({});
    EXPECT_EQ(r.status, 0) << r.out;
    ++runs;
    if (r.out.find("Area changed while packing, left for the next run: Live") != std::string::npos) ++leftAlone;
  }
  vt::WriteFile(stop, "");
  poster.join();
  ASSERT_EQ(posted.status, 0);
  long made = std::atol(posted.out.c_str());
  ASSERT_GT(made, 0);
  ASSERT_EQ(b.Run({}).status, 0);
  ++runs;

  for (long n = 1; n <= made; ++n) {
    std::string subject = "post " + std::to_string(n);
    want[subject] = "text of " + subject + std::string(size_t(n % 7) * 10, '.') + "|";
    if (n % 3) required.push_back(subject);  // every third one is marked deleted
  }
  std::string problems = Check(b, 1, want, required);
  EXPECT_EQ(problems, "");
  EXPECT_FALSE(JournalLeft(b, 1));
  std::printf("%d packing runs, %ld posts (%zu kept), %d runs left the area to the next: %s\n", runs, made,
              required.size() - 22, leftAlone, problems.empty() ? "0 lost, 0 mismatched" : "problems");
}

// ---------------------------------------------------------------- posts at each operation

// Two areas: the first is packed (two messages removed), the second only
// skipped.
void TwoAreas(st::Board &b) {
  b.Users({"SYSOP", "ANN"});
  std::vector<Msg> one(6), two(2);
  for (size_t i = 0; i < one.size(); ++i) {
    one[i].subject = "one " + std::to_string(i + 1);
    one[i].text = "area one, message " + std::to_string(i + 1) + std::string(i * 20, '+');
  }
  one[1].attribute = one[4].attribute = kMsgDeleted;
  b.areas.push_back({.name = "One", .msgs = one});
  b.areas.push_back({.name = "Two", .msgs = two});
  b.Write();
  vt::WriteFile(b.dir / "MSG/MSGCOUNT.BBS", std::string(32, '\0'));
  b.SetNextRead(0, 1, 4);
  b.SetNextRead(1, 1, 7);
}

// A post the board makes in two appends; either may wait for a later moment.
struct LatePost {
  Msg msg;
  bool textDone = false, headerDone = false;
  uint64_t start = 0;
  void Text(const st::Board &b) { textDone = vt::AppendToFile(b.TextPath(1), msg.text, start); }
  void Header(const st::Board &b) {
    uint64_t at;
    headerDone = vt::AppendToFile(b.HeaderPath(1), st::HeaderBytes(msg, uint32_t(start), 9), at);
  }
};

TEST(LiveBoard, APostAtAnyOperationOfThePackingIsKeptWithItsText) {
  std::vector<Operation> ops = OperationsOf(TwoAreas);
  long from = Find(ops, "open", "MH00001.PKJ"), to = Find(ops, "delete", "MH00001.PKJ", true);
  ASSERT_GT(from, 0);
  ASSERT_GT(to, from);
  std::map<std::string, std::string> want;
  int cases = 0, leftAlone = 0;
  // The text and the header at one operation, or the header one operation later.
  for (long split = 0; split <= 1; ++split) {
    for (long at = from; at <= to; ++at) {
      SCOPED_TRACE("text at operation " + std::to_string(at) + " (" + ops[at - 1].kind + " " + ops[at - 1].path +
                   "), header " + std::to_string(split) + " later");
      st::Board b;
      TwoAreas(b);
      LatePost post;
      post.msg.subject = "late";
      post.msg.text = "the late post's own text";
      plat::SetOperationHook([&](long n, const char *, const std::string &) {
        // A file that is missing for a moment is tried again at a later one.
        if (n >= at && !post.textDone) post.Text(b);
        if (n >= at + split && post.textDone && !post.headerDone) post.Header(b);
      });
      vt::RunResult r = st::RunHere(b, {});
      plat::SetOperationHook(nullptr);
      ASSERT_EQ(r.status, 0) << r.out;
      if (r.out.find("Area changed while packing, left for the next run: One") != std::string::npos) ++leftAlone;
      // What the board had not finished it finishes now; the next run
      // settles whatever this one had to leave.
      if (!post.textDone) post.Text(b);
      if (!post.headerDone) post.Header(b);
      ASSERT_EQ(st::RunHere(b, {}).status, 0);
      want = {{"late", post.msg.text}};
      for (const Msg &m : b.areas[0].msgs) want[m.subject] = m.text;
      ASSERT_EQ(Check(b, 1, want, {"one 1", "one 3", "one 4", "one 6", "late"}), "") << r.out;
      ASSERT_EQ(b.Subject(1, 1), "one 1");
      ASSERT_FALSE(JournalLeft(b, 1));
      ++cases;
    }
  }
  EXPECT_GT(leftAlone, 0);
  EXPECT_LT(leftAlone, cases);
  std::printf("a post at each of %ld operations, two ways: %d runs, %d left the area to the next\n", to - from + 1,
              cases, leftAlone);
}

// An area the board changed is reported and logged, and the run is no
// failure for it.
TEST(LiveBoard, AnAreaChangedWhilePackingIsReportedAndLeftAsTheBoardWroteIt) {
  std::vector<Operation> ops = OperationsOf(TwoAreas);
  long switchAt = Find(ops, "dirsync", "AREA1\\");
  st::Board b;
  TwoAreas(b);
  std::string headers = b.Headers(1), texts = b.Texts(1);
  LatePost post;
  post.msg.subject = "late";
  plat::SetOperationHook([&](long n, const char *, const std::string &) {
    if (n == switchAt) {
      post.Text(b);
      post.Header(b);
    }
  });
  vt::RunResult r = st::RunHere(b, {});
  plat::SetOperationHook(nullptr);
  EXPECT_EQ(r.status, 0);
  // The areas of a group are switched together once all are scanned: the
  // report follows the group's lines, on a line of its own.
  EXPECT_NE(vt::Work(vt::kSorrel, r.out).find("...\nArea changed while packing, left for the next run: One\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(b.Log().find("Area changed while packing, left for the next run: One"), std::string::npos);
  EXPECT_EQ(b.Headers(1), headers + st::HeaderBytes(post.msg, uint32_t(texts.size()), 9));
  EXPECT_EQ(b.Texts(1), texts + post.msg.text);
  ASSERT_EQ(b.MsgCount().size(), 16u);
  EXPECT_EQ(b.MsgCount()[0], 7);
  EXPECT_EQ(b.NextRead(1, 1), 7);
}

// ---------------------------------------------------------------- next-read numbers

TEST(LiveBoard, ANextReadNumberTheBoardWritesBetweenTwoAreasIsRenumbered) {
  auto setup = [](st::Board &b) {
    b.Users({"SYSOP", "ANN", "BOB"});
    for (const char *name : {"One", "Two"}) {
      std::vector<Msg> msgs(6);
      msgs[0].attribute = msgs[1].attribute = kMsgDeleted;
      b.areas.push_back({.name = name, .msgs = msgs});
    }
    b.Write();
    for (size_t u = 0; u < 3; ++u) {
      b.SetNextRead(u, 1, 6);
      b.SetNextRead(u, 2, 4);
    }
  };
  long areaTwo = Find(OperationsOf(setup), "open", "MH00002.PKJ");
  ASSERT_GT(areaTwo, 0);
  st::Board b;
  setup(b);
  plat::SetOperationHook([&](long n, const char *, const std::string &) {
    if (n != areaTwo) return;
    // User 1 reads on in area 2 while area 1 is done and area 2 not begun.
    plat::UniqueFile f = vt::Open(b.dir / "USERS/LASTCOMB.BBS", plat::Access::ReadWrite);
    uint8_t five[2] = {5, 0};
    ASSERT_EQ(std::fseek(f.get(), long(b.NextReadOffset(1, 2)), SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(five, 1, 2, f.get()), 2u);
  });
  st::RunHere(b, {});
  plat::SetOperationHook(nullptr);
  EXPECT_EQ(b.NextRead(0, 1), 4);
  EXPECT_EQ(b.NextRead(0, 2), 2);
  EXPECT_EQ(b.NextRead(1, 2), 3) << "the board's 5 renumbered, not overwritten";
  EXPECT_EQ(b.NextRead(2, 2), 2);
}

// A journal the run had to leave behind (writing its progress failed, or an
// attachment could not be deleted) is finished by the next run, which
// deletes the attachment but never sets back a next-read number that a user
// moved on in between.
TEST(LiveBoard, AJournalLeftBehindNeverPutsNextReadNumbersBack) {
  auto setup = [](st::Board &b) {
    b.config.attachPath = "ATTACH\\";
    b.Users({"SYSOP", "ANN", "BOB"});
    vt::MakeDirs(b.dir / "ATTACH/~@000001");
    vt::WriteFile(b.dir / "ATTACH/~@000001/GONE.ZIP", "gone");
    std::vector<Msg> msgs(6);
    msgs[1].attribute = kMsgDeleted;
    msgs[1].attribute2 = kMsgFilesAttached;
    msgs[1].subject = "ATTACH\\~@000001\\GONE.ZIP";
    b.areas.push_back({.name = "One", .flags = kAreaEraseAttaches, .msgs = msgs});
    b.Write();
    b.SetNextRead(0, 1, 5);
    b.SetNextRead(1, 1, 6);
    b.SetNextRead(2, 1, 3);
  };
  std::vector<Operation> ops = OperationsOf(setup);
  // The last opening of the journal is the one that records the numbers done.
  for (const auto &[kind, tail] : {std::pair<std::string, std::string>{"open", "MH00001.PKJ"}, {"delete", "GONE.ZIP"}}) {
    SCOPED_TRACE(kind + " " + tail + " fails");
    long at = Find(ops, kind, tail, true);
    ASSERT_GT(at, 0);
    st::Board b;
    setup(b);
    vt::RunResult first = st::RunHere(b, {}, at);
    ASSERT_TRUE(vt::FileExists(b.AreaDir(1) + "MH00001.PKJ")) << first.out;
    EXPECT_EQ(b.Count(1), 5u);
    EXPECT_EQ(b.NextRead(0, 1), 4);
    EXPECT_EQ(b.NextRead(1, 1), 5);
    EXPECT_EQ(b.NextRead(2, 1), 2);
    // Users read on before the next run.
    b.SetNextRead(0, 1, 6);
    b.SetNextRead(2, 1, 4);
    vt::RunResult second = st::RunHere(b, {});
    EXPECT_NE(second.out.find("Finishing interrupted packing of"), std::string::npos) << second.out;
    EXPECT_FALSE(JournalLeft(b, 1));
    EXPECT_FALSE(vt::FileExists(b.dir / "ATTACH/~@000001/GONE.ZIP"));
    EXPECT_EQ(b.NextRead(0, 1), 6);
    EXPECT_EQ(b.NextRead(1, 1), 5);
    EXPECT_EQ(b.NextRead(2, 1), 4);
  }
}

}  // namespace
