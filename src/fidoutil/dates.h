// Dates and times in the shapes of the three message-base formats.
#pragma once

#include <cstdint>
#include <string_view>

#include <string>

namespace lw {

struct MsgDateTime {
  std::int32_t Hour = 0, Min = 0, Sec = 0, Sec100 = 0;
  std::int32_t Day = 0, Month = 0, Year = 0;
};

void GetNow(MsgDateTime& dt);

// 32-bit stamp: date in the low word, time in the high word.
std::uint32_t PackStamp(const MsgDateTime& dt);
void UnpackStamp(std::uint32_t stamp, MsgDateTime& dt);  // Sec100 kept

// Two 16-bit words, the time word first, the date word second.
void PackStampWords(const MsgDateTime& dt, std::uint16_t& time_word, std::uint16_t& date_word);
void UnpackStampWords(std::uint16_t time_word, std::uint16_t date_word, MsgDateTime& dt);

std::int32_t DateToJulianDay(MsgDateTime dt);
void JulianDayToDate(std::int32_t jd, std::int32_t& day, std::int32_t& month, std::int32_t& year);

// Seconds since 1970-01-01 00:00:00, no time zone applied.
void UnixToDateTime(std::int32_t seconds, MsgDateTime& dt);  // Sec100 kept
std::int32_t DateTimeToUnix(const MsgDateTime& dt);

int MonthFromName(std::string_view name);  // 1..12, or 0
const char* MonthName(int month);           // "Jan".."Dec", "???" otherwise
std::int32_t YearToTwoDigits(std::int32_t year);
// "DD Mon YY  HH:MM:SS": each number in two digits (a single digit gets a
// leading "0", a longer one keeps its first two characters).
std::string FtscDateText(const MsgDateTime& dt);
std::int32_t YearFromTwoDigits(std::int32_t year);

}  // namespace lw
