#include "fidoutil/dates.h"

#include <gtest/gtest.h>

#include <climits>

#include "fidoutil/helpers.h"

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

TEST(DatesJulianDays, RoundTrips) {
  struct Case {
    MsgDateTime date;
    std::int32_t jd;
  } cases[] = {{D(1970, 1, 1), 2440588},
               {D(2000, 3, 1), 2451605},
               {D(2000, 2, 29), 2451604},
               {D(1999, 12, 31), 2451544},
               {D(2038, 1, 19), 2465443}};
  for (const Case& c : cases) {
    EXPECT_EQ(DateToJulianDay(c.date), c.jd);
    std::int32_t d, m, y;
    JulianDayToDate(c.jd, d, m, y);
    EXPECT_EQ(y, c.date.Year);
    EXPECT_EQ(m, c.date.Month);
    EXPECT_EQ(d, c.date.Day);
  }
}

void ExpectSameMoment(const MsgDateTime& got, const MsgDateTime& want) {
  EXPECT_EQ(got.Year, want.Year);
  EXPECT_EQ(got.Month, want.Month);
  EXPECT_EQ(got.Day, want.Day);
  EXPECT_EQ(got.Hour, want.Hour);
  EXPECT_EQ(got.Min, want.Min);
  EXPECT_EQ(got.Sec, want.Sec);
}

