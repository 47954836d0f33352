// Dates and times in the shapes of the three message-base formats.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "fidoutil/date_time.h"

namespace lw {

// The current local time, Sec100 included, from the platform's clock.
void GetNow(MsgDateTime& dt);

// Every conversion below is defined for any value of every field: a field
// outside its range (month 1..12, day 1..length of its month, hour 0..23,
// minute and second 0..59) is clamped to the nearest value in it before the
// conversion; a year before the range the target can hold gives the first
// moment of that range, a year after it the last.  A month or day of 0 (a
// date text that did not say it) stays 0 in the packed stamps and the date
// text, which hold it; only the calendar conversions (Julian day, Unix
// seconds) take it as 1.  Sec100 is never read.

// Packed DOS stamp: date in the low word, time in the high word; years
// 1980..2107, seconds in steps of two (an odd second is rounded down).
std::uint32_t PackStamp(const MsgDateTime& dt);
void UnpackStamp(std::uint32_t stamp, MsgDateTime& dt);  // Sec100 kept

// The same stamp as two 16-bit words, the time word first, the date word
// second.
void PackStampWords(const MsgDateTime& dt, std::uint16_t& time_word, std::uint16_t& date_word);
void UnpackStampWords(std::uint16_t time_word, std::uint16_t date_word, MsgDateTime& dt);

// Julian day number of a Gregorian date; years are clamped to 1..9999, so
// the result lies in 1721426 (0001-01-01) .. 5373484 (9999-12-31).  The
// time fields are not read.
std::int32_t DateToJulianDay(MsgDateTime dt);
// The date of a Julian day number, clamped to 1721426..5373484.
void JulianDayToDate(std::int32_t jd, std::int32_t& day, std::int32_t& month, std::int32_t& year);

// Unsigned 32-bit seconds since 1970-01-01 00:00:00, no time zone applied,
// as JAM stores them: 0 .. 0xFFFFFFFF is 1970-01-01 00:00:00 ..
// 2106-02-07 06:28:15.
void UnixToDateTime(std::uint32_t seconds, MsgDateTime& dt);  // Sec100 kept
// A moment before 1970 gives 0, one after 2106-02-07 06:28:15 gives
// 0xFFFFFFFF.
std::uint32_t DateTimeToUnix(const MsgDateTime& dt);

// The month of a three-letter English name in any case ("jan", "JAN"):
// 1..12, or 0 for anything else.
int MonthFromName(std::string_view name);
// "Jan".."Dec" for 1..12, "???" for any other number.
const char* MonthName(int month);
// `v` as two decimal digits: its last two, "00" for a negative `v`.
std::string TwoDigits(std::int32_t v);
// The year within its century, 0..99 (negative years counted backwards
// from year 0, so -1 gives 99).
std::int32_t YearToTwoDigits(std::int32_t year);
// "DD Mon YY  HH:MM:SS", each number in two digits; the fields are clamped
// as above (the year is taken as it is), so the text always has this shape.
std::string FtscDateText(const MsgDateTime& dt);
// The full year of a year read from a date text: 0..70 are 2000..2070,
// 71..999 count from 1900 (writers that wrote "100" for 2000 included); a
// year of four or more digits, or a negative one, is returned as it is.
std::int32_t YearFromTwoDigits(std::int32_t year);
// The date and time of a *.MSG header's date text, in the forms writers
// use: "01 Jan 99  12:34:56" (one blank before the time accepted too),
// "Tue  5 Feb 02 01:02" and "12-05-01 10:20:30".  Text of any length and
// content is read; a field the text does not hold, or any text of another
// form, gives 0 (the year then reads as 2000, by YearFromTwoDigits).
void ReadDateText(std::string_view text, MsgDateTime& dt);

}  // namespace lw
