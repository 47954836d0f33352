// Every date conversion, fed with fuzzed fields, seconds, stamps and a
// *.MSG date text.  Input: seven 32-bit fields (year, month, day, hour,
// minute, second, hundredths), 32-bit seconds, a 32-bit packed stamp, all
// little-endian, then the date text; what is missing counts as zero.
#include <cstdint>
#include <string>

#include "fidoutil/dates.h"
#include "fuzz_support.h"

namespace {

using namespace lw;

std::uint32_t Word(const std::uint8_t* data, std::size_t size, std::size_t at) {
  std::uint32_t w = 0;
  for (std::size_t i = 0; i < 4 && at + i < size; ++i) w |= static_cast<std::uint32_t>(data[at + i]) << (8 * i);
  return w;
}

void CheckFields(const MsgDateTime& dt) {
  std::uint32_t seconds = DateTimeToUnix(dt);
  MsgDateTime back;
  UnixToDateTime(seconds, back);
  if (DateTimeToUnix(back) != seconds) fuzz::Fail("seconds changed on their way through a date");

  std::uint32_t stamp = PackStamp(dt);
  MsgDateTime unpacked;
  UnpackStamp(stamp, unpacked);
  if (PackStamp(unpacked) != stamp) fuzz::Fail("a packed stamp changed when packed again");
  std::uint16_t time_word = 0, date_word = 0;
  PackStampWords(dt, time_word, date_word);
  if ((std::uint32_t{time_word} << 16 | date_word) != stamp) fuzz::Fail("stamp words differ from the stamp");

  std::int32_t jd = DateToJulianDay(dt);
  MsgDateTime from_jd;
  JulianDayToDate(jd, from_jd.Day, from_jd.Month, from_jd.Year);
  if (DateToJulianDay(from_jd) != jd) fuzz::Fail("a Julian day changed on its way through a date");

  if (std::string text = FtscDateText(dt); text.size() != 19) fuzz::Fail("a date text of the wrong shape");
  std::int32_t two = YearToTwoDigits(dt.Year);
  if (two < 0 || two > 99) fuzz::Fail("a two-digit year outside 0..99");
  YearFromTwoDigits(dt.Year);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MsgDateTime dt;
  std::int32_t* fields[] = {&dt.Year, &dt.Month, &dt.Day, &dt.Hour, &dt.Min, &dt.Sec, &dt.Sec100};
  for (std::size_t i = 0; i < 7; ++i) *fields[i] = static_cast<std::int32_t>(Word(data, size, 4 * i));
  CheckFields(dt);

  MsgDateTime from_seconds;
  std::uint32_t seconds = Word(data, size, 28);
  UnixToDateTime(seconds, from_seconds);
  if (DateTimeToUnix(from_seconds) != seconds) fuzz::Fail("seconds did not survive a round trip");

  MsgDateTime from_stamp, from_words;
  std::uint32_t stamp = Word(data, size, 32);
  UnpackStamp(stamp, from_stamp);
  UnpackStampWords(static_cast<std::uint16_t>(stamp >> 16), static_cast<std::uint16_t>(stamp), from_words);
  CheckFields(from_stamp);
  JulianDayToDate(static_cast<std::int32_t>(stamp), dt.Day, dt.Month, dt.Year);

  if (size > 36) {
    MsgDateTime from_text;
    std::string_view text(reinterpret_cast<const char*>(data + 36), size - 36);
    ReadDateText(text, from_text);
    CheckFields(from_text);
    MonthFromName(text.substr(0, 3));
  }
  return 0;
}
