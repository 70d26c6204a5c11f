// A second crash while a run recovers from the first: every operation of
// the recovering run's recovery is made to fail or to end the process, for
// every first crash point of a run over two areas (one packed, with
// attachments, links and next-read numbers, one emptied); a clean run after
// it must leave exactly what an undisturbed run leaves.  Runs that end the
// process are forked from the test process (POSIX only); the state a first
// crash leaves is written back for each second fault, its journal's
// identities rewritten to the files written back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "journal_identities.h"
#include "sorrel_crash.h"

namespace {

const std::vector<std::string> kArgs = {"-LINKALL"};

// sorrel in a child process; its exit status (86 when the fault ended it).
int RunForked(st::Board &b, long at, plat::FaultAction action) {
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) _exit(st::RunHere(b, kArgs, at, action).status);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

uint64_t Inode(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_ino) : 0;
}

// The board's files with the identity each had.
struct State {
  st::Snapshot files;
  std::map<uint64_t, std::string> byInode;
};

State Take(const st::Board &b) {
  State s{st::Files(b), {}};
  for (const auto &[name, bytes] : s.files)
    if (bytes != "<dir>") s.byInode[Inode(b.dir / name)] = name;
  return s;
}

void WriteBack(const st::Board &b, const State &s) {
  st::Restore(b, s.files);
  for (const auto &[name, bytes] : s.files) {
    if (!st::IsJournalName(name)) continue;
    vt::WriteFile(b.dir / name, st::RewriteJournalIdentities(bytes, [&](JournalFile &file) {
      uint64_t index = file.Index;  // a field of a packed record
      auto it = s.byInode.find(index);
      struct stat st;
      if (it != s.byInode.end() && ::stat((b.dir / it->second).c_str(), &st) == 0) {
        file.Volume = st.st_dev;
        file.Index = st.st_ino;
      } else {
        file.Index = ~0ull;  // gone: stands for no file
      }
    }));
  }
}

// The journal an interrupted run left, if any.
std::string JournalIn(const st::Snapshot &s) {
  for (const auto &[name, bytes] : s)
    if (st::IsJournalName(name)) return name.substr(name.find_last_of('/') + 1, 7);
  return "";
}

// The board of two areas, its files before and after one undisturbed run,
// and how many operations that run made.
struct Baseline {
  st::Snapshot initial, once;
  long operations = 0;
};

Baseline RunOnce(st::Board &b) {
  Baseline base;
  st::Build(b, 2);
  base.initial = st::Files(b);
  plat::SetOperationHook([&](long n, const char *, const std::string &) { base.operations = n; });
  st::RunHere(b, kArgs);
  plat::SetOperationHook(nullptr);
  base.once = st::Files(b);
  return base;
}

// The board as each first crash point of the undisturbed run leaves it,
// handed to `use(first, crashed)`; stops at the first fatal failure.
template <typename Use>
void ForEachCrash(st::Board &b, const Baseline &base, Use use) {
  for (long first = 1; first <= base.operations && !::testing::Test::HasFatalFailure(); ++first) {
    st::Restore(b, base.initial);
    ASSERT_EQ(RunForked(b, first, plat::FaultAction::FaultExit), 86);
    use(first, Take(b));
  }
}

