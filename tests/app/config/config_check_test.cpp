#include "app/config/config_check.h"

#include <gtest/gtest.h>

#include "app/config/config.h"

namespace lw {
namespace {

// The first problem recorded for `line` read as line `number`, "" for none.
std::string ProblemOf(const std::string& line, int number = 2) {
  std::vector<ConfigProblem> problems;
  CheckConfigLine(line, number, problems);
  if (problems.empty()) return "";
  EXPECT_EQ(problems[0].line_number, number);
  return problems[0].text;
}

TEST(ConfigCheck, SoundLinesHaveNoProblem) {
  for (const char* line :
       {"", "   ", "; comment", "  ; indented comment", "LOG /var/log/lw.log ; trailing comment", "netmail *net",
        "MOVE no", "Move Yes", "USERNUMBER 12", "PRIORITY NOT_TOUCH TO FROM TOADDR FROMADDR", "TO Sysop, KILL",
        "FROM a b c, S/x/y", "TOADDR 2:5020/1.5, J/x", "FROMADDR 2:5020/100, */x", "NOT_TOUCH Nobody",
        "TO Sysop, Ma,Fb", "LOGCHARSET utf-8", "LOGDETAIL yes", "DON'T_TOUCH_LOCAL_AND_UNSENT_MAIL YES"}) {
    EXPECT_EQ(ProblemOf(line), "") << line;
  }
}

TEST(ConfigCheck, EachKindOfProblem) {
  struct Case {
    const char* line;
    const char* starts;
  };
  const Case cases[] = {
      {"PRIORTY FROM", "unknown key `PRIORTY`"},
      {" LOG x", "line begins with blanks"},
      {"\tLOG x", "line begins with blanks"},
      {"LOG", "LOG without a value"},
      {"MOVE   ", "MOVE without a value"},
      {"FROM Viagra Seller KILL", "the rule on line 2 has no target: a message it matches ends the run"},
      {"FROMADDR 2:5020/1 KILL", "the rule on line 2 has no target"},
      {"TO Ivan Sysop ; , Msysop", "the rule on line 2 has no target"},
      {"FROMADDR 1:12x/5, KILL", "address `1:12x/5` cannot be read"},
      {"TOADDR 0:1/2, KILL", "address `0:1/2` cannot be read"},
      {"TO Sysop, ", "the rule on line 2 has no target"},
      {"TO Sysop, Ma, ", "target `` is neither KILL"},
      {"TO Sysop, Q/x", "target `Q/x` is neither KILL"},
      {"TO Sysop, S", "target `S` is neither KILL"},
      {"MOVE on", "MOVE `on` is not YES"},
      {"USELASTREAD y", "USELASTREAD `y` is not YES"},
      {"USERNUMBER -1", "USERNUMBER `-1` is not a number"},
      {"USERNUMBER 99999999999", "USERNUMBER `99999999999` is not a number"},
      {"NOT_TOUCH Abcdefghij Abcdefghij Abcdefghij Abcdefghij",
       "NOT_TOUCH `Abcdefghij Abcdefghij Abcdefghij Abcdefghij` is longer than 36 characters: only its first 36"},
      {"PRIORITY TO FORM", "PRIORITY word `FORM` is not a rule kind"},
      {"LOGCHARSET CP866", "LOGCHARSET `CP866` is not UTF-8"},
      {"NETMAIL \"*net\"", "value `\"*net\"` is in quotes"},
      {"NETMAIL nm", "NETMAIL `nm` is not a format letter (*, M, F, S, J) and a path"},
      {"NETMAIL Xnm", "NETMAIL `Xnm` is not a format letter"},
      {"PRIORITY TO FROM SUBJ TOADDR FROMADDR NOT_TOUCH FILTER TO", "PRIORITY takes 7 words; `TO` is not read"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProblemOf(c.line).rfind(c.starts, 0), 0u) << c.line << " -> " << ProblemOf(c.line);
  }
}

TEST(ConfigCheck, LengthOfANameIsCountedAsItIsCompared) {
  const std::string cyrillic_36 = [] {
    std::string s;
    for (int i = 0; i < 36; ++i) s += "\xd0\x98";  // two bytes in UTF-8, one in CP866
    return s;
  }();
  EXPECT_EQ(ProblemOf("TO " + cyrillic_36 + ", KILL"), "");
  EXPECT_NE(ProblemOf("TO " + cyrillic_36 + "x, KILL").find("is longer than 36 characters"), std::string::npos);
  EXPECT_EQ(ProblemOf("SUBJ " + std::string(72, 's') + ", KILL"), "");
  EXPECT_NE(ProblemOf("SUBJ " + std::string(73, 's') + ", KILL").find("is longer than 72 characters"),
            std::string::npos);
}

TEST(ConfigCheck, ByteOrderMarkCountsOnTheFirstLineOnly) {
  EXPECT_EQ(ProblemOf("\xEF\xBB\xBFLOG x", 1).rfind("the file begins with a byte-order mark", 0), 0u);
  EXPECT_EQ(ProblemOf("\xEF\xBB\xBFLOG x", 2).rfind("unknown key", 0), 0u);
}

TEST(ConfigCheck, ApplyRecordsProblemsWithLineNumbersAndReadsAsBefore) {
  MoverConfig config;
  ApplyConfigLine(config, "MOVE on", 3);
  ApplyConfigLine(config, "  LOG x.log", 4);
  EXPECT_FALSE(config.MoveMode);
  EXPECT_EQ(config.LogFileName, "");
  ASSERT_EQ(config.problems.size(), 2u);
  EXPECT_EQ(config.problems[0].line_number, 3);
  EXPECT_EQ(config.problems[1].line_number, 4);
}

TEST(ConfigCheck, Utf8RuleNameIsComparedInCp866) {
  MoverConfig config;
  // "Иван Сисоп" in UTF-8; the target keeps its bytes.
  ApplyConfigLine(config, "TO \xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd \xd0\xa1\xd0\xb8\xd1\x81\xd0\xbe\xd0\xbf, S/\xd0\x98",
                  1);
  ApplyConfigLine(config, "NOT_TOUCH \xd0\xb8\xd0\xb2\xd0\xb0\xd0\xbd", 2);
  ApplyConfigLine(config, "FROM \x88\xa2\xa0\xad, KILL", 3);  // CP866 already
  ASSERT_EQ(config.ToRules.count(), 1);
  EXPECT_EQ(config.ToRules.items[0]->name, "\x88\x82\x80\x8d \x91\x88\x91\x8e\x8f");
  EXPECT_EQ(config.ToRules.items[0]->target, "S/\xd0\x98");
  EXPECT_EQ(*config.NotTouchNames.items[0], "\x88\x82\x80\x8d");
  EXPECT_EQ(config.FromRules.items[0]->name, "\x88\x82\x80\x8d");
  EXPECT_TRUE(config.problems.empty());
  ApplyConfigLine(config, "TO \xe2\x82\xac uro, KILL", 4);  // the euro sign has no place in CP866
  ASSERT_EQ(config.problems.size(), 1u);
  EXPECT_EQ(config.problems[0].line_number, 4);
}

}  // namespace
}  // namespace lw
