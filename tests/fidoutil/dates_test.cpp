#include "fidoutil/dates.h"

#include <gtest/gtest.h>

namespace lw {
namespace {

MsgDateTime D(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  MsgDateTime dt;
  dt.Year = y;
  dt.Month = mo;
  dt.Day = d;
  dt.Hour = h;
  dt.Min = mi;
  dt.Sec = s;
  return dt;
}

TEST(JulianDays, RoundTrips) {
  struct Case {
    MsgDateTime date;
    std::int32_t jd;
  } cases[] = {{D(1970, 1, 1), 2440588}, {D(2000, 3, 1), 2451605}, {D(2000, 2, 29), 2451604},
               {D(1999, 12, 31), 2451544}, {D(2038, 1, 19), 2465443}};
  for (const Case& c : cases) {
    EXPECT_EQ(DateToJulianDay(c.date), c.jd);
    std::int32_t d, m, y;
    JulianDayToDate(c.jd, d, m, y);
    EXPECT_EQ(y, c.date.Year);
    EXPECT_EQ(m, c.date.Month);
    EXPECT_EQ(d, c.date.Day);
  }
}

TEST(UnixTime, BothDirections) {
  struct Case {
    std::int32_t seconds;
    MsgDateTime date;
  } cases[] = {{0, D(1970, 1, 1)},
               {951782400, D(2000, 2, 29)},
               {951782400 + 3600 * 13 + 60 * 5 + 9, D(2000, 2, 29, 13, 5, 9)},
               {2147483647, D(2038, 1, 19, 3, 14, 7)}};
  for (const Case& c : cases) {
    MsgDateTime dt;
    dt.Sec100 = 42;
    UnixToDateTime(c.seconds, dt);
    EXPECT_EQ(DateTimeToUnix(c.date), c.seconds);
    EXPECT_EQ(dt.Year, c.date.Year);
    EXPECT_EQ(dt.Month, c.date.Month);
    EXPECT_EQ(dt.Day, c.date.Day);
    EXPECT_EQ(dt.Hour, c.date.Hour);
    EXPECT_EQ(dt.Min, c.date.Min);
    EXPECT_EQ(dt.Sec, c.date.Sec);
    EXPECT_EQ(dt.Sec100, 42);
  }
}

TEST(PackedStamps, KnownValues) {
  std::uint32_t stamp = PackStamp(D(1999, 12, 31, 23, 59, 59));
  EXPECT_EQ(stamp, 3212650399u);
  EXPECT_EQ(stamp & 0xFFFF, 10143u);
  EXPECT_EQ(stamp >> 16, 49021u);
  MsgDateTime back;
  back.Sec100 = 7;
  UnpackStamp(stamp, back);
  EXPECT_EQ(back.Sec, 58);
  EXPECT_EQ(back.Year, 1999);
  EXPECT_EQ(back.Sec100, 7);

  std::uint16_t tw = 1, dw = 1;
  PackStampWords(D(1980, 1, 1), tw, dw);
  EXPECT_EQ(tw, 0);
  EXPECT_EQ(dw, 33);
  PackStampWords(D(2026, 12, 10, 3, 41, 59), tw, dw);
  MsgDateTime w;
  UnpackStampWords(tw, dw, w);
  EXPECT_EQ(w.Year, 2026);
  EXPECT_EQ(w.Month, 12);
  EXPECT_EQ(w.Day, 10);
  EXPECT_EQ(w.Hour, 3);
  EXPECT_EQ(w.Min, 41);
  EXPECT_EQ(w.Sec, 58);
}

TEST(MonthNames, ReadAndWrite) {
  EXPECT_EQ(MonthFromName("dec"), 12);
  EXPECT_EQ(MonthFromName("Dec"), 12);
  EXPECT_EQ(MonthFromName("DEC"), 12);
  EXPECT_EQ(MonthFromName("Decem"), 0);
  EXPECT_EQ(MonthFromName(""), 0);
  EXPECT_STREQ(MonthName(1), "Jan");
  EXPECT_STREQ(MonthName(0), "???");
  EXPECT_STREQ(MonthName(13), "???");
}

TEST(TwoDigitYears, Window) {
  EXPECT_EQ(YearFromTwoDigits(70), 2070);
  EXPECT_EQ(YearFromTwoDigits(71), 1971);
  EXPECT_EQ(YearFromTwoDigits(99), 1999);
  EXPECT_EQ(YearFromTwoDigits(0), 2000);
  EXPECT_EQ(YearToTwoDigits(1999), 99);
  EXPECT_EQ(YearToTwoDigits(2005), 5);
}

}  // namespace
}  // namespace lw
