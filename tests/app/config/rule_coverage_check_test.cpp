// The warning about a rule that can never fire, over every rule kind.
#include "app/config/rule_coverage_check.h"

#include <gtest/gtest.h>

namespace lw {
namespace {

// The never-fire warnings of a configuration, each as "LINE<-EARLIER".
std::vector<std::string> NeverFires(const std::vector<std::string>& lines) {
  MoverConfig config;
  int n = 0;
  for (const std::string& l : lines) ApplyConfigLine(config, l, ++n);
  std::vector<ConfigProblem> problems;
  CheckUnreachableRules(config, problems);
  std::vector<std::string> found;
  for (const ConfigProblem& p : problems) {
    EXPECT_EQ(p.level, ProblemLevel::kWarning);
    const std::string marker = "the rule on line ";
    const std::size_t at = p.text.find(marker);
    EXPECT_NE(at, std::string::npos) << p.text;
    if (at == std::string::npos) continue;
    const std::size_t from = at + marker.size();
    found.push_back(std::to_string(p.line_number) + "<-" + p.text.substr(from, p.text.find(',', from) - from));
  }
  return found;
}

TEST(RuleCoverageCheck, WarnsWhereAnEarlierRuleCatchesAll) {
  using V = std::vector<std::string>;
  const std::string all = "PRIORITY NOT_TOUCH TO FROM SUBJ TOADDR FROMADDR FILTER";
  struct Case {
    std::vector<std::string> lines;
    V warnings;
  } cases[] = {
      {{all, "TO *, Ma", "TO Sysop, Mb"}, {"3<-2"}},
      {{all, "TO Sysop, Mb", "TO *, Ma"}, {}},
      {{all, "TO Sys*, Ma", "TO Bob, Mb"}, {}},
      {{all, "FROMADDR 2:*/*.*, Ma", "FROMADDR 2:5020/1, Mb"}, {"3<-2"}},
      {{all, "FROMADDR 2:*/*, Ma", "FROMADDR 2:5020/1.1, Mb"}, {}},  // a node mask leaves points out
      {{all, "TOADDR 2:5020/*, Ma", "FILTER TOADDR 2:5020/1?? AND TO Bob THEN KILL"}, {"3<-2"}},
      {{all, "FILTER FROM \"Viagra*\" THEN KILL", "FILTER FROM \"Viagra Seller\" AND SUBJ \"*\" THEN COPY Sx"},
       {"3<-2"}},
      {{all, "FILTER FROM \"Viagra*\" THEN KILL, CONTINUE", "FILTER FROM \"Viagra Seller\" THEN COPY Sx"}, {}},
      {{all, "FILTER TO * THEN KILL", "FILTER TO Sysop AND TEXT *beer* THEN COPY Mb"}, {"3<-2"}},
      {{all, "FILTER TO * OR FROM * THEN KILL", "FILTER TO Sysop OR FROM Bob THEN COPY Mb"}, {"3<-2"}},
      // Tests the analysis does not know narrow the earlier rule: nothing is said.
      {{all, "FILTER TO * AND ATTR crash THEN KILL", "TO Sysop, Mb"}, {}},
      {{all, "FILTER TEXT *beer* THEN KILL", "FILTER TEXT *beer* THEN COPY Mb"}, {}},
      {{all, "FILTER NOT TO Bob THEN KILL", "TO Sysop, Mb"}, {}},
      // Across kinds, in PRIORITY order.
      {{"PRIORITY FILTER TO", "TO Sysop, Mb", "FILTER TO * THEN KILL"}, {"2<-3"}},
      {{"PRIORITY TO FILTER", "TO Sysop, Mb", "FILTER TO * THEN KILL"}, {}},
      {{all, "NOT_TOUCH Nobody", "TO Nobody, Mb"}, {"3<-2"}},
      {{all, "SUBJ *, Ma", "FILTER SUBJ Hello AND TO Bob THEN KILL"}, {"3<-2"}},
      // Only the kinds PRIORITY names are tried.
      {{"PRIORITY FROM", "TO *, Ma", "TO Sysop, Mb"}, {}},
      // A plain zone-0 address ends its list's search: what follows is never tried.
      {{all, "TOADDR 5020/1, Ma", "TOADDR 2:*/*, Mb", "TOADDR 2:5020/1, Mc"}, {}},
      // The first earlier rule that covers is named, once.
      {{all, "TO *, Ma", "TO Sys*, Mb", "TO Sysop, Mc"}, {"3<-2", "4<-2"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NeverFires(c.lines), c.warnings) << c.lines[1] << " / " << c.lines[2];
  }
}

}  // namespace
}  // namespace lw