// JAM's unsigned seconds over their whole range, past the signed 32-bit end.
TEST(DatesUnixTime, BothDirectionsOverTheUnsignedRange) {
  struct Case {
    std::uint32_t seconds;
    MsgDateTime date;
  } cases[] = {{0, D(1970, 1, 1)},
               {951782400, D(2000, 2, 29)},
               {951782400 + 3600 * 13 + 60 * 5 + 9, D(2000, 2, 29, 13, 5, 9)},
               {2147483647u, D(2038, 1, 19, 3, 14, 7)},
               {2147483648u, D(2038, 1, 19, 3, 14, 8)},
               {2214216000u, D(2040, 3, 1, 12, 0, 0)},
               {4102444800u, D(2100, 1, 1)},
               {4107542400u, D(2100, 3, 1)},  // 2100 is no leap year
               {4294967295u, D(2106, 2, 7, 6, 28, 15)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    MsgDateTime dt;
    dt.Sec100 = 42;
    UnixToDateTime(c.seconds, dt);
    EXPECT_EQ(DateTimeToUnix(c.date), c.seconds);
    ExpectSameMoment(dt, c.date);
    EXPECT_EQ(dt.Sec100, 42);
  }
}

TEST(DatesUnixTime, MomentsOutsideTheRangeClampToItsEnds) {
  struct Case {
    MsgDateTime date;
    std::uint32_t seconds;
  } cases[] = {
      {D(1969, 12, 31, 23, 59, 59), 0},
      {D(1900, 1, 1), 0},
      {D(INT32_MIN, 1, 1), 0},
      {D(2106, 2, 7, 6, 28, 16), 0xFFFFFFFFu},
      {D(2107, 1, 1), 0xFFFFFFFFu},
      {D(INT32_MAX, 12, 31, 23, 59, 59), 0xFFFFFFFFu},
      // Fields out of their range clamp into it.
      {D(2000, 0, 0), 946684800u},              // 2000-01-01
      {D(2000, 13, 32), 978220800u},            // 2000-12-31
      {D(2001, 2, 29), 983318400u},             // 2001-02-28
      {D(2000, 1, 1, 25, 61, 61), 946771199u},  // 23:59:59
      {D(2000, 1, 1, -1, -1, -1), 946684800u},
      {D(2000, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MAX), 946684800u + 30 * 86400 + 23 * 3600 + 59},
      {D(INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX), 0xFFFFFFFFu},
      {D(INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN), 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.date.Year << "-" << c.date.Month << "-" << c.date.Day << " " << c.date.Hour
                                    << ":" << c.date.Min << ":" << c.date.Sec);
    EXPECT_EQ(DateTimeToUnix(c.date), c.seconds);
  }
}

TEST(DatesPackedStamps, KnownValues) {
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

// Packed stamps hold 1980..2107; a field outside its range is clamped, and
// the stamp unpacks to the clamped moment.  A month or day of 0 (a date
// that did not say it) is held as it is.
TEST(DatesPackedStamps, FieldsClampIntoTheStampRange) {
  struct Case {
    MsgDateTime in;
    MsgDateTime packed;
  } cases[] = {{D(1980, 1, 1), D(1980, 1, 1)},
               {D(2107, 12, 31, 23, 59, 58), D(2107, 12, 31, 23, 59, 58)},
               {D(1979, 12, 31, 23, 59, 59), D(1980, 1, 1)},
               {D(2108, 1, 1), D(2107, 12, 31, 23, 59, 58)},
               {D(INT32_MIN, 0, 0), D(1980, 0, 0)},
               {D(INT32_MIN, 5, 0), D(1980, 1, 0)},
               {D(2001, 0, 4, 5, 6, 7), D(2001, 0, 4, 5, 6, 6)},
               {D(2000, 0, 0), D(2000, 0, 0)},
               {D(1999, 2, 0, 1, 2, 3), D(1999, 2, 0, 1, 2, 2)},
               {D(2000, 0, 32), D(2000, 0, 31)},
               {D(INT32_MAX, 13, 32, 25, 60, 60), D(2107, 12, 31, 23, 59, 58)},
               {D(2000, 2, 30), D(2000, 2, 29)},
               {D(1999, 6, 31), D(1999, 6, 30)},
               {D(2000, 1, 1, INT32_MIN, INT32_MIN, INT32_MIN), D(2000, 1, 1)},
               {D(2000, 1, 1, INT32_MAX, INT32_MAX, INT32_MAX), D(2000, 1, 1, 23, 59, 58)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.in.Year << "-" << c.in.Month << "-" << c.in.Day << " " << c.in.Hour << ":"
                                    << c.in.Min << ":" << c.in.Sec);
    MsgDateTime from_stamp;
    UnpackStamp(PackStamp(c.in), from_stamp);
    ExpectSameMoment(from_stamp, c.packed);
    std::uint16_t time_word = 0, date_word = 0;
    PackStampWords(c.in, time_word, date_word);
    MsgDateTime from_words;
    UnpackStampWords(time_word, date_word, from_words);
    ExpectSameMoment(from_words, c.packed);
  }
}

TEST(DatesJulianDays, GarbageFieldsClampToTheCalendarRange) {
  struct Case {
    MsgDateTime date;
    std::int32_t jd;
  } cases[] = {{D(1, 1, 1), 1721426},      {D(INT32_MIN, INT32_MIN, INT32_MIN), 1721426},
               {D(9999, 12, 31), 5373484}, {D(INT32_MAX, INT32_MAX, INT32_MAX), 5373484},
               {D(2000, 2, 31), 2451604},  {D(2000, 0, 15), 2451559}};
  for (const Case& c : cases) {
    EXPECT_EQ(DateToJulianDay(c.date), c.jd);
  }
  struct Back {
    std::int32_t jd;
    MsgDateTime date;
  } backs[] = {{INT32_MIN, D(1, 1, 1)}, {0, D(1, 1, 1)}, {INT32_MAX, D(9999, 12, 31)}};
  for (const Back& b : backs) {
    std::int32_t d, m, y;
    JulianDayToDate(b.jd, d, m, y);
    EXPECT_EQ(y, b.date.Year);
    EXPECT_EQ(m, b.date.Month);
    EXPECT_EQ(d, b.date.Day);
  }
}

TEST(DatesMonthNames, ReadAndWrite) {
  EXPECT_EQ(MonthFromName("dec"), 12);
  EXPECT_EQ(MonthFromName("Dec"), 12);
  EXPECT_EQ(MonthFromName("DEC"), 12);
  EXPECT_EQ(MonthFromName("Decem"), 0);
  EXPECT_EQ(MonthFromName(""), 0);
  EXPECT_STREQ(MonthName(1), "Jan");
  EXPECT_STREQ(MonthName(0), "???");
  EXPECT_STREQ(MonthName(13), "???");
  // Every name reads back as its own month, in any case.
  for (int m = 1; m <= 12; ++m) {
    std::string lower = MonthName(m);
    for (char& c : lower) c = LowerChar(c);
    EXPECT_EQ(MonthFromName(MonthName(m)), m);
    EXPECT_EQ(MonthFromName(lower), m);
  }
}

// The forms themselves are read through a *.MSG base (fido_msg_base_test);
// here each is cut short or runs on past the header's 19 characters.
TEST(DatesText, FormsCutShortOrRunningOn) {
  struct Case {
    const char* text;
    MsgDateTime date;
  } cases[] = {{"01 Jan 99", D(1999, 1, 1)},
               {"01 Jan 99  12", D(1999, 1, 1, 12)},
               {"01 Jan 99  12:34:56 and more text", D(1999, 1, 1, 12, 34, 56)},
               {"Tue  5 Feb 02", D(2002, 2, 5)},
               {"Tue ", D(2000, 0, 0)},
               {"Tue  5 Feb 02 01:02:03 and more", D(2002, 2, 5, 1, 2)},
               {"12-05-01", D(2001, 5, 12)},
               {"12-", D(2000, 0, 12)},
               {"1", D(2000, 0, 0)}};
  for (const Case& c : cases) {
    MsgDateTime dt = D(1, 2, 3, 4, 5, 6);
    ReadDateText(c.text, dt);
    EXPECT_EQ(dt.Year, c.date.Year) << c.text;
    EXPECT_EQ(dt.Month, c.date.Month) << c.text;
    EXPECT_EQ(dt.Day, c.date.Day) << c.text;
    EXPECT_EQ(dt.Hour, c.date.Hour) << c.text;
    EXPECT_EQ(dt.Min, c.date.Min) << c.text;
    EXPECT_EQ(dt.Sec, c.date.Sec) << c.text;
  }
}

TEST(DatesTwoDigits, AlwaysTwoDigits) {
  struct Case {
    std::int32_t value;
    const char* text;
  } cases[] = {{0, "00"},   {7, "07"},  {42, "42"},        {99, "99"},
               {126, "26"}, {-3, "00"}, {INT32_MAX, "47"}, {INT32_MIN, "00"}};
  for (const Case& c : cases) EXPECT_EQ(TwoDigits(c.value), c.text) << c.value;
}

TEST(DatesTwoDigitYears, Window) {
  struct Case {
    std::int32_t read, year;
  } from_text[] = {{0, 2000},
                   {70, 2070},
                   {71, 1971},
                   {99, 1999},
                   {100, 2000},
                   {106, 2006},
                   {999, 2899},
                   {1999, 1999},
                   {2040, 2040},
                   {-1, -1},
                   {INT32_MAX, INT32_MAX},
                   {INT32_MIN, INT32_MIN}};
  for (const Case& c : from_text) {
    EXPECT_EQ(YearFromTwoDigits(c.read), c.year) << c.read;
  }
  struct Out {
    std::int32_t year, two_digits;
  } to_text[] = {{1999, 99}, {2005, 5}, {2000, 0}, {2106, 6}, {1900, 0}, {-1, 99}, {INT32_MAX, 47}, {INT32_MIN, 52}};
  for (const Out& c : to_text) {
    EXPECT_EQ(YearToTwoDigits(c.year), c.two_digits) << c.year;
  }
}

TEST(DatesFtscText, GarbageFieldsClampToAWellFormedText) {
  EXPECT_EQ(FtscDateText(D(2040, 3, 1, 12, 0, 0)), "01 Mar 40  12:00:00");
  EXPECT_EQ(FtscDateText(D(INT32_MIN, 13, INT32_MIN, INT32_MAX, -5, 7)), "01 Dec 52  23:00:07");
  // A month or day not known stays unknown.
  EXPECT_EQ(FtscDateText(D(2001, 0, 4, 5, 6, 7)), "04 ??? 01  05:06:07");
  EXPECT_EQ(FtscDateText(D(2000, 0, 0)), "00 ??? 00  00:00:00");
  EXPECT_EQ(FtscDateText(D(2000, 7, 0, 1, 2, 3)), "00 Jul 00  01:02:03");
}

}  // namespace
}  // namespace lw
