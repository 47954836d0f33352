// Judging a message: the first rule in PRIORITY order that matches decides,
// and the log names the pattern or mask that matched.
#include "app/rules/rules.h"

#include <gtest/gtest.h>

#include "fidoutil/cp866.h"
#include "platform/platform.h"
#include "test_util.h"

namespace lw {
namespace {

std::string Stored(const std::string& written) { return platform::kFoldConfigPaths ? UpCase866(written) : written; }

FidoAddress Addr(int zone, int net, int node, int point) {
  return FidoAddress{static_cast<std::int16_t>(zone), static_cast<std::int16_t>(net), static_cast<std::int16_t>(node),
                     static_cast<std::int16_t>(point)};
}

CurrentMessage Msg(const std::string& to, const std::string& from = "Sender", const std::string& subject = "Hi",
                   FidoAddress dest = Addr(2, 5020, 1, 0), FidoAddress orig = Addr(2, 5020, 2, 0)) {
  CurrentMessage m;
  m.to = to;
  m.from = from;
  m.subject = subject;
  m.dest = dest;
  m.orig = orig;
  return m;
}

class Rules : public ::testing::Test {
 protected:
  // Judges `msg` under the configuration `lines`; the found-mail line is
  // kept in found_line_ (without its mark, stamp and tag).
  RuleVerdict Judge(std::initializer_list<std::string> lines, const CurrentMessage& msg) {
    MoverConfig config;
    int n = 0;
    for (const std::string& l : lines) ApplyConfigLine(config, l, ++n);
    // A name longer than the part compared is only a warning.
    for (const ConfigProblem& p : config.problems) EXPECT_EQ(p.level, ProblemLevel::kWarning) << p.text;
    std::string log_name = dir_ / ("log" + std::to_string(++runs_));
    RuleVerdict v;
    {
      LogFile log;
      EXPECT_TRUE(log.Open(log_name).ok());
      v = EvaluateRules(config, msg, log);
    }
    std::string text = test::ReadFile(log_name);
    std::size_t tag = text.rfind("LW 1.07 ");
    found_line_ = tag == std::string::npos ? "" : text.substr(tag + 8, text.find('\r', tag) - tag - 8);
    return v;
  }
  // The target the verdict copies to ("-" when nothing matched).
  static std::string Where(const RuleVerdict& v) {
    if (!v.found) return "-";
    std::string r;
    for (const std::string& t : v.targets) r += (r.empty() ? "" : "+") + t;
    return r;
  }

