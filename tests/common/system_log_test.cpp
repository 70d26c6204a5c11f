// The maintenance log and the program frame around a program's work.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "program_frame.h"
#include "run_failure.h"
#include "startup.h"
#include "system_log.h"
#include "test_support.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(SystemLog, EachRunAppendsASeparatorAndTimedEntries) {
  vt::TempDir dir;
  const std::string name = dir.Board() + "MAINT.LOG";
  vt::WriteFile(dir / "MAINT.LOG", "kept\r\n");

  ASSERT_EQ(OpenSystemLog(name), 1);
  WriteSystemLog("First run");
  CloseSystemLog();
  const std::string run = "\r\n----------  " + vt::TodayText() + "\r\n> ##:##:##  First run\r\n";
  EXPECT_EQ(vt::MaskLogTimes(vt::ReadFile(dir / "MAINT.LOG")), "kept\r\n" + run);

  ASSERT_EQ(OpenSystemLog(name), 1);
  WriteSystemLog("First run");
  CloseSystemLog();
  CloseSystemLog();  // a second close does nothing
  EXPECT_EQ(vt::MaskLogTimes(vt::ReadFile(dir / "MAINT.LOG")), "kept\r\n" + run + run);

  // The time fields are two digits each, hours included: "> 09:05:03  ".
  const std::string raw = vt::ReadFile(dir / "MAINT.LOG");
  size_t entry = raw.find("> ");
  ASSERT_NE(entry, std::string::npos);
  EXPECT_EQ(raw.substr(entry + 10, 2), "  ");
  EXPECT_EQ(raw[entry + 4], ':');
  EXPECT_EQ(raw[entry + 7], ':');
}

TEST(SystemLog, WithoutAnOpenLogNothingIsWrittenOrReported) {
  CaptureStdout();
  WriteSystemLog("dropped");
  CloseSystemLog();
  EXPECT_EQ(GetCapturedStdout(), "");

  CaptureStdout();
  EXPECT_EQ(OpenSystemLog(""), 0);
  EXPECT_EQ(GetCapturedStdout(), std::string(std::strerror(ENOENT)) + " opening ");
  EXPECT_EQ(hSystemLog, nullptr);

  vt::TempDir dir;
  const std::string missing = dir.Board() + "NODIR\\MAINT.LOG";
  CaptureStdout();
  EXPECT_EQ(OpenSystemLog(missing), 0);
  WriteSystemLog("dropped");
  CloseSystemLog();
  EXPECT_EQ(GetCapturedStdout(), std::string(std::strerror(ENOENT)) + " opening " + missing);
  EXPECT_FALSE(vt::FileExists(dir / "NODIR"));
}

// The frame with a program of its own, run in the test process.
class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    savedCwd_ = std::filesystem::current_path();
    for (const char *name : {"VLM", "TASK"})
      if (const char *v = std::getenv(name)) savedEnv_[name == std::string("VLM") ? 0 : 1] = v;
    std::filesystem::current_path(sys.Path());
    vt::SetEnv("VLM", sys.Board());
    vt::UnsetEnv("TASK");
    calls.clear();
  }
  void TearDown() override {
    std::filesystem::current_path(savedCwd_);
    const char *names[] = {"VLM", "TASK"};
    for (int i = 0; i < 2; ++i) {
      if (savedEnv_[i])
        vt::SetEnv(names[i], *savedEnv_[i]);
      else
        vt::UnsetEnv(names[i]);
    }
  }

  static void Help() { calls.push_back("help"); }
  static void FailingWork() {
    calls.push_back("failing work");
    ReportFileFailure(EACCES, "opening", "C:\\BBS\\X.BBS");
  }
  static void Work() {
    calls.push_back(hSystemLog ? "work with log" : "work without log");
    WriteSystemLog("working");
  }

  int Run(const ProgramInfo &info, std::vector<const char *> args) {
    args.insert(args.begin(), "prog");
    CaptureStdout();
    int status = RunProgram(static_cast<int>(args.size()), args.data(), info);
    out = GetCapturedStdout();
    return status;
  }

  vt::TempDir sys;
  std::string out;
  static inline std::vector<std::string> calls;

 private:
  std::filesystem::path savedCwd_;
  std::optional<std::string> savedEnv_[2];
};

