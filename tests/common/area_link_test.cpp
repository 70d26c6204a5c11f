// Loading and clearing the marks of MSGREPLY.BBS.
#include <gtest/gtest.h>

#include <cstring>

#include "area_link.h"
#include "startup.h"
#include "switches.h"
#include "test_support.h"

namespace {

class AreaLinkLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    MsgPath = dir.Board();
    Constant.MaxMsgAreas = 200;
    Args({});
  }
  void TearDown() override { Args({}); }

  void Args(std::vector<const char *> args) {
    args.insert(args.begin(), "test");
    SetArguments(static_cast<int>(args.size()), args.data());
  }
  // Runs GetAreaLink and returns what it printed.
  std::string Load() {
    ::testing::internal::CaptureStdout();
    GetAreaLink();
    return ::testing::internal::GetCapturedStdout();
  }
  std::vector<int> Selected() {
    std::vector<int> areas;
    for (int k = 1; k <= Constant.MaxMsgAreas; ++k)
      if (AreaLink[k - 1]) areas.push_back(k);
    return areas;
  }
  std::string Marks() { return vt::ReadFile(dir / "MSGREPLY.BBS"); }

  vt::TempDir dir;
};

TEST_F(AreaLinkLoad, ShortFileSelectsItsMarksAndIsClearedToFullLength) {
  vt::WriteFile(dir / "MSGREPLY.BBS", std::string("\0\5\1", 3));
  EXPECT_EQ(Load(), "");
  EXPECT_EQ(Selected(), (std::vector<int>{2, 3}));
  EXPECT_EQ(Marks(), std::string(200, '\0'));
}

TEST_F(AreaLinkLoad, LongerFileKeepsTheBytesBeyondTheAreas) {
  Constant.MaxMsgAreas = 4;
  vt::WriteFile(dir / "MSGREPLY.BBS", std::string("\1\0\2\xFF\7\7", 6));
  Load();
  EXPECT_EQ(Selected(), (std::vector<int>{1, 3, 4}));
  EXPECT_EQ(Marks(), std::string("\0\0\0\0\7\7", 6));
}

TEST_F(AreaLinkLoad, MissingFileIsReportedAndNotCreated) {
  EXPECT_EQ(Load(), std::string(std::strerror(ENOENT)) + " opening " + dir.Board() + "MSGREPLY.BBS\n");
  ASSERT_TRUE(AreaLink);
  EXPECT_TRUE(Selected().empty());
  EXPECT_FALSE(vt::FileExists(dir / "MSGREPLY.BBS"));

  // With LINKALL the same message, then every area.
  Args({"-LINKALL"});
  EXPECT_EQ(Load(), std::string(std::strerror(ENOENT)) + " opening " + dir.Board() + "MSGREPLY.BBS\n");
  EXPECT_EQ(Selected().size(), 200u);
  EXPECT_FALSE(vt::FileExists(dir / "MSGREPLY.BBS"));
}

TEST_F(AreaLinkLoad, LinkAllSelectsEveryAreaAndStillConsumesTheMarks) {
  for (const char *form : {"-LINKALL", "/linkall", "-linkallareas"}) {
    vt::WriteFile(dir / "MSGREPLY.BBS", std::string("\0\1", 2));
    Args({form});
    Load();
    EXPECT_EQ(Selected().size(), 200u) << form;
    EXPECT_EQ(Marks(), std::string(200, '\0')) << form;
  }
}

TEST_F(AreaLinkLoad, NoAreasConfigured) {
  Constant.MaxMsgAreas = 0;
  vt::WriteFile(dir / "MSGREPLY.BBS", "\1\1");
  EXPECT_EQ(Load(), "");
  ASSERT_TRUE(AreaLink);
  EXPECT_EQ(Marks(), "\1\1");
}

}  // namespace
