// Reading rule lines: patterns, masks, target lists, and the lines that
// are skipped as problems.
#include "app/config/rule_line.h"

#include <gtest/gtest.h>

#include "app/config/config_check.h"
#include "fidoutil/cp866.h"
#include "platform/platform.h"

namespace lw {
namespace {

std::string Stored(const std::string& written) { return platform::kFoldConfigPaths ? UpCase866(written) : written; }

// The problems the rule reader recorded for `line`, leaving out those the
// line checker finds first (it reports what a person may have meant).
std::vector<ConfigProblem> ReaderProblems(const MoverConfig& config, std::string_view line, int line_number) {
  std::vector<ConfigProblem> checked;
  CheckConfigLine(line, line_number, checked);
  return std::vector<ConfigProblem>(config.problems.begin() + static_cast<std::ptrdiff_t>(checked.size()),
                                    config.problems.end());
}

std::vector<std::string> StoredAll(std::initializer_list<const char*> written) {
  std::vector<std::string> r;
  for (const char* w : written) r.push_back(Stored(w));
  return r;
}

TEST(RuleLine, TargetLists) {
  struct Case {
    const char* line;
    std::vector<std::string> targets;
  } cases[] = {
      {"TO Sysop, Sbases/sysop, Jbases/archive", StoredAll({"Sbases/sysop", "Jbases/archive"})},
      {"TO Sysop,Ma ,  Mb,Mc  ; comment, Md", StoredAll({"Ma", "Mb", "Mc"})},
      {"TO Sysop, Kill", StoredAll({"Kill"})},
      {"TO Sysop,", StoredAll({""})},  // as always: one empty target, which cannot be opened
      {"TO Sysop", StoredAll({""})},
      // The name is read after leading commas (LEAD); the targets follow the first comma.
      {"FROM ,Lead,Sdest,more", StoredAll({"Lead", "Sdest", "more"})},
      // One copy per base, whatever the spelling; a Squish base is another base.
      {"TO Sysop, Mnet, M./net, *net, Snet, MNET/, Fx/../net, s./NET", StoredAll({"Mnet", "Snet"})},
  };
  for (const Case& c : cases) {
    MoverConfig config;
    ApplyConfigLine(config, c.line, 1);
    const RuleList<NameRule>& list = config.ToRules.count() ? config.ToRules : config.FromRules;
    ASSERT_EQ(list.count(), 1) << c.line;
    EXPECT_EQ(list.items[0]->targets, c.targets) << c.line;
    EXPECT_TRUE(ReaderProblems(config, c.line, 1).empty()) << c.line;
  }
}

TEST(RuleLine, UnusableRulesAreSkippedAndRecordedWithTheirLine) {
  struct Case {
    const char* line;
    const char* named;  // what the problem text must quote
  } cases[] = {
      {"TO Sysop, Ma, KILL", "KILL"},
      {"FROM Boss, kill, Ma", "kill"},
      {"TOADDR 2:5020/*, Ma, Kill", "Kill"},
      {"TO Sysop, Ma, , Mb", "Ma, , Mb"},
      {"TO Sysop, Ma,", "Ma,"},
      {"TOADDR 2:50*/1, Ma", "2:50*/1"},
      {"FROMADDR 5020/*, Ma", "5020/*"},
      {"TOADDR 2:5020/1*, Ma", "2:5020/1*"},
      {"FROMADDR *, Ma", "*"},
      {"TOADDR 2:5020/*.*.*, Ma", "2:5020/*.*.*"},
  };
  for (const Case& c : cases) {
    MoverConfig config;
    ApplyConfigLine(config, c.line, 17);
    EXPECT_EQ(
        config.ToRules.count() + config.FromRules.count() + config.ToAddrRules.count() + config.FromAddrRules.count(),
        0)
        << c.line;
    const std::vector<ConfigProblem> problems = ReaderProblems(config, c.line, 17);
    ASSERT_EQ(problems.size(), 1u) << c.line;
    EXPECT_EQ(problems[0].line_number, 17);
    EXPECT_NE(UpCase866(problems[0].text).find(UpCase866(c.named)), std::string::npos) << problems[0].text;
  }
}

TEST(RuleLine, AddressMasksAndPlainAddresses) {
  struct Case {
    const char* line;
    const char* parts;  // the numeric parts, zone:net/node.point
    AddressWildcards any;
  } cases[] = {
      {"TOADDR 2:5020/*, Ma", "2:5020/0.0", {false, false, true, false}},
      {"TOADDR 2:5020/*.*, Ma", "2:5020/0.0", {false, false, true, true}},
      {"TOADDR *:*/*.*, Ma", "0:0/0.0", {true, true, true, true}},
      {"TOADDR 2:5020/100.*@fidonet, Ma", "2:5020/100.0", {false, false, false, true}},
      // Plain addresses read as always, short forms and unreadable text included.
      {"TOADDR 2:5020/1.3, Ma", "2:5020/1.3", {}},
      {"TOADDR 5020/1, Ma", "0:5020/1.0", {}},
      {"TOADDR junk, Ma", "0:0/0.0", {}},
  };
  for (const Case& c : cases) {
    MoverConfig config;
    ApplyConfigLine(config, c.line, 1);
    ASSERT_EQ(config.ToAddrRules.count(), 1) << c.line;
    const AddressRule& rule = *config.ToAddrRules.items[0];
    EXPECT_EQ(FormatAddress4D(rule.address), c.parts) << c.line;
    EXPECT_EQ(rule.any.zone, c.any.zone) << c.line;
    EXPECT_EQ(rule.any.net, c.any.net) << c.line;
    EXPECT_EQ(rule.any.node, c.any.node) << c.line;
    EXPECT_EQ(rule.any.point, c.any.point) << c.line;
    EXPECT_EQ(rule.targets, StoredAll({"Ma"}));
    EXPECT_TRUE(ReaderProblems(config, c.line, 1).empty()) << c.line;
  }
}

TEST(RuleLine, PatternsFoldedAndCut) {
  MoverConfig config;
  const std::string long_subject(80, 'x');
  const std::vector<std::string> lines = {"TO *robot, Ma",
                                          "from J?hn \xa0*, Mb",
                                          "SUBJ Re: Areafix*, Mc",
                                          "subj " + long_subject + ", Md",
                                          "TO abcdefghijklmnopqrstuvwxyz0123456789?*, Me",
                                          "NOT_TOUCH *bot"};
  for (const std::string& line : lines) {
    ApplyConfigLine(config, line, 1);
  }
  ASSERT_EQ(config.ToRules.count(), 2);
  EXPECT_EQ(config.ToRules.items[0]->name, "*ROBOT");
  EXPECT_EQ(config.ToRules.items[1]->name, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
  EXPECT_EQ(config.FromRules.items[0]->name, "J?HN \x80*");
  ASSERT_EQ(config.SubjRules.count(), 2);
  EXPECT_EQ(config.SubjRules.items[0]->name, "RE: AREAFIX*");
  EXPECT_EQ(config.SubjRules.items[0]->targets, StoredAll({"Mc"}));
  EXPECT_EQ(config.SubjRules.items[1]->name, std::string(72, 'X'));
  EXPECT_EQ(*config.NotTouchNames.items[0], "*BOT");
}

TEST(RuleLine, SubjectRulesShareTheListLimit) {
  MoverConfig config;
  for (int i = 0; i < kMaxListEntries; ++i) EXPECT_TRUE(ApplyConfigLine(config, "SUBJ x*, Ma", i + 1));
  EXPECT_FALSE(ApplyConfigLine(config, "SUBJ y*, Ma", 101));
  EXPECT_EQ(config.SubjRules.count(), kMaxListEntries);
}

}  // namespace
}  // namespace lw
