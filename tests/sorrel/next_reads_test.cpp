// Next-read numbers of many areas read and written in large pieces give
// what one number at a time gives, and never write a number nobody changed.
#include <gtest/gtest.h>

#include "msgbase.h"
#include "next_reads.h"
#include "startup.h"
#include "test_support.h"

namespace {

struct NextReadsFile : ::testing::Test {
  vt::TempDir dir;
  plat::UniqueFile file;
  uint16_t savedAreas = Constant.MaxMsgAreas;

  // A file of `users` records for 48 areas (three blocks a user), every
  // number distinct, cut short by `missing` bytes.
  void Make(uint32_t users, size_t missing = 0) {
    Constant.MaxMsgAreas = 48;
    std::string bytes(users * 3 * sizeof(NextReadBlock), '\0');
    for (uint32_t u = 0; u < users; ++u)
      for (uint16_t area = 1; area <= 48; ++area) vt::PutU16(bytes, size_t(NextReadOffset(uint16_t(u), area)), uint16_t(u * 100 + area));
    bytes.resize(bytes.size() - missing);
    vt::WriteFile(dir / "LASTCOMB.BBS", bytes);
    file = vt::Open(dir.Board() + "LASTCOMB.BBS", plat::Access::ReadWrite);
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
  }
  ~NextReadsFile() override { Constant.MaxMsgAreas = savedAreas; }
};

TEST_F(NextReadsFile, ReadsEveryUsersNumbersOfTheAreasAsOneAtATimeDoes) {
  Make(700, 40);  // the last user's record is cut short
  std::vector<uint16_t> areas = {3, 16, 17, 40, 60};  // 60 has no place
  std::vector<uint16_t> values;
  ASSERT_EQ(ReadNextReads(file.get(), areas, 701, values), 1);
  ASSERT_EQ(values.size(), 701 * areas.size());
  for (uint32_t u = 0; u < 701; ++u)
    for (size_t i = 0; i < areas.size(); ++i)
      ASSERT_EQ(values[u * areas.size() + i], GetNextRead(file.get(), uint16_t(u), areas[i])) << u << " " << areas[i];
  EXPECT_EQ(values[699 * areas.size() + 3], 0);  // cut off
  EXPECT_EQ(values[5 * areas.size() + 4], 0);    // no place
}

TEST_F(NextReadsFile, WritesOnlyWhereTheOldValueIsStillThere) {
  Make(3);
  std::string before = vt::ReadFile(dir / "LASTCOMB.BBS");
  // Areas 15 to 18 of user 1 span a block's reserved bytes; user 2's area 17
  // was moved on by the board (old value not there); area 20 is not changed.
  std::vector<NextReadWrite> changes;
  for (uint16_t area : {18, 15, 16, 17})
    changes.push_back({NextReadOffset(1, area), uint16_t(100 + area), uint16_t(area)});
  changes.push_back({NextReadOffset(2, 17), 9999, 1});
  ASSERT_EQ(WriteNextReads(file.get(), changes), 1);
  std::string after = vt::ReadFile(dir / "LASTCOMB.BBS");
  std::string want = before;
  for (uint16_t area : {15, 16, 17, 18}) vt::PutU16(want, size_t(NextReadOffset(1, area)), area);
  EXPECT_EQ(after, want);
}

}  // namespace