  test::TempDir dir_;
  int runs_ = 0;
  std::string found_line_;
};

TEST_F(Rules, PatternsMasksAndSubjects) {
  const std::string many = "PRIORITY TO FROM SUBJ TOADDR FROMADDR";
  struct Case {
    std::string rule;
    CurrentMessage msg;
    const char* where;
    const char* logged;
  } cases[] = {
      {"TO *robot, Ma", Msg("AreaFix Robot"), "Ma", "Found mail to `*ROBOT`"},
      {"TO *robot, Ma", Msg("Robots"), "-", ""},
      {"TO Sysop, Ma", Msg("sysop"), "Ma", "Found mail to `SYSOP`"},
      {"TO \xa0\xab*, Ma", Msg("\x80\xab\xa5\xaa\xe1"), "Ma", "Found mail to `\x80\x8b*`"},  // CP866 folded
      // The 36th character: names are cut there, so `?` there matches a longer name.
      {"TO abcdefghijklmnopqrstuvwxyz012345678?, Ma", Msg("abcdefghijklmnopqrstuvwxyz0123456789xyz"), "Ma",
       "Found mail to `ABCDEFGHIJKLMNOPQRSTUVWXYZ012345678?`"},
      {"TO abcdefghijklmnopqrstuvwxyz0123456789?, Ma", Msg("abcdefghijklmnopqrstuvwxyz0123456789"), "Ma",
       "Found mail to `ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789`"},
      {"TO abcdefghijklmnopqrstuvwxyz01234567?, Ma", Msg("abcdefghijklmnopqrstuvwxyz0123456789"), "-", ""},
      {"FROM J?hn*, Ma", Msg("x", "John Doe"), "Ma", "Found mail from `J?HN*`"},
      {"SUBJ Re: Areafix*, Ma", Msg("x", "y", "RE: AREAFIX reply"), "Ma", "Found mail with subject `RE: AREAFIX*`"},
      {"SUBJ Re: Areafix*, Ma", Msg("x", "y", "Re: Area"), "-", ""},
      {"SUBJ *, Ma", Msg("x", "y", ""), "Ma", "Found mail with subject `*`"},  // an empty subject
      {"SUBJ ?*, Ma", Msg("x", "y", ""), "-", ""},
      {"SUBJ " + std::string(71, 'x') + "?, Ma", Msg("x", "y", std::string(80, 'x')), "Ma", nullptr},
      {"TOADDR 2:5020/*, Ma", Msg("x", "y", "s", Addr(2, 5020, 77, 0)), "Ma", "Found mail to address `2:5020/*`"},
      {"TOADDR 2:5020/*, Ma", Msg("x", "y", "s", Addr(2, 5020, 77, 1)), "-", ""},  // a node mask, a point
      {"TOADDR 2:5020/77.*, Ma", Msg("x", "y", "s", Addr(2, 5020, 77, 1)), "Ma", "Found mail to address `2:5020/77.*`"},
      {"FROMADDR 2:*/*.*, Ma", Msg("x", "y", "s", Addr(1, 1, 1, 0), Addr(2, 9, 9, 9)), "Ma",
       "Found mail from address `2:*/*.*`"},
      {"FROMADDR 2:*/*.*, Ma", Msg("x", "y", "s", Addr(2, 9, 9, 9), Addr(1, 9, 9, 9)), "-", ""},
      {"TOADDR 2:5020/1, Ma", Msg("x"), "Ma", "Found mail to address `2:5020/1`"},
      {"TO Sysop, Ma, Mb,Mc", Msg("Sysop"), "Ma+Mb+Mc", "Found mail to `SYSOP`"},
  };
  for (const Case& c : cases) {
    RuleVerdict v = Judge({many, c.rule}, c.msg);
    const std::string where = c.where;
    EXPECT_EQ(Where(v), where == "-" ? where : Stored(where)) << c.rule;
    if (c.logged != nullptr) {
      EXPECT_EQ(found_line_, c.logged) << c.rule;
    }
    EXPECT_FALSE(v.kill);
  }
}

TEST_F(Rules, FirstKindInPriorityOrderThenFirstRuleInFileOrder) {
  CurrentMessage m = Msg("Sysop", "Boss", "Re: Areafix", Addr(2, 5020, 1, 0), Addr(2, 5020, 2, 0));
  const std::initializer_list<std::string> rules = {"TO Sys*, Mto1",         "TO Sysop, Mto2",
                                                    "FROM B*, Mfrom",        "SUBJ re:*, Msubj",
                                                    "TOADDR 2:*/*, Mtoaddr", "FROMADDR *:*/*.*, Mfromaddr"};
  struct Case {
    const char* priority;
    const char* where;
  } cases[] = {{"PRIORITY TO FROM SUBJ TOADDR FROMADDR", "Mto1"},
               {"PRIORITY SUBJ TO FROM TOADDR FROMADDR", "Msubj"},
               {"PRIORITY FROMADDR SUBJ", "Mfromaddr"},
               {"PRIORITY TOADDR", "Mtoaddr"},
               {"PRIORITY NOT_TOUCH SUBJ", "Msubj"},
               {"PRIORITY FROM", "Mfrom"}};
  for (const Case& c : cases) {
    std::vector<std::string> lines(rules);
    lines.push_back(c.priority);
    MoverConfig config;
    for (const std::string& l : lines) ApplyConfigLine(config, l);
    LogFile log;
    RuleVerdict v = EvaluateRules(config, m, log);
    ASSERT_TRUE(v.found) << c.priority;
    EXPECT_EQ(v.targets, std::vector<std::string>{Stored(c.where)}) << c.priority;
  }
}

TEST_F(Rules, PriorityTakesEveryKindTheSixthIncluded) {
  RuleVerdict v = Judge({"PRIORITY NOT_TOUCH FROM SUBJ TO TOADDR FROMADDR", "FROMADDR 2:5020/2, Mlast"}, Msg("x"));
  EXPECT_EQ(Where(v), Stored("Mlast"));
  EXPECT_EQ(found_line_, "Found mail from address `2:5020/2`");
}

TEST_F(Rules, NotTouchPatternsProtectFromLaterKinds) {
  struct Case {
    const char* not_touch;
    const char* to;
    bool protected_;
  } cases[] = {{"NOT_TOUCH *bot", "AreaBot", true},
               {"NOT_TOUCH *bot", "Bots", false},
               {"NOT_TOUCH S?sop", "sysop", true},
               {"NOT_TOUCH Sysop", "Sysop", true},
               {"NOT_TOUCH \xa0*", "\x80x", true}};
  for (const Case& c : cases) {
    RuleVerdict v = Judge({"PRIORITY NOT_TOUCH TO", c.not_touch, "TO *, Ma"}, Msg(c.to));
    EXPECT_EQ(v.not_touch, c.protected_) << c.not_touch << " / " << c.to;
    EXPECT_EQ(v.found, !c.protected_) << c.not_touch << " / " << c.to;
  }
}

TEST_F(Rules, OnlyAPlainZoneZeroAddressEndsTheAddressList) {
  CurrentMessage m = Msg("x", "y", "s", Addr(2, 5020, 1, 0));
  struct Case {
    const char* first;
    const char* where;
  } cases[] = {{"TOADDR 5020/1, Mzero", "-"},  // zone 0 as always: the search ends
               {"TOADDR junk, Mzero", "-"},
               {"TOADDR *:1/*, Mnone", "Mlate"},   // zone * is no zone-0 rule
               {"TOADDR 2:50*/1, Mbad", "Mlate"},  // an unreadable mask is skipped, nothing more
               {"TOADDR 0:*/*.*, Mzeromask", "Mlate"}};
  for (const Case& c : cases) {
    MoverConfig config;
    for (const char* l : {"PRIORITY TOADDR", c.first, "TOADDR 2:5020/1, Mlate"}) ApplyConfigLine(config, l);
    LogFile log;
    RuleVerdict v = EvaluateRules(config, m, log);
    EXPECT_EQ(Where(v), std::string(c.where) == "-" ? "-" : Stored(c.where)) << c.first;
  }
}

TEST_F(Rules, KillAloneKills) {
  RuleVerdict v = Judge({"PRIORITY SUBJ", "SUBJ *spam*, kill"}, Msg("x", "y", "Buy SPAM now"));
  EXPECT_TRUE(v.found);
  EXPECT_TRUE(v.kill);
  EXPECT_EQ(found_line_, "Found mail with subject `*SPAM*`");
}

}  // namespace
}  // namespace lw
