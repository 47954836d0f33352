// FILTER lines among the other rule kinds: which rules match, in what
// order, and what their actions add up to for one message.
#include <gtest/gtest.h>

#include "app/rules/rules.h"
#include "fidoutil/cp866.h"
#include "msgbase/message_base.h"
#include "platform/platform.h"

namespace lw {
namespace {

FidoAddress Addr(int zone, int net, int node, int point) {
  return FidoAddress{static_cast<std::int16_t>(zone), static_cast<std::int16_t>(net), static_cast<std::int16_t>(node),
                     static_cast<std::int16_t>(point)};
}

struct Mail {
  std::string to = "Sysop";
  std::string from = "Sender";
  std::string subject = "Hello";
  FidoAddress dest = Addr(2, 5020, 1, 0);
  FidoAddress orig = Addr(2, 5020, 2, 0);
  std::uint32_t attributes = 0;
  std::string text = "\001MSGID: 2:5020/2 12345678\rhello there\rSEEN-BY: 5020/1 beer\r";
};

// The verdict in short: copies joined by "+", then "move", "kill", each
// program as "exec(words)", and "rules:N"; "-" when nothing matched,
// "not_touch" when a NOT_TOUCH name did.
std::string Summary(const RuleVerdict& v) {
  if (v.not_touch) return "not_touch";
  if (!v.found) return "-";
  std::string s;
  for (const std::string& t : v.targets) s += (s.empty() ? "" : "+") + (platform::kFoldConfigPaths ? t : UpCase866(t));
  if (v.move) s += " move";
  if (v.kill) s += " kill";
  for (const auto& words : v.programs) {
    std::string joined;
    for (const std::string& w : words) joined += (joined.empty() ? "" : " ") + w;
    s += " exec(" + joined + ")";
  }
  return s + " rules:" + std::to_string(v.rules.size());
}

RuleVerdict Judge(const std::vector<std::string>& lines, const Mail& mail) {
  MoverConfig config;
  int n = 0;
  for (const std::string& l : lines) ApplyConfigLine(config, l, ++n);
  for (const ConfigProblem& p : config.problems) {
    EXPECT_EQ(p.level, ProblemLevel::kWarning) << lines.back() << ": " << p.text;
  }
  CurrentMessage msg;
  msg.to = mail.to;
  msg.from = mail.from;
  msg.subject = mail.subject;
  msg.dest = mail.dest;
  msg.orig = mail.orig;
  LogFile log;
  return EvaluateRules(config, msg, log, MessageContent{mail.attributes, mail.text});
}

TEST(filter_rules, ActionsAndOrderAcrossKinds) {
  Mail robot;
  robot.to = "AreaFix";
  Mail spam;
  spam.from = "Viagra Seller";
  Mail beer;
  beer.text = "\001MSGID: 2:5020/2 1\rcold BEER tonight\r";
  Mail crash;
  crash.attributes = kAttrCrash | kAttrPrivate;
  Mail to_point;
  to_point.dest = Addr(2, 5020, 1, 7);
  const std::string all = "PRIORITY FILTER NOT_TOUCH TO FROM SUBJ TOADDR FROMADDR";
  struct Case {
    std::vector<std::string> lines;
    Mail mail;
    const char* verdict;
  } cases[] = {
      // Each action alone.
      {{all, "FILTER FROM \"Viagra*\" THEN KILL"}, spam, " kill rules:1"},
      {{all, "FILTER TO Sysop THEN COPY Ma"}, {}, "MA rules:1"},
      {{all, "FILTER TO Sysop THEN MOVE Ma"}, {}, "MA move rules:1"},
      {{all, "FILTER TO Sysop THEN EXEC \"notify --to sysop\""}, {}, " exec(notify --to sysop) rules:1"},
      {{all, "FILTER TO Sysop THEN COPY Ma, COPY Mb, EXEC prog"}, {}, "MA+MB exec(prog) rules:1"},
      {{all, "FILTER TO Nobody THEN KILL"}, {}, "-"},
      // Without CONTINUE the first match ends the evaluation.
      {{all, "FILTER TO * THEN COPY Ma", "FILTER TO Sysop THEN KILL"}, {}, "MA rules:1"},
      // With CONTINUE every further matching rule adds its actions, of any kind.
      {{all, "FILTER TO * THEN COPY Ma, CONTINUE", "FILTER TO Sysop THEN MOVE Mb"}, {}, "MA+MB move rules:2"},
      {{all, "FILTER TO * THEN COPY Ma, CONTINUE", "FILTER TO Nobody THEN KILL", "TO Sysop, Mt"}, {}, "MA+MT rules:2"},
      {{all, "MOVE yes", "FILTER TO * THEN COPY Ma, CONTINUE", "TO Sysop, Mt"}, {}, "MA+MT move rules:2"},
      {{all, "FILTER TO * THEN COPY Ma, CONTINUE", "TO Sysop, KILL"}, {}, "MA kill rules:2"},
      {{all, "FILTER TO * THEN COPY Ma, CONTINUE", "FILTER TO * THEN MOVE Ma, CONTINUE", "FILTER TO * THEN KILL"},
       {},
       "MA move kill rules:3"},
      // A chain that runs out of rules keeps what it gathered.
      {{all, "FILTER TO * THEN COPY Ma, CONTINUE"}, {}, "MA rules:1"},
      // NOT_TOUCH ends a chain without undoing it, and protects before it.
      {{all, "FILTER TO * THEN COPY Ma, CONTINUE", "NOT_TOUCH Sysop", "TO Sysop, Mt"}, {}, "MA rules:1"},
      {{"PRIORITY NOT_TOUCH FILTER", "NOT_TOUCH Sysop", "FILTER TO * THEN COPY Ma"}, {}, "not_touch"},
      // FILTER takes its place in PRIORITY like any kind.
      {{"PRIORITY TO FILTER", "FILTER TO * THEN KILL", "TO Sysop, Mt"}, {}, "MT rules:1"},
      {{"PRIORITY TO", "FILTER TO * THEN KILL"}, {}, "-"},
      // Tests that read more than the header.
      {{all, "FILTER TEXT *beer* THEN KILL"}, beer, " kill rules:1"},
      {{all, "FILTER TEXT *beer* THEN KILL"}, {}, "-"},  // only a SEEN-BY line has it
      {{all, "FILTER KLUDGE \"MSGID: 2:5020/*\" THEN COPY Mk"}, {}, "MK rules:1"},
      {{all, "FILTER ATTR crash AND ATTR private THEN COPY Mc"}, crash, "MC rules:1"},
      {{all, "FILTER ATTR crash THEN COPY Mc"}, {}, "-"},
      {{all, "ADDRESS 2:5020/1", "FILTER TOUS THEN COPY Mu"}, {}, "MU rules:1"},
      {{all, "ADDRESS 2:5020/9", "ADDRESS 2:5020/1", "FILTER TOUS THEN COPY Mu"}, {}, "MU rules:1"},
      {{all, "FILTER TOUS THEN COPY Mu"}, {}, "-"},  // no ADDRESS line: nothing is ours
      {{all, "ADDRESS 2:5020/1", "FILTER TOPOINT THEN COPY Mp"}, to_point, "MP rules:1"},
      {{all, "ADDRESS 2:5020/2 2:5020/1", "FILTER FROMUS AND TOUS THEN COPY Mu"}, {}, "MU rules:1"},
      {{all, "FILTER FROMADDR 2:5020/2 AND NOT TO Sysop THEN KILL"}, {}, "-"},
      {{all, "FILTER FROMADDR 5020/2 AND NOT TO Bob THEN KILL"}, {}, " kill rules:1"},
      {{all, "FILTER TO AreaFix OR TO *bot THEN MOVE Mr"}, robot, "MR move rules:1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Summary(Judge(c.lines, c.mail)), c.verdict) << c.lines.back();
  }
}

TEST(filter_rules, LogNamesEachMatchingRuleInOrder) {
  MoverConfig config;
  for (const char* l : {"PRIORITY FILTER TO", "FILTER TO * AND NOT FROM \"Bad Guy\" THEN COPY Ma, CONTINUE",
                        "FILTER SUBJ nothing THEN KILL", "TO Sysop, Mt"}) {
    ApplyConfigLine(config, l);
  }
  CurrentMessage msg;
  msg.to = "Sysop";
  LogFile log;
  const RuleVerdict v = EvaluateRules(config, msg, log);
  EXPECT_EQ(v.rules, (std::vector<std::string>{"Found mail by filter `TO * AND NOT FROM \"Bad Guy\"`",
                                               "Found mail to `SYSOP`"}));
}

}  // namespace
}  // namespace lw
