// Colour choice and character-set conversion, on every platform.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace lw::platform {
namespace {

TEST(ColorWanted, Table) {
  const std::string empty, one = "1", dumb = "dumb", xterm = "xterm";
  struct Case {
    bool terminal;
    const std::string* no_color;
    const std::string* term;
    bool wanted;
  } cases[] = {
      {true, nullptr, nullptr, true},  {true, nullptr, &xterm, true}, {false, nullptr, &xterm, false},
      {true, &one, &xterm, false},     {true, &empty, &xterm, true},  {true, nullptr, &dumb, false},
      {false, &empty, nullptr, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ColorWanted(c.terminal, c.no_color, c.term), c.wanted)
        << c.terminal << " " << (c.no_color ? *c.no_color : "-") << " " << (c.term ? *c.term : "-");
  }
}

TEST(ConvertText, Cp866AndUtf8BothWays) {
  Platform& os = NativePlatform();
  std::string out;
  ASSERT_TRUE(os.ConvertText("\x88\xa2\xa0\xad \x91\xa8\xe1\xae\xaf", "CP866", "UTF-8", &out));
  EXPECT_EQ(out, "Иван Сисоп");
  ASSERT_TRUE(os.ConvertText("Иван Сисоп", "UTF-8", "CP866", &out));
  EXPECT_EQ(out, "\x88\xa2\xa0\xad \x91\xa8\xe1\xae\xaf");
  ASSERT_TRUE(os.ConvertText("", "UTF-8", "CP866", &out));
  EXPECT_EQ(out, "");
  EXPECT_FALSE(os.ConvertText("\xe2\x82\xac", "UTF-8", "CP866", &out));  // no euro sign in CP866
  EXPECT_FALSE(os.ConvertText("abc", "NO-SUCH-SET", "UTF-8", &out));
}

}  // namespace
}  // namespace lw::platform
