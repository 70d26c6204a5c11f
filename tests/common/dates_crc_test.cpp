// Dates under the board's own zone rule, and the CRC-32 register of the
// name and subject keys.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>

#include "crc32.h"
#include "dates.h"
#include "test_support.h"

namespace {

int32_t Pack(int year, int month, int day, int hour, int minute, int second) {
  uint32_t v = (uint32_t(year - 1980) << 25) | (uint32_t(month) << 21) | (uint32_t(day) << 16) |
               (uint32_t(hour) << 11) | (uint32_t(minute) << 5) | uint32_t(second / 2);
  return static_cast<int32_t>(v);
}

// Sets TZ for one test and puts the old value back.
class ZoneEnv : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char *tz = std::getenv("TZ")) saved_ = tz;
  }
  void TearDown() override {
    if (saved_)
      vt::SetEnv("TZ", *saved_);
    else
      vt::UnsetEnv("TZ");
  }

 private:
  std::optional<std::string> saved_;
};

TEST(Crc32, RegisterStartsAtAllOnesAndIsNotInverted) {
  EXPECT_EQ(CRC32Table[0], 0u);
  EXPECT_EQ(CRC32Table[1], 0x77073096u);
  EXPECT_EQ(CRC32Table[255], 0x2D02EF8Du);

  auto crc = [](const std::string &bytes) {
    uint32_t r = 0xFFFFFFFFu;
    for (char c : bytes) r = UpdateCRC32(static_cast<uint8_t>(c), r);
    return r;
  };
  EXPECT_EQ(crc(""), 0xFFFFFFFFu);
  EXPECT_EQ(crc("ABC"), 0x5C7CFCB7u);
  EXPECT_EQ(crc("123456789"), ~0xCBF43926u) << "the complement of the standard check value";
  // Eight bytes a step give the same register, whatever the length and start.
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes.push_back(char(i * 37 + 11));
  for (size_t from : {0, 1, 3})
    for (size_t length : {0, 1, 7, 8, 9, 64, 255})
      EXPECT_EQ(UpdateCRC32(bytes.data() + from, length, 0xFFFFFFFFu), crc(bytes.substr(from, length))) << from << " " << length;
}

TEST(Dates, Long2DateUnpacksEveryField) {
  uint16_t y, mo, d, h, mi, s;
  Long2Date(Pack(2023, 12, 31, 23, 59, 58), y, mo, d, h, mi, s);
  EXPECT_EQ((std::array<int, 6>{y, mo, d, h, mi, s}), (std::array<int, 6>{2023, 12, 31, 23, 59, 58}));
  Long2Date(0, y, mo, d, h, mi, s);
  EXPECT_EQ((std::array<int, 6>{y, mo, d, h, mi, s}), (std::array<int, 6>{1980, 0, 0, 0, 0, 0}));
  // Stamps from 2044 on have the sign bit set.
  Long2Date(Pack(2100, 1, 2, 3, 4, 6), y, mo, d, h, mi, s);
  EXPECT_EQ((std::array<int, 6>{y, mo, d, h, mi, s}), (std::array<int, 6>{2100, 1, 2, 3, 4, 6}));

  EXPECT_STREQ(ShortMonths[0], "Jan");
  EXPECT_STREQ(ShortMonths[11], "Dec");
}

TEST(Dates, TimeZoneComesFromTzOrDefaultsToFiveHoursWestWithDaylightSaving) {
  struct Case {
    const char *tz;
    int32_t west;
    bool daylight;
  };
  const Case cases[] = {
      {"EST5EDT", 5 * 3600, true}, {"GMT0", 0, false},          {"CET-1CEST", -3600, true},
      {"PST+8PDT", 8 * 3600, true}, {nullptr, 5 * 3600, true},  {"", 5 * 3600, true},
      {"EST", 5 * 3600, true},      {"E5EDT", 5 * 3600, true},  {"GMT0X", 5 * 3600, true},
      {"CET-1CE", 5 * 3600, true},  {"GMTx0", 5 * 3600, true},  {"UTC99", 5 * 3600, true},
      {"CET-1CEST,M3.5.0", 5 * 3600, true}, {"AEST-10AEDT", 5 * 3600, true},
  };
  for (const Case &c : cases) {
    TimeZoneRule z = ParseTimeZone(c.tz);
    EXPECT_EQ(z.westSeconds, c.west) << (c.tz ? c.tz : "(none)");
    EXPECT_EQ(z.daylight, c.daylight) << (c.tz ? c.tz : "(none)");
  }
}

