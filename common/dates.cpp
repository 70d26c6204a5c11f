#include "dates.h"

#include <cctype>
#include <cstdlib>

#include "platform.h"

const char ShortMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

// Day of the week, 0 = Sunday, by the Gregorian calendar.
int Weekday(int y, int m, int d) {
  static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (m < 3) y -= 1;
  return (y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7;
}

int FirstSunday(int y, int m) { return 1 + (7 - Weekday(y, m, 1)) % 7; }

int LastSunday(int y, int m, int daysInMonth) { return daysInMonth - Weekday(y, m, daysInMonth); }

bool IsAlpha3(const char *s) {
  return std::isalpha(static_cast<unsigned char>(s[0])) && std::isalpha(static_cast<unsigned char>(s[1])) &&
         std::isalpha(static_cast<unsigned char>(s[2]));
}

}  // namespace

TimeZoneRule ParseTimeZone(const char *tz) {
  TimeZoneRule fallback;
  if (!tz) return fallback;
  const char *p = tz;
  for (int i = 0; i < 3; ++i)
    if (!p[i]) return fallback;
  if (!IsAlpha3(p)) return fallback;
  p += 3;
  int sign = 1;
  if (*p == '+' || *p == '-') {
    if (*p == '-') sign = -1;
    ++p;
  }
  if (!std::isdigit(static_cast<unsigned char>(*p))) return fallback;
  int hours = 0;
  while (std::isdigit(static_cast<unsigned char>(*p))) {
    hours = hours * 10 + (*p - '0');
    if (hours > 24) return fallback;
    ++p;
  }
  TimeZoneRule rule;
  rule.westSeconds = sign * hours * 3600;
  rule.daylight = false;
  if (*p == '\0') return rule;
  // The daylight zone name: three letters or more ("EDT", "CEST"); its
  // presence alone turns daylight saving on.
  size_t letters = 0;
  while (std::isalpha(static_cast<unsigned char>(p[letters]))) ++letters;
  if (letters >= 3 && p[letters] == '\0') {
    rule.daylight = true;
    return rule;
  }
  return fallback;
}

TimeZoneRule CurrentTimeZone() { return ParseTimeZone(std::getenv("TZ")); }

bool DaylightInEffect(int year, int month, int day, int hour) {
  if (month < 4 || month > 10) return false;
  if (month > 4 && month < 10) return true;
  if (month == 4) {
    int start = year < 1987 ? LastSunday(year, 4, 30) : FirstSunday(year, 4);
    return day > start || (day == start && hour >= 2);
  }
  int end = LastSunday(year, 10, 31);
  return day < end || (day == end && hour < 2);
}

uint32_t LocalToUnix(int year, int month, int day, int hour, int minute, int second, const TimeZoneRule &zone) {
  static const int cumulative[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  int64_t days = 0;
  for (int y = 1970; y < year; ++y) days += (y % 4 == 0) ? 366 : 365;
  for (int y = year; y < 1970; ++y) days -= (y % 4 == 0) ? 366 : 365;
  if (month >= 1 && month <= 12) {
    days += cumulative[month - 1];
    if (month > 2 && year % 4 == 0) days += 1;
  }
  days += day - 1;
  int64_t t = days * 86400 + int64_t(hour) * 3600 + int64_t(minute) * 60 + second;
  t += zone.westSeconds;
  if (zone.daylight && month >= 1 && month <= 12 && DaylightInEffect(year, month, day, hour)) t -= 3600;
  return static_cast<uint32_t>(t);
}

int32_t TodayUnix() {
  plat::LocalTime now = plat::GetLocalTime();
  return static_cast<int32_t>(
      LocalToUnix(now.year, now.month, now.day, now.hour, now.minute, now.second, CurrentTimeZone()));
}

int32_t TodayUnixAddDays(int32_t days) {
  return static_cast<int32_t>(static_cast<uint32_t>(TodayUnix()) + static_cast<uint32_t>(days) * 86400u);
}

void Long2Date(int32_t packed, uint16_t &year, uint16_t &month, uint16_t &day, uint16_t &hour, uint16_t &minute,
               uint16_t &second) {
  uint32_t v = static_cast<uint32_t>(packed);
  year = static_cast<uint16_t>(1980 + ((v >> 25) & 0x7F));
  month = static_cast<uint16_t>((v >> 21) & 0x0F);
  day = static_cast<uint16_t>((v >> 16) & 0x1F);
  hour = static_cast<uint16_t>((v >> 11) & 0x1F);
  minute = static_cast<uint16_t>((v >> 5) & 0x3F);
  second = static_cast<uint16_t>((v & 0x1F) * 2);
}

int CompareDosUnixDate(int32_t packed, uint32_t unixSeconds) {
  uint16_t y, mo, d, h, mi, s;
  Long2Date(packed, y, mo, d, h, mi, s);
  uint32_t stamp = LocalToUnix(y, mo, d, h, mi, s, CurrentTimeZone());
  if (stamp < unixSeconds) return -1;
  return stamp == unixSeconds ? 0 : 1;
}