TEST(RecoveryCrash, ASecondCrashWhileRecoveringIsRecoveredByTheNextRun) {
  st::Board b;
  Baseline base = RunOnce(b);
  const st::Snapshot &once = base.once;

  long crashes = 0, seconds = 0;
  ForEachCrash(b, base, [&](long first, const State &crashed) {
    std::string journal = JournalIn(crashed.files);
    if (journal.empty()) return;
    ++crashes;
    // The recovering run's operations from the first one after the run's
    // common start (log, fast mail and next-read files opened) up to the
    // deletion of that journal.
    long start = 0, last = 0, count = 0;
    plat::SetOperationHook([&](long n, const char *kind, const std::string &path) {
      count = n;
      if (!start && path.find("LASTCOMB") != std::string::npos) start = n + 1;
      if (!last && std::string(kind) == "delete" && path.find(journal + ".PK") != std::string::npos) last = n;
    });
    st::RunHere(b, kArgs);
    plat::SetOperationHook(nullptr);
    ASSERT_EQ(st::Diff(st::Files(b), once), "") << "first crash at " << first << ", no second";
    if (!last) last = count;
    for (long second = start; second <= last; ++second) {
      for (plat::FaultAction action : {plat::FaultAction::FaultExit, plat::FaultAction::FaultFail}) {
        bool exits = action == plat::FaultAction::FaultExit;
        SCOPED_TRACE("first crash at " + std::to_string(first) + ", recovery " + (exits ? "ends at " : "fails at ") +
                     std::to_string(second));
        WriteBack(b, crashed);
        if (exits)
          RunForked(b, second, action);
        else
          st::RunHere(b, kArgs, second);
        st::RunHere(b, kArgs);
        ASSERT_EQ(st::Diff(st::Files(b), once), "");
        ++seconds;
      }
    }
  });
  EXPECT_GT(crashes, 30);
  std::printf("%ld first crash points left a journal; %ld second faults while recovering\n", crashes, seconds);
}

}  // namespace

// Journals of earlier versions hold the single chain's sum (without
// kJournalLaneSums), and were renamed to .PKC once their text files were
// switched: a run settles them as it settles its own.  Every complete
// journal a first crash leaves is made into such a one; with a wrong sum
// instead, some run must end otherwise, or the sum was never looked at.
TEST(RecoveryCrash, JournalsOfEarlierVersionsAreSettledAlike) {
  st::Board b;
  Baseline base = RunOnce(b);
  const st::Snapshot &once = base.once;

  long converted = 0, committed = 0, noticed = 0;
  ForEachCrash(b, base, [&](long first, const State &crashed) {
    for (const auto &[name, bytes] : crashed.files) {
      if (!st::IsJournalName(name)) continue;
      const std::string &scanned = base.initial.at(name.substr(0, name.size() - 4) + ".BBS");
      for (bool wrong : {false, true}) {
        SCOPED_TRACE("first crash at " + std::to_string(first) + (wrong ? ", wrong sum" : ""));
        WriteBack(b, crashed);
        bool complete = false, switched = false;
        std::string text = name.substr(0, name.size() - 11) + "MT" + name.substr(name.size() - 9, 5) + ".BBS";
        std::string journal = st::RewriteJournal(
            vt::ReadFile(b.dir / name), [](JournalFiles &files) { files.Flags &= ~kJournalLaneSums; },
            [&](PackJournalHead &head) {
              complete = true;
              switched = Inode(b.dir / text) != head.File[kOldTextFile].Index;
              head.Flags &= ~kJournalLaneSums;
              uint64_t sum = kHeaderSumStart;
              for (uint32_t i = 0; i < head.OldCount && (i + 1) * sizeof(MessageHeader) <= scanned.size(); ++i) {
                MessageHeader h;
                std::memcpy(&h, scanned.data() + i * sizeof h, sizeof h);
                sum = HeaderSum(h, sum);
              }
              head.OldHeaderSum = wrong ? sum + 1 : sum;
            });
        if (!complete) break;
        vt::WriteFile(b.dir / name, journal);
        if (switched && name.compare(name.size() - 4, 4, ".PKJ") == 0) {
          ASSERT_EQ(std::rename((b.dir / name).c_str(), (b.dir / (name.substr(0, name.size() - 4) + ".PKC")).c_str()), 0);
          committed += wrong ? 0 : 1;
        }
        st::RunHere(b, kArgs);
        std::string diff = st::Diff(st::Files(b), once);
        if (!wrong) {
          ASSERT_EQ(diff, "");
          ++converted;
        } else if (!diff.empty()) {
          ++noticed;
        }
      }
    }
  });
  EXPECT_GT(converted, 10);
  EXPECT_GT(committed, 0);
  EXPECT_GT(noticed, 0);
  std::printf("%ld journals settled with the single chain's sum (%ld as .PKC); a wrong one noticed %ld times\n",
              converted, committed, noticed);
}
