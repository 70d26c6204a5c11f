// Packing never loses a message: every disk-changing operation of a run over
// several areas is made to fail, or to end the process, in turn; the run
// after it must leave exactly what an undisturbed run leaves.
#include <gtest/gtest.h>

#include "sorrel_crash.h"

namespace {

using st::Build;
using st::Diff;
using st::Files;
using st::LiveFiles;
using st::Snapshot;

const std::vector<std::string> kArgs = {"-LINKALL"};

// A run that ends the process is a process of its own; a run whose
// operation fails is run inside the test process, which is much faster
// under an emulator.
vt::RunResult RunWithFault(st::Board &b, long at, const char *mode) {
  if (std::string(mode) == "fail") return st::RunHere(b, kArgs, at);
  return b.Run(kArgs, {{"VLM_FAULT_AT", std::to_string(at)}, {"VLM_FAULT_MODE", mode}});
}

// Operations of an undisturbed run, as the operation hook counts them.
long CountOperations() {
  st::Board b;
  Build(b);
  long operations = 0;
  plat::SetOperationHook([&](long n, const char *, const std::string &) { operations = n; });
  st::RunHere(b, kArgs);
  plat::SetOperationHook(nullptr);
  return operations;
}

class CrashSafetyEvery : public ::testing::TestWithParam<const char *> {};

TEST_P(CrashSafetyEvery, FaultOfARunIsRecoveredByTheNextRun) {
  const bool fail = std::string(GetParam()) == "fail";
  Snapshot original, once, twice;
  {
    st::Board b;
    Build(b);
    original = LiveFiles(Files(b));
    ASSERT_EQ(b.Run(kArgs).status, 0);
    once = Files(b);
    ASSERT_EQ(b.Run(kArgs).status, 0);
    twice = Files(b);
  }
  // The undisturbed result is settled: a second run changes nothing.
  ASSERT_EQ(Diff(twice, once), "");
  ASSERT_FALSE(once.count("MSG/AREA1/MH00002.BBS"));
  ASSERT_TRUE(once.count("ATTACH/~@000002/KEPT.ZIP"));
  ASSERT_FALSE(once.count("ATTACH/~@000001"));
  Snapshot packedAreas = LiveFiles(once);

  const long operations = CountOperations();
  // The run must really be cut at many places.
  ASSERT_GT(operations, 40);
  for (long at = 1; at <= operations; ++at) {
    SCOPED_TRACE(std::string(GetParam()) + " at operation " + std::to_string(at));
    st::Board b;
    Build(b);
    vt::RunResult faulted = RunWithFault(b, at, GetParam());
    if (fail) {
      // A failure leaves each area as it was or as packed, never between;
      // one left as it was ends the run with status 2, never as done.
      ASSERT_TRUE(faulted.status == 0 || faulted.status == 2) << faulted.status;
      Snapshot now = LiveFiles(Files(b));
      if (now != packedAreas) {
        ASSERT_EQ(faulted.status, 2) << faulted.out;
      }
      for (const auto &[name, bytes] : original) {
        auto packed = packedAreas.find(name);
        auto live = now.find(name);
        bool asBefore = live != now.end() && live->second == bytes;
        bool asPacked = packed == packedAreas.end() ? live == now.end()
                                                    : live != now.end() && live->second == packed->second;
        ASSERT_TRUE(asBefore || asPacked) << name << "\n" << faulted.out;
      }
    } else {
      ASSERT_EQ(faulted.status, 86);
    }
    ASSERT_EQ(st::RunHere(b, kArgs).status, 0);
    // A failed deletion of an attachment is left in the journal and done
    // by the next run: nothing differs.
    Snapshot after = Files(b);
    ASSERT_EQ(Diff(after, once), "") << faulted.out;
  }
  std::printf("%s injected at each of %ld operations\n", GetParam(), operations);
}

INSTANTIATE_TEST_SUITE_P(Modes, CrashSafetyEvery, ::testing::Values("exit", "fail"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                           return std::string(info.param) == "exit" ? "ProcessEnds" : "OperationFails";
                         });

// The shipped program contains no fault hook: with VLM_FAULT_* set it packs
// the board, prints and leaves exactly what an undisturbed run does.
TEST(CrashSafety, ShippedSorrelIgnoresTheFaultHook) {
  // The console output with the board's own directory taken out.
  auto output = [](const st::Board &b, std::string out) {
    for (size_t at; (at = out.find(b.dir.Board())) != std::string::npos;) out.replace(at, b.dir.Board().size(), "<board>");
    return out;
  };
  Snapshot want;
  std::string wantOut;
  {
    st::Board b;
    Build(b);
    vt::RunResult r = b.Run(kArgs);
    ASSERT_EQ(r.status, 0);
    wantOut = output(b, r.out);
    want = Files(b);
  }
  ASSERT_NE(vt::Work(vt::kSorrel, wantOut).rfind("<frame missing>", 0), 0u) << wantOut;
  for (long at = 1; at <= 4; ++at) {
    SCOPED_TRACE("VLM_FAULT_AT=" + std::to_string(at));
    st::Board b;
    Build(b);
    b.exe = SORREL_RELEASE_EXE;
    vt::RunResult r = RunWithFault(b, at, "exit");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(output(b, r.out), wantOut);
    EXPECT_EQ(Diff(Files(b), want), "");
  }
}

// Files that are not provably ours stop packing instead of being overwritten.
TEST(CrashSafety, ForeignFilesUnderOurNamesAreNeverTouched) {
  st::Board b;
  Build(b);
  vt::WriteFile(b.AreaDir(1) + "MH00001.NEW", "someone else's");
  vt::WriteFile(b.AreaDir(2) + "MH00002.PKJ", "not a journal");
  vt::WriteFile(b.AreaDir(4) + "MH00004.PKC", "damaged");
  Snapshot before = LiveFiles(Files(b));
  vt::RunResult r = b.Run(kArgs);
  EXPECT_NE(r.out.find("File exists creating " + b.dir.Board() + "MSG\\AREA1\\MH00001.NEW"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("MH00002.PKJ is not ours: area 2 left as it is"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("MH00004.PKC is damaged: area 4 left as it is"), std::string::npos) << r.out;
  Snapshot after = LiveFiles(Files(b));
  for (const char *name : {"MSG/AREA1/MH00001.BBS", "MSG/AREA1/MT00001.BBS", "MSG/AREA1/MH00002.BBS",
                           "MSG/AREA1/MH00004.BBS", "MSG/AREA1/MT00004.BBS"})
    EXPECT_EQ(after[name], before[name]) << name;
  EXPECT_EQ(vt::ReadFile(b.AreaDir(1) + "MH00001.NEW"), "someone else's");
  EXPECT_EQ(vt::ReadFile(b.AreaDir(2) + "MH00002.PKJ"), "not a journal");
  // Each area left as it was keeps the count of its files and its fast
  // mail records under the numbers it keeps.
  EXPECT_EQ(b.MsgCount()[0], 6);
  EXPECT_EQ(b.MsgCount()[1], 3);
  EXPECT_EQ(b.MsgCount()[3], 8);
  std::vector<std::pair<uint16_t, uint16_t>> fast;
  for (uint16_t area : {1, 3, 4})
    for (uint16_t n = 1; n <= b.Count(area); ++n) fast.emplace_back(area, n);
  EXPECT_EQ(b.FastMail(), fast);
}

}  // namespace
