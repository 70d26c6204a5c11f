// Start-up in the test process: node, system directory, the places of the
// configuration file, the derived globals and the start-up messages.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "startup.h"
#include "switches.h"
#include "test_support.h"

namespace {

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    savedCwd_ = std::filesystem::current_path();
    for (const char *name : {"VLM", "TASK"}) {
      const char *v = std::getenv(name);
      saved_.push_back({name, v ? std::optional<std::string>(v) : std::nullopt});
      vt::UnsetEnv(name);
    }
    std::filesystem::current_path(cwd.Path());
    vt::SetEnv("VLM", sys.Board());
    Args({});
  }
  void TearDown() override {
    std::filesystem::current_path(savedCwd_);
    for (const auto &[name, value] : saved_) {
      if (value)
        vt::SetEnv(name, *value);
      else
        vt::UnsetEnv(name);
    }
    Args({});
  }

  static void Args(const std::vector<std::string> &args) {
    std::vector<const char *> argv{"prog"};
    for (const std::string &a : args) argv.push_back(a.c_str());
    SetArguments(static_cast<int>(argv.size()), argv.data());
  }

  // Runs start-up; returns the error text, empty on success.
  std::string Init(const char *code = "MSG") {
    std::string error = "stale";
    int ok = InitVelmora(error, code);
    EXPECT_EQ(ok, error.empty() ? 1 : 0) << error;
    return error;
  }

  // A board whose log template names the file it was loaded from.
  void Board(const std::string &dir, const std::string &logName) {
    config.logName = logName;
    vt::WriteBoard(dir, config);
  }

  int NodeFor(const std::vector<std::string> &args, const char *task) {
    if (task)
      vt::SetEnv("TASK", task);
    else
      vt::UnsetEnv("TASK");
    Args(args);
    EXPECT_EQ(Init(), "");
    return Node;
  }

  vt::TempDir sys, cwd;
  vt::BoardConfig config;

 private:
  std::filesystem::path savedCwd_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(Startup, NodeComesFromTheSwitchThenTaskAndFallsBackToOne) {
  Board(sys.Path(), "X.LOG");
  EXPECT_EQ(NodeFor({"-NODE7"}, "5"), 7);
  EXPECT_EQ(NodeFor({}, "5"), 5);
  EXPECT_EQ(NodeFor({}, nullptr), 1);
  EXPECT_EQ(NodeFor({"/NODE12"}, nullptr), 12);
  EXPECT_EQ(NodeFor({"-NODE999"}, nullptr), 999);
  EXPECT_EQ(NodeFor({}, "0"), 1);
  EXPECT_EQ(NodeFor({"-NODE0"}, "5"), 1);
  EXPECT_EQ(NodeFor({"-NODE1000"}, nullptr), 1);
  EXPECT_EQ(NodeFor({"-NODEX"}, "5"), 1);
  EXPECT_EQ(NodeFor({"-NODE4294967298"}, nullptr), 1) << "a huge number must not wrap into range";
}

TEST_F(Startup, ConfigurationIsTakenFromNodeFileThenCurrentThenSystemDirectory) {
  vt::WriteFile(sys / "CONSTANT.VLM", vt::ConstantBytes(config));
  config.logName = "sys.log";
  vt::WriteFile(sys / "CONFIG.VLM", vt::ConfigBytes(config));
  Args({"-NODE3"});
  EXPECT_EQ(Init(), "");
  EXPECT_EQ(MaintLog, "SYS.LOG");

  config.logName = "cwd.log";
  vt::WriteFile(cwd / "CONFIG.VLM", vt::ConfigBytes(config));
  EXPECT_EQ(Init(), "");
  EXPECT_EQ(MaintLog, "CWD.LOG");

  config.logName = "node3.log";
  vt::WriteFile(sys / "CONFIG.3", vt::ConfigBytes(config));
  EXPECT_EQ(Init(), "");
  EXPECT_EQ(MaintLog, "NODE3.LOG");

  Args({"-NODE4"});
  EXPECT_EQ(Init(), "");
  EXPECT_EQ(MaintLog, "CWD.LOG") << "another node's file is not taken";
  std::string path;
  EXPECT_EQ(FindDataFilePath("CONFIG", path), "CONFIG.VLM");
  EXPECT_EQ(FindDataFilePath("FILEPATH", path), "");
}

TEST_F(Startup, SystemDirectoryEndsInOneBackslash) {
  Board(sys.Path(), "X.LOG");
  const std::string withSlash = sys.Board();
  vt::SetEnv("VLM", withSlash);
  EXPECT_EQ(GetSystemPath(), withSlash);
  vt::SetEnv("VLM", withSlash.substr(0, withSlash.size() - 1));
  EXPECT_EQ(GetSystemPath(), withSlash);
  EXPECT_EQ(Init(), "");
  EXPECT_EQ(SystemPath, withSlash);

  // Without VLM the current directory is the system directory.
  vt::UnsetEnv("VLM");
  Board(cwd.Path(), "X.LOG");
  EXPECT_EQ(Init(), "");
  EXPECT_EQ(SystemPath.back(), '\\');
  EXPECT_EQ(SystemPath.find("\\\\"), std::string::npos);
  // Both without the trailing separator: Windows' stat refuses "dir\".
  EXPECT_EQ(std::filesystem::equivalent(SystemPath.substr(0, SystemPath.size() - 1),
                                        cwd.Path().substr(0, cwd.Path().size() - 1)),
            true);
}

