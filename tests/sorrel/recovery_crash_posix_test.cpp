// A second crash while a run recovers from the first: every operation of
// the recovering run's recovery is made to fail or to end the process, for
// every first crash point of a run over two areas (one packed, with
// attachments, links and next-read numbers, one emptied);
// a clean run after it must leave exactly what an undisturbed run leaves.
// The runs are forked from the test process (POSIX only), which keeps the
// thousands of them fast.  Each state is made anew by running the first
// crash again: the journal knows its files by their identity, which a copy
// of the files would not keep.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The journal an interrupted run left, if any.
std::string JournalIn(const st::Snapshot &s) {
  for (const auto &[name, bytes] : s)
    if (name.size() > 4 && (name.compare(name.size() - 4, 4, ".PKJ") == 0 || name.compare(name.size() - 4, 4, ".PKC") == 0))
      return name.substr(name.find_last_of('/') + 1, 7);
  return "";
}

TEST(RecoveryCrash, ASecondCrashWhileRecoveringIsRecoveredByTheNextRun) {
  st::Board b;
  st::Build(b, 2);
  st::Snapshot initial = st::Files(b);
  long operations = 0;
  plat::SetOperationHook([&](long n, const char *, const std::string &) { operations = n; });
  st::RunHere(b, kArgs);
  plat::SetOperationHook(nullptr);
  st::Snapshot once = st::Files(b);

  long crashes = 0, seconds = 0;
  for (long first = 1; first <= operations; ++first) {
    st::Restore(b, initial);
    ASSERT_EQ(RunForked(b, first, plat::FaultAction::FaultExit), 86);
    st::Snapshot crashed = st::Files(b);
    std::string journal = JournalIn(crashed);
    if (journal.empty()) continue;
    ++crashes;
    // The recovering run's operations from the first one after the run's
    // common start (log, fast mail and next-read files opened) up to the
    // deletion of that journal.
    st::Restore(b, initial);
    RunForked(b, first, plat::FaultAction::FaultExit);
    long start = 0, last = 0, count = 0;
    plat::SetOperationHook([&](long n, const char *kind, const std::string &path) {
      count = n;
      if (!start && path.find("LASTCOMB") != std::string::npos) start = n + 1;
      if (!last && std::string(kind) == "delete" && path.find(journal + ".PK") != std::string::npos) last = n;
    });
    st::RunHere(b, kArgs);
    plat::SetOperationHook(nullptr);
    if (!last) last = count;
    for (long second = start; second <= last; ++second) {
      for (plat::FaultAction action : {plat::FaultAction::FaultExit, plat::FaultAction::FaultFail}) {
        SCOPED_TRACE("first crash at " + std::to_string(first) + ", recovery " +
                     (action == plat::FaultAction::FaultExit ? "ends at " : "fails at ") + std::to_string(second));
        st::Restore(b, initial);
        RunForked(b, first, plat::FaultAction::FaultExit);
        RunForked(b, second, action);
        st::RunHere(b, kArgs);
        ASSERT_EQ(st::Diff(st::Files(b), once), "");
        ++seconds;
      }
    }
  }
  EXPECT_GT(crashes, 30);
  std::printf("%ld first crash points left a journal; %ld second faults while recovering\n", crashes, seconds);
}

}  // namespace
