#include "app/message/text_charset.h"

#include <gtest/gtest.h>

#include "platform/platform_wrapper.h"

namespace lw {
namespace {

TEST(TextCharset, Utf8WithNonAscii) {
  struct Case {
    const char* text;
    bool utf8;
  } cases[] = {
      {"Sysop", false},             // ASCII is no reason to convert
      {"\xd0\x98\xd0\xb2", true},   // Cyrillic
      {"\xe2\x82\xac", true},       // three bytes
      {"\xf0\x9f\x98\x80", true},   // four bytes
      {"\x88\xa2\xa0\xad", false},  // CP866 "Иван"
      {"\xd0", false},              // cut short
      {"\xc0\x80", false},          // overlong
      {"\xe2\x82", false},          // cut short
      {"\xd0\x98\xff", false},      // a byte no sequence has
  };
  for (const Case& c : cases) EXPECT_EQ(IsUtf8WithNonAscii(c.text), c.utf8) << c.text;
}

TEST(TextCharset, CharsetOfChrsKludge) {
  struct Case {
    const char* line;
    const char* charset;
  } cases[] = {
      {"", "CP866"},
      {"\001CHRS: CP866 2", "CP866"},
      {"CHRS: UTF-8 4", "UTF-8"},
      {"CHRS: koi8-r 2", "KOI8-R"},
      {"CHRS: LATIN-1 2", "ISO-8859-1"},
      {"CHRS: IBMPC 2", "CP866"},
      {"CHRS: CP1251 2", "CP1251"},
      {"CHRS: CPX 2", "CP866"},
      {"CHRS: MARTIAN 2", "CP866"},
      {"CHRS: MAC 2", "MACINTOSH"},
#ifndef _WIN32
      {"CHRS: ISO-8859-2 3", "ISO-8859-2"},  // any set iconv knows
#endif
      {"CHRS: cp437 2", "CP437"},
  };
  for (const Case& c : cases) EXPECT_EQ(CharsetOfChrs(c.line), c.charset) << c.line;
}

TEST(TextCharset, DecodeToCp866) {
  const std::string ivan_cp866 = "\x88\xa2\xa0\xad";
  struct Case {
    const char* text;
    const char* charset;
    std::string cp866;
  } cases[] = {
      {"\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd", "UTF-8", ivan_cp866},
      {"\xe9\xd7\xc1\xce", "KOI8-R", ivan_cp866},
      {"\xc8\xe2\xe0\xed", "CP1251", ivan_cp866},
      {"\x88\xa2\xa0\xad", "CP866", ivan_cp866},
      {"Sysop", "UTF-8", "Sysop"},
      {"\xd0\x98\xd0\xb2\xd0\xb0\xd0", "UTF-8", "\x88\xa2\xa0"},  // cut inside its last letter
      {"Sysop \xe2\x84\x96"
       "1",
       "UTF-8",
       "Sysop \xfc"
       "1"},                                      // the numero sign
      {"\xe2\x82\xac", "UTF-8", "\xe2\x82\xac"},  // no euro sign in CP866: bytes
      {"\xd0\x98\xff", "UTF-8", "\xd0\x98\xff"},  // no UTF-8: bytes
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeToCp866(c.text, c.charset), c.cp866) << c.text << " " << c.charset;
}

// A terminal whose character set a test chooses.
class Terminal : public platform::PlatformWrapper {
 public:
  explicit Terminal(std::string charset) : PlatformWrapper(platform::NativePlatform()), charset_(charset) {}
  std::string TerminalCharset() override { return charset_; }

 private:
  std::string charset_;
};

TEST(TextCharset, ForTerminal) {
  const std::string ivan_cp866 = "\x88\xa2\xa0\xad";
  {
    Terminal utf8("UTF-8");
    platform::ScopedPlatform guard(&utf8);
    EXPECT_EQ(ForTerminal(ivan_cp866, "CP866"), "Иван");
    EXPECT_EQ(ForTerminal("Иван", "UTF-8"), "Иван");
    EXPECT_EQ(ForTerminal("\xe2\x82\xac", "UTF-8"), "\xe2\x82\xac");
  }
  {
    Terminal unknown("");
    platform::ScopedPlatform guard(&unknown);
    EXPECT_EQ(ForTerminal(ivan_cp866, "CP866"), ivan_cp866);
  }
  {
    Terminal latin("ISO-8859-1");
    platform::ScopedPlatform guard(&latin);
    EXPECT_EQ(ForTerminal("A" + ivan_cp866, "CP866"), "A????");
  }
}

}  // namespace
}  // namespace lw
