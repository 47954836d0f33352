#include "fidoutil/dates.h"

#include <algorithm>
#include <climits>

#include "fidoutil/address.h"
#include "fidoutil/helpers.h"
#include "platform/platform.h"

namespace lw {

namespace {

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr std::int32_t kFirstPackedYear = 1980;
constexpr std::int32_t kLastPackedYear = 2107;  // 7 bits of years
constexpr std::int32_t kFirstCalendarYear = 1;
constexpr std::int32_t kLastCalendarYear = 9999;
constexpr std::int32_t kFirstCalendarDay = 1721426;  // 0001-01-01
constexpr std::int32_t kLastCalendarDay = 5373484;   // 9999-12-31
constexpr std::int32_t kUnixEpochJulianDay = 2440588;
constexpr std::int64_t kSecondsPerDay = 86400;

// True when `a` and `b` spell the same ASCII letters, whatever their case.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerChar(a[i]) != LowerChar(b[i])) return false;
  }
  return true;
}

std::int32_t Clamp(std::int32_t v, std::int32_t lo, std::int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

bool IsLeapYear(std::int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

std::int32_t DaysInMonth(std::int32_t year, std::int32_t month) {
  static const std::int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Whether a month or day of 0, the mark of a date text that did not say
// it, is kept by a conversion (a packed stamp and a date text hold it) or
// clamped like any other value outside its range (a calendar date cannot).
enum class Unknown { kKept, kClamped };

// `dt` with every field clamped into its range, the day to the length of
// its month; a year before `first_year` gives that year's first moment, one
// after `last_year` that year's last.  A month or day of 0 stays 0 when
// `unknown` keeps it.
MsgDateTime Clamped(const MsgDateTime& dt, std::int32_t first_year, std::int32_t last_year, Unknown unknown) {
  const bool keep_month = unknown == Unknown::kKept && dt.Month == 0;
  const bool keep_day = unknown == Unknown::kKept && dt.Day == 0;
  MsgDateTime c = dt;
  if (dt.Year < first_year || dt.Year > last_year) {
    bool before = dt.Year < first_year;
    c.Year = before ? first_year : last_year;
    c.Month = keep_month ? 0 : before ? 1 : 12;
    c.Day = keep_day ? 0 : before ? 1 : 31;
    c.Hour = before ? 0 : 23;
    c.Min = c.Sec = before ? 0 : 59;
    return c;
  }
  c.Month = keep_month ? 0 : Clamp(dt.Month, 1, 12);
  c.Day = keep_day ? 0 : Clamp(dt.Day, 1, c.Month == 0 ? 31 : DaysInMonth(c.Year, c.Month));
  c.Hour = Clamp(dt.Hour, 0, 23);
  c.Min = Clamp(dt.Min, 0, 59);
  c.Sec = Clamp(dt.Sec, 0, 59);
  return c;
}

std::uint16_t PackedDate(const MsgDateTime& c) {
  return static_cast<std::uint16_t>((c.Year - kFirstPackedYear) << 9 | c.Month << 5 | c.Day);
}

std::uint16_t PackedTime(const MsgDateTime& c) {
  return static_cast<std::uint16_t>(c.Hour << 11 | c.Min << 5 | c.Sec / 2);
}

}  // namespace

void GetNow(MsgDateTime& dt) { dt = platform::Os().Now(); }

std::uint32_t PackStamp(const MsgDateTime& dt) {
  MsgDateTime c = Clamped(dt, kFirstPackedYear, kLastPackedYear, Unknown::kKept);
  return static_cast<std::uint32_t>(PackedTime(c)) << 16 | PackedDate(c);
}

void UnpackStamp(std::uint32_t stamp, MsgDateTime& dt) {
  dt.Day = static_cast<std::int32_t>(stamp & 31);
  dt.Month = static_cast<std::int32_t>((stamp >> 5) & 15);
  dt.Year = static_cast<std::int32_t>((stamp >> 9) & 127) + 1980;
  dt.Sec = static_cast<std::int32_t>((stamp >> 16) & 31) * 2;
  dt.Min = static_cast<std::int32_t>((stamp >> 21) & 63);
  dt.Hour = static_cast<std::int32_t>((stamp >> 27) & 31);
}

void PackStampWords(const MsgDateTime& dt, std::uint16_t& time_word, std::uint16_t& date_word) {
  MsgDateTime c = Clamped(dt, kFirstPackedYear, kLastPackedYear, Unknown::kKept);
  date_word = PackedDate(c);
  time_word = PackedTime(c);
}

void UnpackStampWords(std::uint16_t time_word, std::uint16_t date_word, MsgDateTime& dt) {
  dt.Day = date_word & 31;
  dt.Month = (date_word >> 5) & 15;
  dt.Year = ((date_word >> 9) & 127) + 1980;
  dt.Sec = (time_word & 31) * 2;
  dt.Min = (time_word >> 5) & 63;
  dt.Hour = (time_word >> 11) & 31;
}

// The clamps keep every intermediate value small and positive, so plain
// 32-bit arithmetic neither overflows nor meets a negative division.
std::int32_t DateToJulianDay(MsgDateTime dt) {
  MsgDateTime c = Clamped(dt, kFirstCalendarYear, kLastCalendarYear, Unknown::kClamped);
  std::int32_t year = c.Year;
  std::int32_t month = c.Month;
  if (month < 3) {
    year -= 1;
    month += 12;
  }
  return (year % 100) * 1461 / 4 + (year / 100) * 146097 / 4 + ((month - 3) * 153 + 2) / 5 + c.Day + 1721119;
}

void JulianDayToDate(std::int32_t jd, std::int32_t& day, std::int32_t& month, std::int32_t& year) {
  std::int32_t t = (Clamp(jd, kFirstCalendarDay, kLastCalendarDay) - 1721119) * 4 - 1;
  std::int32_t century = t / 146097;
  std::int32_t r = (t % 146097) | 3;
  std::int32_t y = r / 1461;
  std::int32_t u = ((r % 1461 + 4) / 4) * 5 - 3;
  std::int32_t m = u / 153;
  if (m > 9) {
    y += 1;
    m -= 12;
  }
  year = century * 100 + y;
  month = m + 3;
  day = (u % 153 + 5) / 5;
}

void UnixToDateTime(std::uint32_t seconds, MsgDateTime& dt) {
  std::int32_t days = static_cast<std::int32_t>(seconds / kSecondsPerDay);
  std::int32_t rest = static_cast<std::int32_t>(seconds % kSecondsPerDay);
  JulianDayToDate(days + kUnixEpochJulianDay, dt.Day, dt.Month, dt.Year);
  dt.Hour = rest / 3600;
  dt.Min = rest % 3600 / 60;
  dt.Sec = rest % 60;
}

std::uint32_t DateTimeToUnix(const MsgDateTime& dt) {
  // Years outside 1969..2107 are beyond either end of the range anyway.
  MsgDateTime c = Clamped(dt, 1969, 2107, Unknown::kClamped);
  std::int64_t seconds = (static_cast<std::int64_t>(DateToJulianDay(c)) - kUnixEpochJulianDay) * kSecondsPerDay +
                         c.Hour * 3600 + c.Min * 60 + c.Sec;
  if (seconds < 0) return 0;
  if (seconds > 0xFFFFFFFFLL) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(seconds);
}

int MonthFromName(std::string_view name) {
  if (name.size() != 3) return 0;
  for (int m = 0; m < 12; ++m) {
    if (EqualsIgnoringAsciiCase(name, kMonths[m])) return m + 1;
  }
  return 0;
}

const char* MonthName(int month) { return (month >= 1 && month <= 12) ? kMonths[month - 1] : "???"; }

std::int32_t YearToTwoDigits(std::int32_t year) {
  std::int32_t r = year % 100;
  return r < 0 ? r + 100 : r;
}

std::string TwoDigits(std::int32_t v) {
  if (v < 0) return "00";
  return {static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10)};
}

std::string FtscDateText(const MsgDateTime& dt) {
  MsgDateTime c = Clamped(dt, INT32_MIN, INT32_MAX, Unknown::kKept);
  return TwoDigits(c.Day) + " " + MonthName(c.Month) + " " + TwoDigits(YearToTwoDigits(c.Year)) + "  " +
         TwoDigits(c.Hour) + ":" + TwoDigits(c.Min) + ":" + TwoDigits(c.Sec);
}

std::int32_t YearFromTwoDigits(std::int32_t year) {
  if (year >= 0 && year <= 70) return year + 2000;
  if (year >= 71 && year <= 999) return year + 1900;
  return year;
}

void ReadDateText(std::string_view text, MsgDateTime& dt) {
  dt = MsgDateTime{};
  auto number = [](std::string_view digits) {
    std::int32_t v = 0;
    StrToLongInt(digits, v);
    return v;
  };
  auto at = [text](std::size_t one_based) { return one_based <= text.size() ? text[one_based - 1] : '\0'; };
  auto read_date = [&dt, &number](std::string_view words) {
    dt.Day = number(ExtractWordView(1, words, " "));
    dt.Month = MonthFromName(ExtractWordView(2, words, " "));
    dt.Year = number(ExtractWordView(3, words, " "));
  };
  if (at(3) == ' ') {
    // "01 Jan 99  12:34:56" or "01 Jan 99 12:34:56"
    read_date(text);
    const std::string_view time = text.substr(std::min<std::size_t>(text.size(), at(11) == ' ' ? 11 : 10));
    dt.Hour = number(ExtractWordView(1, time, ":"));
    dt.Min = number(ExtractWordView(2, time, ":"));
    dt.Sec = number(ExtractWordView(3, time, ": "));
  } else if (at(4) == ' ') {
    // "Tue  5 Feb 02 01:02"
    const std::string_view rest = text.substr(4);
    read_date(rest);
    const std::string_view time = rest.substr(std::min<std::size_t>(rest.size(), 10));
    dt.Hour = number(ExtractWordView(1, time, ":"));
    dt.Min = number(ExtractWordView(2, time, ":"));
  } else if (at(3) == '-') {
    // "12-05-01 10:20:30"
    dt.Day = number(ExtractWordView(1, text, "-: "));
    dt.Month = number(ExtractWordView(2, text, "-: "));
    dt.Year = number(ExtractWordView(3, text, "-: "));
    dt.Hour = number(ExtractWordView(4, text, "-: "));
    dt.Min = number(ExtractWordView(5, text, "-: "));
    dt.Sec = number(ExtractWordView(6, text, "-: "));
  }
  dt.Year = YearFromTwoDigits(dt.Year);
}

}  // namespace lw
