#include "app/config/filter_expression.h"

#include <gtest/gtest.h>

#include <string>

#include "msgbase/message_base.h"

namespace lw {
namespace {

// The tree in prefix form, to compare a whole reading at once.
std::string Shape(const FilterExpression& e, int index) {
  const FilterNode& n = e.nodes[static_cast<std::size_t>(index)];
  std::string joined;
  for (int operand : n.operands) joined += " " + Shape(e, operand);
  switch (n.kind) {
    case FilterNode::Kind::kNot: return "(NOT" + joined + ")";
    case FilterNode::Kind::kAnd: return "(AND" + joined + ")";
    case FilterNode::Kind::kOr: return "(OR" + joined + ")";
    case FilterNode::Kind::kTest: break;
  }
  static const char* const kNames[] = {"TO",     "FROM", "SUBJ", "TOADDR", "FROMADDR", "TEXT",
                                       "KLUDGE", "ATTR", "TOUS", "FROMUS", "TOPOINT"};
  std::string s = kNames[static_cast<int>(n.test)];
  if (!n.pattern.empty()) s += "[" + n.pattern + "]";
  if (n.test == FilterTest::kToAddr || n.test == FilterTest::kFromAddr)
    s += "[" + FormatAddressPattern(n.address) + "]";
  if (n.test == FilterTest::kAttr) s += "[" + std::to_string(n.attribute) + "]";
  return s;
}

TEST(FilterExpression, ReadsTheGrammar) {
  struct Case {
    const char* line;
    const char* shape;
  } cases[] = {
      {"TO Sysop THEN KILL", "TO[SYSOP]"},
      {"to sysop", "TO[SYSOP]"},                                          // keywords in any case
      {"FROM a AND TO b OR SUBJ c", "(OR (AND FROM[A] TO[B]) SUBJ[C])"},  // AND binds tighter
      {"FROM a AND (TO b OR SUBJ c)", "(AND FROM[A] (OR TO[B] SUBJ[C]))"},
      {"NOT TO a AND FROM b", "(AND (NOT TO[A]) FROM[B])"},
      {"NOT (TO a AND FROM b)", "(NOT (AND TO[A] FROM[B]))"},
      {"NOT NOT TOUS", "(NOT (NOT TOUS))"},
      {"TO a OR TO b OR TO c", "(OR TO[A] TO[B] TO[C])"},
      {"FROMADDR 2:5020/* AND NOT TO Sysop", "(AND FROMADDR[2:5020/*.0] (NOT TO[SYSOP]))"},
      {"TOADDR 200/100", "TOADDR[*:200/100.0]"},
      {"SUBJ \"Re: \\\"hi\\\" \\\\ there\"", "SUBJ[RE: \"HI\" \\ THERE]"},
      {"SUBJ \"a\\b\"", "SUBJ[A\\B]"},  // a backslash before another character stays
      {"TEXT *beer* AND KLUDGE \"MSGID: 2:5020/*\"", "(AND TEXT[*BEER*] KLUDGE[MSGID: 2:5020/*])"},
      {"ATTR private OR ATTR Crash OR ATTR URQ", "(OR ATTR[1] ATTR[2] ATTR[16384])"},
      {"TOUS OR FROMUS OR TOPOINT", "(OR TOUS FROMUS TOPOINT)"},
      {"(TO a)THEN KILL", "TO[A]"},
      {"TO \"\" THEN KILL", "TO"},
      {"TO 123456789012345678901234567890123456789 THEN KILL", "TO[123456789012345678901234567890123456]"},
  };
  for (const Case& c : cases) {
    std::string line = std::string("FILTER ") + c.line;
    if (line.find("THEN") == std::string::npos) line += " THEN KILL";
    FilterRule rule;
    FilterSyntaxError error;
    ASSERT_TRUE(ReadFilterRule(line, 7, rule, error)) << c.line << ": " << error.column << " " << error.text;
    EXPECT_EQ(Shape(rule.expression, rule.expression.root), c.shape) << c.line;
  }
}

TEST(FilterExpression, ReadsTheActions) {
  FilterRule rule;
  FilterSyntaxError error;
  ASSERT_TRUE(ReadFilterRule(
      "FILTER TOUS THEN COPY /var/mail/Personal, MOVE \"My Area\", EXEC \"/usr/bin/notify -x  $HOME\", KILL, continue",
      7, rule, error))
      << error.text;
  ASSERT_EQ(rule.actions.size(), 5u);
  EXPECT_EQ(rule.actions[0].kind, FilterActionKind::kCopy);
  EXPECT_EQ(rule.actions[0].target, "/var/mail/Personal");  // the case of a path is kept
  EXPECT_EQ(rule.actions[1].kind, FilterActionKind::kMove);
  EXPECT_EQ(rule.actions[1].target, "My Area");
  EXPECT_EQ(rule.actions[2].kind, FilterActionKind::kExec);
  EXPECT_EQ(rule.actions[2].words, (std::vector<std::string>{"/usr/bin/notify", "-x", "$HOME"}));  // nothing expanded
  EXPECT_EQ(rule.actions[3].kind, FilterActionKind::kKill);
  EXPECT_EQ(rule.actions[4].kind, FilterActionKind::kContinue);
  EXPECT_TRUE(rule.continues);

  ASSERT_TRUE(ReadFilterRule("FILTER TOUS then kill", 7, rule, error));
  EXPECT_FALSE(rule.continues);
}

TEST(FilterExpression, NamesTheColumnOfEachFault) {
  struct Case {
    const char* line;
    std::size_t column;
    const char* says;
  } cases[] = {
      {"FILTER", 7, "test"},
      {"FILTER THEN KILL", 8, "test"},
      {"FILTER TO THEN KILL", 8, nullptr},  // THEN is taken as the name; the action is missing
      {"FILTER TO", 10, "value for TO"},
      {"FILTER TO a", 12, "THEN"},
      {"FILTER TO a THEN", 17, "action"},
      {"FILTER TO a THEN COPY", 22, "target for COPY"},
      {"FILTER TO a THEN MOVE \"\"", 23, "target for MOVE"},
      {"FILTER TO a THEN EXEC \"  \"", 23, "program for EXEC"},
      {"FILTER TO a THEN DELETE", 18, "action"},
      {"FILTER TO a THEN KILL COPY x", 23, "comma"},
      {"FILTER TO a THEN KILL,", 23, "action"},
      {"FILTER TO a b THEN KILL", 13, "AND, OR or THEN"},
      {"FILTER TOO a THEN KILL", 8, "test"},
      {"FILTER (TO a THEN KILL", 14, "column 8"},
      {"FILTER TO a) THEN KILL", 12, "AND, OR or THEN"},
      {"FILTER TO a AND THEN KILL", 17, "test"},
      {"FILTER SUBJ \"open THEN KILL", 13, "closing quote"},
      {"FILTER ATTR purple THEN KILL", 13, "unknown attribute"},
      {"FILTER TOADDR 2:50x0/1 THEN KILL", 15, "address pattern"},
      {"FILTER FROMADDR ( THEN KILL", 17, "value for FROMADDR"},
      {"FILTER ATTR THEN KILL", 13, "unknown attribute"},
  };
  for (const Case& c : cases) {
    FilterRule rule;
    FilterSyntaxError error;
    EXPECT_FALSE(ReadFilterRule(c.line, 6, rule, error)) << c.line;
    if (c.says == nullptr) continue;
    EXPECT_EQ(error.column, c.column) << c.line << ": " << error.text;
    EXPECT_NE(error.text.find(c.says), std::string::npos) << c.line << ": " << error.text;
  }
}

TEST(FilterExpression, BoundsTheNesting) {
  std::string deep = "FILTER ";
  for (int i = 0; i < kMaxFilterDepth; ++i) deep += "(";
  deep += "TOUS";
  for (int i = 0; i < kMaxFilterDepth; ++i) deep += ")";
  FilterRule rule;
  FilterSyntaxError error;
  EXPECT_FALSE(ReadFilterRule(deep + " THEN KILL", 7, rule, error));
  EXPECT_NE(error.text.find("nested"), std::string::npos);

  std::string nots = "FILTER ";
  for (int i = 0; i < 10000; ++i) nots += "NOT ";
  EXPECT_FALSE(ReadFilterRule(nots + "TOUS THEN KILL", 7, rule, error));
  EXPECT_NE(error.text.find("nested"), std::string::npos);

  std::string shallow = "FILTER ";
  for (int i = 0; i < kMaxFilterDepth - 1; ++i) shallow += "(";
  shallow += "TOUS";
  for (int i = 0; i < kMaxFilterDepth - 1; ++i) shallow += ")";
  EXPECT_TRUE(ReadFilterRule(shallow + " THEN KILL", 7, rule, error)) << error.text;
}

}  // namespace
}  // namespace lw
