// Dates of the board's files: DOS packed local date and time, and seconds
// since 1970 worked out from the local clock with the board's own zone rule.
#pragma once

#include <cstdint>

extern const char ShortMonths[12][4];

int32_t TodayUnix();
int32_t TodayUnixAddDays(int32_t days);
void Long2Date(int32_t packed, uint16_t &year, uint16_t &month, uint16_t &day, uint16_t &hour, uint16_t &minute,
               uint16_t &second);
int CompareDosUnixDate(int32_t packed, uint32_t unixSeconds);

// The zone of the TZ variable: "EST5EDT", "GMT0", "CET-1CEST".  Anything
// else, or no TZ, means 5 hours west of UTC with daylight saving.
struct TimeZoneRule {
  int32_t westSeconds = 5 * 3600;
  bool daylight = true;
};
TimeZoneRule CurrentTimeZone();
TimeZoneRule ParseTimeZone(const char *tz);

// Local date and time to seconds since 1970 under a zone rule (every year
// divisible by 4 counts as a leap year; the result wraps at 32 bits).
uint32_t LocalToUnix(int year, int month, int day, int hour, int minute, int second, const TimeZoneRule &zone);
// Whether daylight saving is in effect at that local time: from 02:00 on the
// first Sunday of April (the last Sunday of April before 1987) until 02:00 on
// the last Sunday of October.
bool DaylightInEffect(int year, int month, int day, int hour);
