// The TZ text and the date conversions: the zone rule against its grammar,
// packed dates taken apart, local times to seconds since 1970 against a
// plain day count, the daylight saving window against the real calendar.
//
// Input: section 0 the TZ text, section 1 packed DOS dates (4 bytes each).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dates.h"
#include "support.h"

namespace {

bool Letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool Digit(char c) { return c >= '0' && c <= '9'; }

// The grammar: three letters, an optional sign, hours of at most 24, and
// optionally a daylight name of three letters or more; anything else is 5
// hours west with daylight saving.
TimeZoneRule Zone(const std::string &text) {
  TimeZoneRule fallback;
  std::string s = text.c_str();
  if (s.size() < 3 || !Letter(s[0]) || !Letter(s[1]) || !Letter(s[2])) return fallback;
  size_t i = 3;
  int sign = 1;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) sign = s[i++] == '-' ? -1 : 1;
  if (i == s.size() || !Digit(s[i])) return fallback;
  long hours = 0;
  for (; i < s.size() && Digit(s[i]); ++i) {
    hours = hours * 10 + (s[i] - '0');
    if (hours > 24) return fallback;
  }
  TimeZoneRule rule;
  rule.westSeconds = sign * static_cast<int32_t>(hours) * 3600;
  rule.daylight = false;
  size_t letters = 0;
  while (i + letters < s.size() && Letter(s[i + letters])) ++letters;
  if (i == s.size()) return rule;
  if (letters >= 3 && i + letters == s.size()) {
    rule.daylight = true;
    return rule;
  }
  return fallback;
}

bool Leap4(int y) { return y % 4 == 0; }  // the board's rule
int DaysIn(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && Leap4(y) ? 29 : days[m - 1];
}

// Days since 1970-01-01 under the board's leap rule.
int64_t BoardDays(int y, int m, int d) {
  int64_t days = 0;
  for (int k = 1970; k < y; ++k) days += Leap4(k) ? 366 : 365;
  for (int k = 1; k < m; ++k) days += DaysIn(y, k);
  return days + d - 1;
}

// Day of the week (0 Sunday) by the real calendar, from a civil day count.
int RealWeekday(int y, int m, int d) {
  y -= m <= 2;
  int64_t era = y / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  int64_t days = era * 146097 + doe - 719468;
  return static_cast<int>(((days + 4) % 7 + 7) % 7);
}

bool Daylight(int y, int m, int d, int h) {
  if (m < 4 || m > 10) return false;
  if (m > 4 && m < 10) return true;
  int realDays = m == 4 ? 30 : 31;
  int lastSunday = realDays;
  while (RealWeekday(y, m, lastSunday) != 0) --lastSunday;
  if (m == 4) {
    int firstSunday = 1;
    while (RealWeekday(y, 4, firstSunday) != 0) ++firstSunday;
    int start = y < 1987 ? lastSunday : firstSunday;
    return d > start || (d == start && h >= 2);
  }
  return d < lastSunday || (d == lastSunday && h < 2);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> s = fz::Sections(data, size, 2);
  const std::string &tz = s[0];
  TimeZoneRule zone = ParseTimeZone(tz.c_str());
  TimeZoneRule expected = Zone(tz);
  FZ_CHECK(zone.westSeconds == expected.westSeconds && zone.daylight == expected.daylight);
  FZ_CHECK(ParseTimeZone(nullptr).westSeconds == 5 * 3600 && ParseTimeZone(nullptr).daylight);

  // Only the environment is read from here on: nothing converts a time
  // stamp through the C library, which would take TZ as a file name.
  setenv("TZ", tz.c_str(), 1);
  TimeZoneRule current = CurrentTimeZone();
  FZ_CHECK(current.westSeconds == zone.westSeconds && current.daylight == zone.daylight);

  const std::string &dates = s[1];
  for (size_t at = 0; at + 4 <= dates.size() && at < 4 * 64; at += 4) {
    int32_t packed = static_cast<int32_t>(fz::U32(dates, at));
    uint16_t y, mo, d, h, mi, sec;
    Long2Date(packed, y, mo, d, h, mi, sec);
    FZ_CHECK(y >= 1980 && y <= 2107 && mo <= 15 && d <= 31 && h <= 31 && mi <= 63 && sec <= 62);
    uint32_t stamp = LocalToUnix(y, mo, d, h, mi, sec, zone);
    // The comparison with that stamp under the zone of TZ.
    FZ_CHECK(CompareDosUnixDate(packed, stamp) == 0);
    FZ_CHECK(CompareDosUnixDate(packed, stamp + 1u) == (stamp == 0xFFFFFFFFu ? 1 : -1));
    FZ_CHECK(CompareDosUnixDate(packed, stamp - 1u) == (stamp == 0 ? -1 : 1));

    bool valid = mo >= 1 && mo <= 12 && d >= 1 && d <= DaysIn(y, mo) && h < 24 && mi < 60 && sec < 60;
    if (!valid) continue;
    int64_t plain = BoardDays(y, mo, d) * 86400 + int64_t(h) * 3600 + mi * 60 + sec + zone.westSeconds;
    bool dst = Daylight(y, mo, d, h);
    FZ_CHECK(DaylightInEffect(y, mo, d, h) == dst);
    if (zone.daylight && dst) plain -= 3600;
    FZ_CHECK(stamp == static_cast<uint32_t>(plain));
  }
  unsetenv("TZ");
  return 0;
}
