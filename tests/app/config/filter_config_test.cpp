// The FILTER, ADDRESS and EXECTIMEOUT lines as the configuration reads them.
#include <gtest/gtest.h>

#include "app/config/config.h"
#include "platform/platform.h"

namespace lw {
namespace {

TEST(FilterConfig, ProblemsNameLineAndColumn) {
  struct Case {
    std::string line;
    const char* problem;  // the start of the one problem; "" for none
    int column;
  } cases[] = {
      {"FILTER TO Sysop THEN COPY Mcopies", "", 0},
      {"filter to sysop then kill ; a comment", "", 0},
      {"FILTER TO Sysop THEN", "FILTER: an action (COPY, MOVE, KILL, EXEC, CONTINUE) expected", 21},
      {"FILTER TO Sysop COPY Ma", "FILTER: AND, OR or THEN expected, found COPY", 17},
      {"FILTER (TO Sysop THEN KILL", "FILTER: a closing parenthesis for the one at column 8", 18},
      {"FILTER ATTR urgent THEN KILL", "FILTER: an unknown attribute: urgent", 13},
      {"FILTER TOADDR 2:50x0/1 THEN KILL", "FILTER: an address pattern that cannot be read", 15},
      {"FILTER\tTO \"Sysop THEN KILL", "FILTER: a quoted string without its closing quote", 11},
      // A comment ends the line even inside quotes, as on every line.
      {"FILTER TEXT \"a;b\" THEN KILL", "FILTER: a quoted string without its closing quote", 13},
      // A build that folds configured paths shows the target folded.
      {"FILTER TO Sysop THEN COPY Xnowhere",
       platform::kFoldConfigPaths ? "target `XNOWHERE` is not a format letter" : "target `Xnowhere` is not a format letter",
       0},
      {"ADDRESS 2:5020/1 2:5020/1.5", "", 0},
      {"ADDRESS 2:5020/1 5020/x", "ADDRESS `5020/X` is not a full address", 0},
      {"ADDRESS 5020/1", "ADDRESS `5020/1` is not a full address", 0},
      {"EXECTIMEOUT 5", "", 0},
      {"EXECTIMEOUT 0", "EXECTIMEOUT `0` is less than one second; 60 is taken", 0},
      {"EXECTIMEOUT soon", "EXECTIMEOUT `soon` is not a number", 0},
  };
  for (const Case& c : cases) {
    MoverConfig config;
    ApplyConfigLine(config, c.line, 1);
    if (std::string(c.problem).empty()) {
      EXPECT_TRUE(config.problems.empty()) << c.line << ": " << config.problems[0].text;
      continue;
    }
    ASSERT_EQ(config.problems.size(), 1u) << c.line;
    EXPECT_EQ(config.problems[0].text.rfind(c.problem, 0), 0u) << c.line << ": " << config.problems[0].text;
    EXPECT_EQ(config.problems[0].column, c.column) << c.line;
    EXPECT_EQ(config.problems[0].level, ProblemLevel::kError) << c.line;
  }
}

TEST(FilterConfig, ValuesAsRead) {
  MoverConfig config;
  EXPECT_EQ(config.exec_timeout, 60);
  for (const char* l : {"ADDRESS 2:5020/1 2:5020/1.5", "ADDRESS 1:1/1", "EXECTIMEOUT 7", "EXECTIMEOUT 9",
                        "FILTER TO Sysop THEN MOVE Mmail/Personal, EXEC \"/usr/bin/Notify Me\"",
                        "FILTER TEXT *beer* THEN KILL", "PRIORITY FILTER TO"}) {
    ApplyConfigLine(config, l);
  }
  ASSERT_EQ(config.our_addresses.size(), 3u);
  EXPECT_EQ(config.our_addresses[1], (FidoAddress{2, 5020, 1, 5}));
  EXPECT_EQ(config.our_addresses[2], (FidoAddress{1, 1, 1, 0}));
  EXPECT_EQ(config.exec_timeout, 9);
  ASSERT_EQ(config.filter_rules.count(), 2);
  const FilterRule& first = *config.filter_rules.items[0];
  EXPECT_EQ(first.text, "TO Sysop");
  // The target keeps its case where the platform keeps path case; the program always does.
  EXPECT_EQ(first.actions[0].target, platform::kFoldConfigPaths ? "MMAIL/PERSONAL" : "Mmail/Personal");
  EXPECT_EQ(first.actions[1].words, (std::vector<std::string>{"/usr/bin/Notify", "Me"}));
  EXPECT_TRUE(config.filters_read_text);
  EXPECT_EQ(config.Priority[0], "FILTER");
}

TEST(FilterConfig, AThousandFiltersThenTheLineIsRefused) {
  MoverConfig config;
  for (int i = 0; i < kMaxFilterRules; ++i) {
    ApplyConfigLine(config, "FILTER TO Sysop" + std::to_string(i) + " THEN KILL", i + 1);
  }
  EXPECT_TRUE(config.problems.empty());
  ApplyConfigLine(config, "FILTER TO Late THEN KILL", kMaxFilterRules + 1);
  EXPECT_EQ(config.filter_rules.count(), kMaxFilterRules);
  ASSERT_EQ(config.problems.size(), 1u);
  EXPECT_EQ(config.problems[0].text, "more than 1000 FILTER lines; the line is not read");
}

}  // namespace
}  // namespace lw