TEST(Dates, DaylightSavingStartsAndEndsAtTwoInTheMorning) {
  // 1986: the last Sunday of April (27th); the first Sunday (6th) is no change.
  EXPECT_FALSE(DaylightInEffect(1986, 4, 6, 12));
  EXPECT_FALSE(DaylightInEffect(1986, 4, 27, 1));
  EXPECT_TRUE(DaylightInEffect(1986, 4, 27, 2));
  // From 1987: the first Sunday of April (5th).
  EXPECT_FALSE(DaylightInEffect(1987, 4, 4, 23));
  EXPECT_FALSE(DaylightInEffect(1987, 4, 5, 1));
  EXPECT_TRUE(DaylightInEffect(1987, 4, 5, 2));
  // Until the last Sunday of October.
  EXPECT_TRUE(DaylightInEffect(1986, 10, 26, 1));
  EXPECT_FALSE(DaylightInEffect(1986, 10, 26, 2));
  EXPECT_TRUE(DaylightInEffect(1987, 10, 25, 1));
  EXPECT_FALSE(DaylightInEffect(1987, 10, 25, 2));
  EXPECT_TRUE(DaylightInEffect(2023, 7, 1, 0));
  EXPECT_FALSE(DaylightInEffect(2023, 12, 31, 12));

  const TimeZoneRule est = ParseTimeZone("EST5EDT");
  // 1987-04-05 00:00 UTC is 544579200; 01:59 EST is 06:59 UTC, 02:00 EDT is 06:00 UTC.
  EXPECT_EQ(LocalToUnix(1987, 4, 5, 1, 59, 0, est), 544579200u + 6 * 3600 + 59 * 60);
  EXPECT_EQ(LocalToUnix(1987, 4, 5, 2, 0, 0, est), 544579200u + 6 * 3600);
  // 1986-04-27 00:00 UTC is 514944000.
  EXPECT_EQ(LocalToUnix(1986, 4, 27, 1, 59, 0, est), 514944000u + 6 * 3600 + 59 * 60);
  EXPECT_EQ(LocalToUnix(1986, 4, 27, 2, 0, 0, est), 514944000u + 6 * 3600);
  // 1987-10-25 00:00 UTC is 562118400; 01:59 EDT is 05:59 UTC, 02:00 EST is 07:00 UTC.
  EXPECT_EQ(LocalToUnix(1987, 10, 25, 1, 59, 0, est), 562118400u + 5 * 3600 + 59 * 60);
  EXPECT_EQ(LocalToUnix(1987, 10, 25, 2, 0, 0, est), 562118400u + 7 * 3600);

  // Central European summer time is two hours east of UTC: 12:00 is 10:00 UTC.
  EXPECT_EQ(LocalToUnix(2023, 7, 1, 12, 0, 0, ParseTimeZone("CET-1CEST")), 1688205600u);

  const TimeZoneRule gmt = ParseTimeZone("GMT0");
  EXPECT_EQ(LocalToUnix(1987, 4, 5, 2, 0, 0, gmt), 544579200u + 2 * 3600) << "no daylight saving without a name";
  EXPECT_EQ(LocalToUnix(2023, 12, 31, 23, 59, 58, gmt), 1704067198u);
}

TEST_F(ZoneEnv, CompareDosUnixDateIsUnsignedAndUsesTheZone) {
  vt::SetEnv("TZ", "GMT0");
  const int32_t stamp = Pack(2023, 12, 31, 23, 59, 58);
  EXPECT_EQ(CompareDosUnixDate(stamp, 1704067198u), 0);
  EXPECT_EQ(CompareDosUnixDate(stamp, 1704067199u), -1);
  EXPECT_EQ(CompareDosUnixDate(stamp, 1704067197u), 1);

  // From 2038 on the seconds value is past every signed number.
  EXPECT_EQ(CompareDosUnixDate(Pack(2037, 12, 31, 23, 59, 58), 2147483648u), -1);
  EXPECT_EQ(CompareDosUnixDate(Pack(2050, 6, 1, 0, 0, 0), 2147483648u), 1);

  vt::SetEnv("TZ", "EST5EDT");
  EXPECT_EQ(CompareDosUnixDate(stamp, 1704067198u + 5 * 3600), 0);
  EXPECT_EQ(CompareDosUnixDate(Pack(2023, 7, 1, 12, 0, 0), LocalToUnix(2023, 7, 1, 16, 0, 0, TimeZoneRule{0, false})),
            0)
      << "noon EDT is 16:00 UTC";

  vt::UnsetEnv("TZ");
  EXPECT_EQ(CompareDosUnixDate(stamp, 1704067198u + 5 * 3600), 0) << "no TZ means 5 hours west";
}

TEST(Dates, TodayUnixAddDaysCountsWholeDays) {
  int32_t before = TodayUnix();
  int32_t past = TodayUnixAddDays(-30);
  int32_t after = TodayUnix();
  EXPECT_GE(past + 2592000, before);
  EXPECT_LE(past + 2592000, after);
  int32_t again = TodayUnixAddDays(0);
  EXPECT_GE(again, after);
}

}  // namespace
