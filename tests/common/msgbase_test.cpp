// Area file names and the next-read numbers of LASTCOMB.BBS.
#include <gtest/gtest.h>

#include "msgbase.h"
#include "platform.h"
#include "startup.h"
#include "test_support.h"

namespace {

TEST(GetMsgAreaPath, DirectoryPerHundredAreasAndFiveDigitNumbers) {
  MsgPath = "C:\\BBS\\MSG\\";
  std::string path;
  EXPECT_EQ(GetMsgAreaPath(7, path, kHeaderFile), "C:\\BBS\\MSG\\AREA1\\MH00007.BBS");
  EXPECT_EQ(&GetMsgAreaPath(7, path, kHeaderFile), &path);
  EXPECT_EQ(GetMsgAreaPath(250, path, kTextFile), "C:\\BBS\\MSG\\AREA3\\MT00250.BBS");
  EXPECT_EQ(GetMsgAreaPath(100, path, kHeaderFile), "C:\\BBS\\MSG\\AREA1\\MH00100.BBS");
  EXPECT_EQ(GetMsgAreaPath(101, path, kHeaderFile), "C:\\BBS\\MSG\\AREA2\\MH00101.BBS");
  EXPECT_EQ(GetMsgAreaPath(1000, path, 0), "C:\\BBS\\MSG\\AREA10\\MH01000.BBS");
  EXPECT_EQ(GetMsgAreaPath(65535, path, kTextFile), "C:\\BBS\\MSG\\AREA656\\MT65535.BBS");
}

class NextRead : public ::testing::Test {
 protected:
  void SetUp() override {
    Constant.MaxMsgAreas = 32;
    // Three users of two blocks each, every byte distinct so a stray write shows.
    std::string bytes;
    for (int i = 0; i < 3 * 2 * 34; ++i) bytes += static_cast<char>(i);
    vt::WriteFile(dir / "LASTCOMB.BBS", bytes);
    original = bytes;
    file.reset(plat::OpenFile(dir.Board() + "LASTCOMB.BBS", plat::Access::ReadWrite, plat::Share::DenyWrite,
                              plat::Mode::Binary));
    ASSERT_TRUE(file);
  }
  std::string Contents() {
    std::fflush(file.get());
    return vt::ReadFile(dir / "LASTCOMB.BBS");
  }

  vt::TempDir dir;
  plat::UniqueFile file;
  std::string original;
};

TEST_F(NextRead, AddressesUserBlockAndArea) {
  // User 2, area 17: (2 * 2 + 1) * 34 + 2 = 172.
  EXPECT_EQ(GetNextRead(file.get(), 2, 17), 172 | (173 << 8));
  EXPECT_EQ(GetNextRead(file.get(), 0, 1), 2 | (3 << 8));
  EXPECT_EQ(GetNextRead(file.get(), 1, 32), (68 + 34 + 32) | ((68 + 34 + 33) << 8));

  EXPECT_EQ(PutNextRead(file.get(), 2, 17, 0xBEEF), 1);
  // Reads and writes mix freely on one stream.
  EXPECT_EQ(GetNextRead(file.get(), 2, 17), 0xBEEF);
  EXPECT_EQ(PutNextRead(file.get(), 0, 1, 7), 1);
  std::string expected = original;
  vt::PutU16(expected, 172, 0xBEEF);
  vt::PutU16(expected, 2, 7);
  EXPECT_EQ(Contents(), expected);
}

TEST_F(NextRead, RefusesAreasWithoutAPlaceAndReadsNothingPastTheEnd) {
  EXPECT_EQ(PutNextRead(file.get(), 0, 0, 5), 0);
  EXPECT_EQ(PutNextRead(file.get(), 0, 33, 5), 0);
  EXPECT_EQ(GetNextRead(file.get(), 3, 1), 0);  // user beyond the end
  EXPECT_EQ(GetNextRead(file.get(), 0, 0), 0);
  // The block word is never touched by a neighbouring area.
  EXPECT_EQ(PutNextRead(file.get(), 0, 16, 9), 1);
  EXPECT_EQ(PutNextRead(file.get(), 0, 17, 9), 1);
  std::string expected = original;
  vt::PutU16(expected, 32, 9);
  vt::PutU16(expected, 36, 9);
  EXPECT_EQ(Contents(), expected);
}

TEST_F(NextRead, AreasAboveTheLastWholeBlockStayOutOfTheNextUsersRecord) {
  // 40 areas: a record holds 2 blocks (areas 1-32); areas 33-40 have no place.
  Constant.MaxMsgAreas = 40;
  EXPECT_EQ(PutNextRead(file.get(), 0, 33, 5), 0);
  EXPECT_EQ(PutNextRead(file.get(), 0, 40, 5), 0);
  EXPECT_EQ(GetNextRead(file.get(), 0, 33), 0);
  EXPECT_EQ(PutNextRead(file.get(), 1, 32, 6), 1);
  std::string expected = original;
  vt::PutU16(expected, 68 + 34 + 32, 6);
  EXPECT_EQ(Contents(), expected);

  // Fewer than 16 areas: no area has a place at all.
  Constant.MaxMsgAreas = 15;
  EXPECT_EQ(PutNextRead(file.get(), 0, 1, 5), 0);
  EXPECT_EQ(GetNextRead(file.get(), 0, 1), 0);
  EXPECT_EQ(Contents(), expected);
}

TEST_F(NextRead, WritingPastTheEndExtendsTheFile) {
  EXPECT_EQ(PutNextRead(file.get(), 4, 1, 0x0102), 1);
  std::string contents = Contents();
  ASSERT_EQ(contents.size(), 4u * 68 + 4);
  EXPECT_EQ(contents.substr(0, original.size()), original);
  EXPECT_EQ(contents.substr(4 * 68 + 2), "\x02\x01");
  EXPECT_EQ(GetNextRead(file.get(), 4, 1), 0x0102);
}

}  // namespace
