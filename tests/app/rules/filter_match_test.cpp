#include "app/rules/filter_match.h"

#include <gtest/gtest.h>

#include <string>

#include "msgbase/message_base.h"

namespace lw {
namespace {

FidoAddress Addr(int zone, int net, int node, int point) {
  return FidoAddress{static_cast<std::int16_t>(zone), static_cast<std::int16_t>(net), static_cast<std::int16_t>(node),
                     static_cast<std::int16_t>(point)};
}

bool Matches(const std::string& expression, const FilterFacts& facts) {
  FilterRule rule;
  FilterSyntaxError error;
  EXPECT_TRUE(ReadFilterRule("FILTER " + expression + " THEN KILL", 7, rule, error))
      << expression << ": " << error.text;
  FilterMessage message(facts);
  return FilterMatches(rule.expression, message);
}

TEST(FilterMatch, EachTestAndEachJoin) {
  const std::vector<FidoAddress> ours = {Addr(2, 5020, 1, 0), Addr(2, 5020, 9, 3)};
  FilterFacts facts;
  facts.to = "SYSOP";
  facts.from = "VIAGRA SELLER";
  facts.subject = "RE: \x8F\x90\x88\x82\x85\x92";  // folded CP866 "привет"
  facts.dest = Addr(2, 5020, 1, 0);
  facts.orig = Addr(2, 200, 27, 4);
  facts.attributes = kAttrPrivate | kAttrKillSent;
  facts.text =
      "\x01MSGID: 2:200/27.4 1234abcd\r\x01REPLY: 2:5020/1 99\rHi there,\r\ncold Beer tonight?\r"
      "SEEN-BY: 5020/1 tonight\r\x01PATH: 200/27\r";
  facts.our_addresses = &ours;
  struct Case {
    const char* expression;
    bool match;
  } cases[] = {
      {"TO Sysop", true},
      {"TO sys*", true},
      {"TO Sysop2", false},
      {"FROM \"Viagra*\"", true},
      {"SUBJ \"re: \xAF\xE0\xA8\xA2\xA5\xE2\"", true},  // CP866 lower case folds
      {"SUBJ Re:*", true},
      {"TOADDR 2:5020/1", true},
      {"TOADDR 5020/1", true},
      {"TOADDR 2:5020/1.*", true},
      {"FROMADDR 2:200/2*.*", true},
      {"FROMADDR 2:200/2*", false},  // a pattern without a point is point 0
      {"FROMADDR 2:2?0/27.4", true},
      {"TEXT *beer*", true},
      {"TEXT \"hi there,\"", true},
      {"TEXT *tonight*", true},  // the body line, not the SEEN-BY one
      {"TEXT SEEN-BY*", false},  // SEEN-BY lines are not text
      {"TEXT *MSGID*", false},   // nor are kludges
      {"TEXT \"\"", false},      // no empty body line
      {"KLUDGE \"MSGID: 2:200/*\"", true},
      {"KLUDGE \"REPLY: *\"", true},
      {"KLUDGE \"PATH: 200/27\"", true},
      {"KLUDGE \"SEEN-BY*\"", false},
      {"KLUDGE \"*beer*\"", false},
      {"ATTR private", true},
      {"ATTR killsent", true},
      {"ATTR crash", false},
      {"TOUS", true},
      {"FROMUS", false},
      {"TOPOINT", false},
      {"FROM Viagra* AND NOT TO Sysop", false},
      {"FROM Viagra* AND NOT TO Bob", true},
      {"TO Bob OR FROM Bob OR ATTR private", true},
      {"TO Bob OR FROM Bob AND ATTR private", false},
      {"(TO Bob OR TO Sysop) AND TEXT *beer*", true},
      {"NOT (TO Bob OR TO Sysop)", false},
  };
  for (const Case& c : cases) EXPECT_EQ(Matches(c.expression, facts), c.match) << c.expression;
}

TEST(FilterMatch, OurAddressesAndTheirPoints) {
  const std::vector<FidoAddress> ours = {Addr(2, 5020, 1, 0), Addr(1, 100, 2, 0)};
  struct Case {
    FidoAddress dest;
    FidoAddress orig;
    bool to_us;
    bool from_us;
    bool to_point;
  } cases[] = {
      {Addr(2, 5020, 1, 0), Addr(2, 5020, 1, 0), true, true, false},
      {Addr(2, 5020, 1, 5), Addr(1, 100, 2, 0), false, true, true},
      {Addr(1, 100, 2, 1), Addr(1, 100, 2, 1), false, false, true},
      {Addr(2, 5020, 2, 5), Addr(3, 5020, 1, 0), false, false, false},
  };
  for (const Case& c : cases) {
    FilterFacts facts;
    facts.dest = c.dest;
    facts.orig = c.orig;
    facts.our_addresses = &ours;
    EXPECT_EQ(Matches("TOUS", facts), c.to_us) << FormatAddress4D(c.dest);
    EXPECT_EQ(Matches("FROMUS", facts), c.from_us) << FormatAddress4D(c.orig);
    EXPECT_EQ(Matches("TOPOINT", facts), c.to_point) << FormatAddress4D(c.dest);
  }
  FilterFacts none;  // no ADDRESS line: nothing is ours
  EXPECT_FALSE(Matches("TOUS OR FROMUS OR TOPOINT", none));
}

TEST(FilterMatch, LineEndsOfEveryKind) {
  using namespace std::string_literals;
  struct Case {
    std::string text;
    bool beer;
  } cases[] = {
      {"one\rbeer"s, true},
      {"one\r\nbeer\r\n"s, true},
      {"one\0beer"s, true},
      {"one\nbeer"s, false},  // a LF alone ends no line
      {""s, false},
      {"\x01"
       "beer\rSEEN-BY: beer\r"s,
       false},
  };
  for (const Case& c : cases) {
    FilterFacts facts;
    facts.text = c.text;
    EXPECT_EQ(Matches("TEXT beer", facts), c.beer) << c.text;
  }
}

}  // namespace
}  // namespace lw
