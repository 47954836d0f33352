#include "fidoutil/pattern_containment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fidoutil/name_pattern.h"

namespace lw {
namespace {

TEST(PatternContainment, Table) {
  struct Case {
    std::vector<std::string_view> narrow;
    const char* wide;
    const char* alphabet;
    Containment expected;
  } cases[] = {
      {{"SYSOP"}, "*", "", Containment::kContained},
      {{"*"}, "SYSOP", "", Containment::kNotContained},
      {{"SYSOP"}, "SYSOP", "", Containment::kContained},
      {{"SYSOP"}, "SYSOPS", "", Containment::kNotContained},
      {{"VIAGRA SELLER"}, "VIAGRA*", "", Containment::kContained},
      {{"VIAGRA*"}, "VIAGRA SELLER", "", Containment::kNotContained},
      {{"A?C"}, "A*", "", Containment::kContained},
      {{"A*"}, "A?*", "", Containment::kNotContained},  // "A" alone
      {{"A?*"}, "A*", "", Containment::kContained},
      {{"*AB*"}, "*A*B*", "", Containment::kContained},
      {{"*A*B*"}, "*AB*", "", Containment::kNotContained},
      {{"??"}, "*?*?*", "", Containment::kContained},
      {{"?"}, "??", "", Containment::kNotContained},
      {{"*X*"}, "*Y*", "", Containment::kNotContained},
      // Both of two patterns: only their common texts need to match.
      {{"A*", "*B"}, "A*B", "", Containment::kContained},
      {{"A*", "*A"}, "A*A", "", Containment::kNotContained},  // "A" is matched by both
      {{"A*", "?"}, "A", "", Containment::kContained},
      {{"A*", "B*"}, "C", "", Containment::kContained},  // nothing matches both
      // Over digits only, as address parts are.
      {{"2*"}, "*", "0123456789", Containment::kContained},
      {{"*"}, "?*", "0123456789", Containment::kNotContained},  // the empty text
      {{"50?0"}, "5*", "0123456789", Containment::kContained},
      {{"50?0"}, "50?", "0123456789", Containment::kNotContained},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PatternsContained(c.narrow, c.wide, c.alphabet), c.expected) << c.wide;
  }
}

// The answer agrees with matching every short text over the letters that
// tell the patterns apart: a text the narrow patterns all match but the
// wide one does not exists exactly when the answer is "not contained".
TEST(PatternContainment, AgreesWithEveryShortText) {
  const std::vector<std::string> patterns = {"*", "A*", "*A", "?A*", "A?", "*AB*", "A*B", "??", "B", "*?A", "AA*"};
  std::vector<std::string> texts = {""};
  for (std::size_t n = 0, from = 0; n < 5; ++n) {
    std::size_t to = texts.size();
    for (std::size_t i = from; i < to; ++i) {
      for (char c : std::string("ABC")) texts.push_back(texts[i] + c);
    }
    from = to;
  }
  for (const std::string& narrow : patterns) {
    for (const std::string& wide : patterns) {
      bool witness = false;
      for (const std::string& t : texts) witness = witness || (PatternMatches(narrow, t) && !PatternMatches(wide, t));
      Containment expected = witness ? Containment::kNotContained : Containment::kContained;
      EXPECT_EQ(PatternsContained({narrow}, wide), expected) << narrow << " within " << wide;
    }
  }
}

TEST(PatternContainment, GivesUpBeyondItsBound) {
  EXPECT_EQ(PatternsContained({"*A*B*C*D*E*"}, "*E*D*C*B*A*", "", 3), Containment::kUnknown);
}

}  // namespace
}  // namespace lw
