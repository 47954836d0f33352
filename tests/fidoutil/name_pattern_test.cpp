#include "fidoutil/name_pattern.h"

#include <gtest/gtest.h>

#include <string>

namespace lw {
namespace {

TEST(NamePattern, MatchTable) {
  struct Case {
    const char* pattern;
    const char* text;
    bool match;
  } cases[] = {
      {"SYSOP", "SYSOP", true},
      {"SYSOP", "SYSOPX", false},
      {"SYSOP", "SYSO", false},
      {"", "", true},
      {"", "A", false},
      {"*", "", true},
      {"*", "ANYTHING AT ALL", true},
      {"*ROBOT", "AREAFIX ROBOT", true},
      {"*ROBOT", "ROBOT", true},
      {"*ROBOT", "ROBOTS", false},
      {"RE: AREAFIX*", "RE: AREAFIX", true},
      {"RE: AREAFIX*", "RE: AREAFIX REPORT", true},
      {"RE: AREAFIX*", "RE: AREAFI", false},
      {"J?HN", "JOHN", true},
      {"J?HN", "JHN", false},
      {"J?HN", "JOOHN", false},
      {"?", "", false},
      {"*A*B*C", "XAYBZC", true},
      {"*A*B*C", "XAYBZCD", false},
      {"*AB", "AAB", true},  // the star's run must be widened past a false start
      {"*ABA", "ABABA", true},
      {"A*A", "A", false},  // one character cannot serve both ends
      {"**A**", "BAB", true},
      {"*?", "", false},
      {"*?", "X", true},
      {"\x80*", "\x80\x8B\x85", true},  // CP866 letters are bytes like any other
      {"\x8A?\x91", "\x8A\x8B\x91", true},
      {"\x8A?\x91", "\x8A\x91", false},
      {"A*", "*", false},
      {"*", "*", true},
      {"?", "*", true},
      {"WHO?", "WHO?", true},  // a name written with ? still matches itself
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PatternMatches(c.pattern, c.text), c.match) << "'" << c.pattern << "' vs '" << c.text << "'";
  }
}

// Stars that would make a backtracking matcher take exponential time.
TEST(NamePattern, ManyStarsAgainstALongMiss) {
  std::string pattern;
  for (int i = 0; i < 36; ++i) pattern += "*A";
  pattern += "B";
  std::string text(5000, 'A');
  EXPECT_FALSE(PatternMatches(pattern, text));
  EXPECT_TRUE(PatternMatches(pattern, text + "B"));
}

}  // namespace
}  // namespace lw