TEST_F(Frame, StartupFailureEndsWithStatusOneButHelpNeedsNoBoard) {
  ProgramInfo info{.banner = "Prog %s V%s.\n",
                   .code = "TST",
                   .logStart = "Prog %s Started",
                   .logEnd = "Prog Finished",
                   .completion = "\nProg Completed\n",
                   .help = Help,
                   .work = Work};
  vt::WriteFile(sys / "CONSTANT.VLM", vt::ConstantBytes(vt::BoardConfig{}));
  EXPECT_EQ(Run(info, {"-NODE2"}), 1);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(out.rfind("Prog WIN 95/NT V1.48.\n", 0), 0u) << out;
  EXPECT_NE(out.find("\nUse -? for help\n\nError: CONFIG.VLM not found\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Completed"), std::string::npos);

  EXPECT_EQ(Run(info, {"-?"}), 0);
  EXPECT_EQ(calls, std::vector<std::string>{"help"});
  EXPECT_EQ(StartupSucceeded(), 0);
  EXPECT_EQ(out.find("Error"), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - 16), "\nProg Completed\n");
}

TEST_F(Frame, WorkRunsInsideTheLogFrameAndHelpOpensNoLog) {
  vt::BoardConfig config;
  config.logName = sys.Board() + "*T*N.LOG";
  vt::WriteBoard(sys.Path(), config);
  ProgramInfo info{.banner = "Prog %s V%s.\n",
                   .code = "TST",
                   .logStart = "Prog %s Started",
                   .logEnd = "Prog Finished",
                   .completion = "\nProg Completed\n",
                   .help = Help,
                   .work = Work};

  EXPECT_EQ(Run(info, {"/?"}), 0);
  EXPECT_EQ(calls, std::vector<std::string>{"help"});
  EXPECT_FALSE(vt::FileExists(sys / "TST1.LOG"));
  EXPECT_EQ(out.substr(out.size() - 16), "\nProg Completed\n");

  calls.clear();
  EXPECT_EQ(Run(info, {"-NODE4"}), 0);
  EXPECT_EQ(calls, std::vector<std::string>{"work with log"});
  EXPECT_EQ(vt::MaskLogTimes(vt::ReadFile(sys / "TST4.LOG")),
            "\r\n----------  " + vt::TodayText() +
                "\r\n> ##:##:##  Prog WIN 95/NT Started\r\n> ##:##:##  working\r\n> ##:##:##  Prog Finished\r\n");
  EXPECT_EQ(hSystemLog, nullptr) << "the frame closes the log";

}

// A failure reaches the console as before, the log in its line format, and
// the exit status; the next run starts with a clean record.
TEST_F(Frame, AFailureIsLoggedAndEndsTheRunWithStatusTwo) {
  vt::BoardConfig config;
  config.logName = sys.Board() + "TST.LOG";
  vt::WriteBoard(sys.Path(), config);
  ProgramInfo info{.banner = "Prog %s V%s.\n",
                   .code = "TST",
                   .logStart = "Prog %s Started",
                   .logEnd = "Prog Finished",
                   .completion = "\nProg Completed\n",
                   .help = Help,
                   .work = FailingWork};
  const std::string failure = std::string(std::strerror(EACCES)) + " opening C:\\BBS\\X.BBS";
  EXPECT_EQ(Run(info, {}), 2);
  EXPECT_NE(out.find("Use -? for help\n\n" + failure + "\n\nProg Completed\n"), std::string::npos) << out;
  EXPECT_EQ(vt::MaskLogTimes(vt::ReadFile(sys / "TST.LOG")),
            "\r\n----------  " + vt::TodayText() + "\r\n> ##:##:##  Prog WIN 95/NT Started\r\n> ##:##:##  " + failure +
                "\r\n> ##:##:##  Prog Finished\r\n");

  info.work = Work;
  EXPECT_EQ(Run(info, {}), 0);
}

}  // namespace