TEST_F(Startup, GlobalsAreDerivedFromTheRecords) {
  config.msgPath = "C:\\BBS\\MSG\\";
  config.userPath = "C:\\BBS\\USERS\\";
  config.maxMsgAreas = 200;
  config.maxFileAreas = 33;
  config.constantFlags = 0x0100;
  Board(sys.Path(), "c:\\logs\\*t*n.log");
  Args({"-NODE2"});
  EXPECT_EQ(Init("MSG"), "");
  EXPECT_EQ(MsgPath, "C:\\BBS\\MSG\\");
  EXPECT_EQ(UserBasePath, "C:\\BBS\\USERS\\");
  EXPECT_EQ(MaintLog, "C:\\LOGS\\MSG2.LOG");
  EXPECT_EQ(int(Constant.MaxMsgAreas), 200);
  EXPECT_EQ(int(Constant.MaxFileAreas), 33);
  EXPECT_EQ(int(Constant.ConstantFlags), 0x0100);

  EXPECT_EQ(Init(nullptr), "");
  EXPECT_EQ(MaintLog, "C:\\LOGS\\*T2.LOG") << "without a program code *T stays";

  Board(sys.Path(), "");
  EXPECT_EQ(Init(), "");
  EXPECT_EQ(MaintLog, "") << "an empty template is not an error";

  // The template field holds at most 60 characters, whatever its count byte says.
  std::string bytes = vt::ConfigBytes(config);
  bytes[1001] = static_cast<char>(255);
  std::memset(&bytes[1002], 'a', 300);
  vt::WriteFile(sys / "CONFIG.VLM", bytes);
  EXPECT_EQ(Init(), "");
  EXPECT_EQ(MaintLog, std::string(60, 'A'));
}

TEST_F(Startup, RecordsMustBeWholeButTheConstantFileMayBeLonger) {
  const std::string configName = sys.Board() + "CONFIG.VLM";
  const std::string constantName = sys.Board() + "CONSTANT.VLM";
  auto endsWith = [](const std::string &s, const std::string &tail) {
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
  };

  vt::WriteFile(sys / "CONFIG.VLM", vt::ConfigBytes(config));
  vt::WriteFile(sys / "CONSTANT.VLM", vt::ConstantBytes(config) + std::string(500, 'x'));
  EXPECT_EQ(Init(), "");

  vt::WriteFile(sys / "CONFIG.VLM", vt::ConfigBytes(config).substr(0, 6143));
  std::string error = Init();
  EXPECT_TRUE(endsWith(error, " reading " + configName)) << error;

  vt::WriteFile(sys / "CONFIG.VLM", vt::ConfigBytes(config));
  vt::WriteFile(sys / "CONSTANT.VLM", vt::ConstantBytes(config).substr(0, 1608));
  error = Init();
  EXPECT_TRUE(endsWith(error, " reading " + constantName)) << error;
}

TEST_F(Startup, TheLastFailingStepNamesItsFile) {
  vt::WriteFile(sys / "CONSTANT.VLM", vt::ConstantBytes(config));
  EXPECT_EQ(Init(), "CONFIG.VLM not found");

  std::filesystem::remove(sys / "CONSTANT.VLM");
  EXPECT_EQ(Init(), std::string(std::strerror(ENOENT)) + " opening " + sys.Board() + "CONSTANT.VLM");

  // A directory of the configuration's name is not a configuration file.
  vt::MakeDirs(sys / "CONFIG.VLM");
  vt::WriteFile(sys / "CONSTANT.VLM", vt::ConstantBytes(config));
  EXPECT_EQ(Init(), "CONFIG.VLM not found");
}

TEST_F(Startup, AnOverlongSystemDirectoryIsRefused) {
  Board(sys.Path(), "X.LOG");
  // Long enough that no file name built on it fits the board's 259 characters.
  const std::string longDir = sys.Board() + std::string(260, 'D') + "\\";
  vt::SetEnv("VLM", longDir);
  std::string error = Init();
  EXPECT_EQ(error, std::string(std::strerror(ENAMETOOLONG)) + " opening " + longDir + "CONSTANT.VLM");
  EXPECT_EQ(SystemPath, longDir) << "the text is kept whole, not cut into another directory";

  // The same holds for a deep current directory when VLM is not set.
  vt::UnsetEnv("VLM");
  const std::string deep = cwd.Path() + std::string(100, 'a') + "/" + std::string(100, 'b') + "/" +
                           std::string(100, 'c');
  vt::MakeDirs(deep);
  std::error_code ec;
  std::filesystem::current_path(deep, ec);
  if (ec) GTEST_SKIP() << "the host cannot enter a directory this deep";
  error = Init();
  ASSERT_GT(SystemPath.size(), 300u);
  EXPECT_EQ(SystemPath.substr(SystemPath.size() - 101), std::string(100, 'c') + "\\");
  EXPECT_EQ(error, std::string(std::strerror(ENAMETOOLONG)) + " opening " + SystemPath + "CONSTANT.VLM");
}

}  // namespace
