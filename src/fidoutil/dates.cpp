#include "fidoutil/dates.h"

#include "fidoutil/address.h"
#include "platform/platform.h"

namespace lw {

namespace {

const char* const kUpperMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                      "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// 32-bit arithmetic that wraps like the machine does.
std::int32_t Wrap(std::int64_t v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

}  // namespace

void GetNow(MsgDateTime& dt) {
  platform::LocalTime t = platform::Os().Now();
  dt.Year = t.year;
  dt.Month = t.month;
  dt.Day = t.day;
  dt.Hour = t.hour;
  dt.Min = t.min;
  dt.Sec = t.sec;
  dt.Sec100 = t.hundredths;
}

std::uint32_t PackStamp(const MsgDateTime& dt) {
  std::uint32_t date = static_cast<std::uint32_t>((dt.Day & 31) + dt.Month * 32 + (dt.Year - 1980) * 512) & 0xFFFF;
  std::uint32_t time = static_cast<std::uint32_t>(((dt.Sec / 2) & 31) + (dt.Min & 63) * 32 + dt.Hour * 2048) & 0xFFFF;
  return (time << 16) | date;
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
  date_word = static_cast<std::uint16_t>((dt.Year - 1980) * 512 + dt.Month * 32 + dt.Day);
  time_word = static_cast<std::uint16_t>(dt.Hour * 2048 + dt.Min * 32 + dt.Sec / 2);
}

void UnpackStampWords(std::uint16_t time_word, std::uint16_t date_word, MsgDateTime& dt) {
  dt.Day = date_word & 31;
  dt.Month = (date_word >> 5) & 15;
  dt.Year = ((date_word >> 9) & 127) + 1980;
  dt.Sec = (time_word & 31) * 2;
  dt.Min = (time_word >> 5) & 63;
  dt.Hour = (time_word >> 11) & 31;
}

std::int32_t DateToJulianDay(MsgDateTime dt) {
  std::int32_t year = dt.Year;
  std::int32_t month = dt.Month;
  if (month < 3) {
    year -= 1;
    month += 12;
  }
  std::uint32_t a = static_cast<std::uint32_t>(Wrap(static_cast<std::int64_t>(year % 100) * 1461)) >> 2;
  std::uint32_t b = static_cast<std::uint32_t>(Wrap(static_cast<std::int64_t>(year / 100) * 146097)) >> 2;
  return Wrap(static_cast<std::int64_t>(((month - 3) * 153 + 2) / 5) + dt.Day + 1721119 +
              static_cast<std::int64_t>(a) + static_cast<std::int64_t>(b));
}

void JulianDayToDate(std::int32_t jd, std::int32_t& day, std::int32_t& month, std::int32_t& year) {
  std::int32_t t = Wrap((static_cast<std::int64_t>(jd) - 1721119) * 4 - 1);
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

void UnixToDateTime(std::int32_t seconds, MsgDateTime& dt) {
  JulianDayToDate(seconds / 86400 + 2440588, dt.Day, dt.Month, dt.Year);
  std::int32_t rest = seconds % 86400;
  dt.Hour = rest / 3600;
  dt.Min = (rest % 3600) / 60;
  dt.Sec = (rest % 3600) % 60;
}

std::int32_t DateTimeToUnix(const MsgDateTime& dt) {
  std::int64_t days = static_cast<std::int64_t>(DateToJulianDay(dt)) - 2440588;
  return Wrap(days * 86400 + static_cast<std::int64_t>(dt.Hour) * 3600 + dt.Min * 60 + dt.Sec);
}

int MonthFromName(std::string_view name) {
  if (name.size() != 3) return 0;
  char up[3];
  for (int i = 0; i < 3; ++i) {
    char c = name[i];
    up[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  }
  for (int m = 0; m < 12; ++m) {
    if (std::string_view(up, 3) == kUpperMonths[m]) return m + 1;
  }
  return 0;
}

const char* MonthName(int month) {
  return (month >= 1 && month <= 12) ? kMonths[month - 1] : "???";
}

std::int32_t YearToTwoDigits(std::int32_t year) {
  return year < 2000 ? year - 1900 : year - 2000;
}

namespace {

std::string TwoDigits(std::int32_t v) {
  std::string s = IntToStr(v);
  if (s.size() == 1) return std::string("0") + s;
  return s.substr(0, 2);
}

}  // namespace

std::string FtscDateText(const MsgDateTime& dt) {
  return TwoDigits(dt.Day) + " " + MonthName(dt.Month) + " " + TwoDigits(YearToTwoDigits(dt.Year)) + "  " +
         TwoDigits(dt.Hour) + ":" + TwoDigits(dt.Min) + ":" + TwoDigits(dt.Sec);
}

std::int32_t YearFromTwoDigits(std::int32_t year) {
  return year < 71 ? year + 2000 : year + 1900;
}

}  // namespace lw
