// Configuration lines the reader skips or may misread: a warning with
// file:line on standard error on every run (the run still reads the file as
// it always has), an error under --check.
#include "e2e/e2e_fixture.h"

namespace lw::test {
namespace {

class CliConfig : public E2E {
 protected:
  void SetUp() override {
    if (TestingWin32Build()) GTEST_SKIP() << "standard error is checked on Linux";
    MakeDirs(P("net"));
  }
};

TEST_F(CliConfig, EveryProblemIsAWarningOnARunAndAnErrorUnderCheck) {
  struct Case {
    std::string line;  // written as line 2, after "NETMAIL *net"
    const char* reason;
  };
  const Case cases[] = {
      {"PRIORTY FROM", "unknown key `PRIORTY`"},
      {"  LOG lw.log", "line begins with blanks"},
      {"\tMOVE yes", "line begins with blanks"},
      {"FROM Viagra Seller KILL", "the rule on line 2 has no target: a message it matches ends the run"},
      {"TOADDR 2:5020/1 Sbase", "the rule on line 2 has no target: a message it matches ends the run"},
      {"FROMADDR 1:12x/5, KILL", "address `1:12x/5` cannot be read"},
      {"TOADDR Sysop, KILL", "address `Sysop` cannot be read"},
      {"MOVE on", "MOVE `on` is not YES"},
      {"USELASTREAD true", "USELASTREAD `true` is not YES"},
      {"LOGDETAIL 1", "LOGDETAIL `1` is not YES"},
      {"LOG \"lw.log\"", "value `\"lw.log\"` is in quotes; the quotes are kept"},
      {"TO Sysop, Xbases/sysop", "target `Xbases/sysop` is neither KILL nor a format letter"},
      {"TO Sysop, bases/sysop", "target `bases/sysop`"},
      {"PRIORITY TO FRON", "PRIORITY word `FRON` is not a rule kind"},
      {"USERNUMBER 12a", "USERNUMBER `12a` is not a number"},
      {"LOGCHARSET KOI8-R", "LOGCHARSET `KOI8-R` is not UTF-8"},
      {"MOVE", "MOVE without a value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const bool priority = c.line.starts_with("PRIORITY");
    Config({"NETMAIL *net", c.line, priority ? "" : "PRIORITY NOT_TOUCH TO FROM SUBJ TOADDR FROMADDR"});
    RunResult run = Run();
    EXPECT_EQ(run.exit_code, 0) << run.out;
    EXPECT_EQ(run.err.rfind("larkway: lw.cfg:2: warning: " + std::string(c.reason), 0), 0u) << run.err;
    RunResult check = RunLarkway({"--check", "lw.cfg"}, dir_.path());
    EXPECT_EQ(check.exit_code, 1);
    EXPECT_EQ(check.err.rfind("larkway: lw.cfg:2: error: " + std::string(c.reason), 0), 0u) << check.err;
    EXPECT_EQ(check.out, "lw.cfg: 1 problem(s) found\n");
  }
}

// A message from Spammer (2:5020/2) to Ivan Sysop (2:5020/1), subject Hello.
MsgFile SpamToSysop() {
  MsgFile m;
  m.from = "Spammer";
  m.to = "Ivan Sysop";
  m.subject = "Hello";
  m.text = "\001INTL 2:5020/1 2:5020/2\r\001MSGID: 2:5020/2 00000001\rhello\r";
  return m;
}

// For every configuration problem the reader knows, a dry run and a real
// run warn about it or fail on it, and --check reports it as an error with
// its line: a clean --check means the run does what the file says.
TEST_F(CliConfig, CheckReportsEveryProblemTheRunHits) {
  const std::string long_target = "*" + std::string(300, 'a');
  struct Case {
    std::vector<std::string> lines;  // after line 1, "NETMAIL *net" (unless a line replaces it)
    int line;                        // the line the problem is reported on
    std::string reason;
    std::string level = "error";  // a warning leaves --check's exit code 0
  };
  const std::string kinds = "PRIORITY NOT_TOUCH TO FROM SUBJ TOADDR FROMADDR";
  std::vector<std::string> hundred_and_one = {kinds};
  for (int i = 0; i <= 100; ++i) hundred_and_one.push_back("NOT_TOUCH Nobody " + std::to_string(i));
  const Case cases[] = {
      {{"PRIORITY FROM", "NOT_TOUCH Ivan Sysop", "TO Ivan Sysop, KILL"},
       3,
       "NOT_TOUCH rules are never tried: PRIORITY does not name NOT_TOUCH"},
      {{"PRIORITY FROM", "TO Ivan Sysop, KILL"}, 3, "TO rules are never tried: PRIORITY does not name TO"},
      {{"SUBJ Hello, KILL"}, 2, "SUBJ rules are never tried: there is no PRIORITY line"},
      {{"PRIORITY TO FROM SUBJ TOADDR FROMADDR NOT_TOUCH FILTER SUBJ"},
       2,
       "PRIORITY takes 7 words; `SUBJ` is not read"},
      {{kinds, "TO Ivan Sysop"}, 3, "the rule on line 3 has no target: a message it matches ends the run"},
      {{kinds, "TO Ivan Sysop ; , KILL"}, 3, "the rule on line 3 has no target: a message it matches ends the run"},
      {{kinds, "TO Ivan Sysop,"}, 3, "the rule on line 3 has no target: a message it matches ends the run"},
      {{kinds, "TOADDR 2:5020/1 Mnode"}, 3, "the rule on line 3 has no target"},
      {{"NETMAIL net"}, 1, "NETMAIL `net` is not a format letter (*, M, F, S, J) and a path"},
      {{"NETMAIL Xnet"}, 1, "NETMAIL `Xnet` is not a format letter"},
      {{kinds, "TO Ivan Sysop, " + long_target}, 3, "line is longer than 255 characters and is cut there"},
      {{kinds, "MOVE no", "TO Ivan Sysop, Mok ; " + long_target, "MOVE yes"},
       5,
       "MOVE is set again (first on line 3)",
       "warning"},
      {{kinds, "TO Ivan Sysop, Xbases"}, 3, "target `Xbases` is neither KILL nor a format letter"},
      {{kinds, "FROMADDR 5020/2, KILL"}, 3, "address `5020/2` cannot be read"},
      {{kinds, "MOVE on"}, 3, "MOVE `on` is not YES"},
      {{kinds, "USELASTREAD yes", "USERNUMBER 4294967297"}, 4, "USERNUMBER `4294967297` is not a number"},
      {{kinds, "TO Ivan Sysop of the Station Next to the Lake*, KILL"},
       3,
       "TO `Ivan Sysop of the Station Next to",
       "warning"},
      {{"PRIORTY TO"}, 2, "unknown key `PRIORTY`"},
      {{kinds, "  LOG lw.log"}, 3, "line begins with blanks"},
      {{kinds, "LOG"}, 3, "LOG without a value"},
      {{kinds, "LOG \"lw.log\""}, 3, "value `\"lw.log\"` is in quotes"},
      {{kinds, "LOGCHARSET KOI8-R"}, 3, "LOGCHARSET `KOI8-R` is not UTF-8"},
      {{kinds, "USERNUMBER 12a"}, 3, "USERNUMBER `12a` is not a number"},
      {{"PRIORITY TO FRON", "TO Ivan Sysop, KILL"}, 2, "PRIORITY word `FRON` is not a rule kind"},
      {{kinds, "TO Ivan Sysop, Ma, KILL"}, 3, "KILL cannot be combined with a copy target"},
      {{kinds, "TO Ivan Sysop, Ma, , Mb"}, 3, "an empty target among several"},
      {{kinds, "TOADDR 2:50*/1, KILL"}, 3, "an address mask that cannot be read"},
      {{kinds, "TO \xe2\x82\xac uro, KILL"}, 3, "name `\xe2\x82\xac uro` has characters CP866 lacks"},
      {{"\xEF\xBB\xBFLOG lw.log", "NETMAIL *net"}, 1, "the file begins with a byte-order mark"},
      {{kinds, "TO Ivan Sysop, Mdup, M./dup"}, 3, "target `M./dup` is the base `Mdup` names already", "warning"},
      {hundred_and_one, 103, "more than 100 entries of one key"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.back().substr(0, 60));
    StartOver();
    MakeDirs(P("net"));
    PutMsg("net", 1, SpamToSysop());
    std::vector<std::string> lines = {"NETMAIL *net"};
    if (c.lines[0].starts_with("NETMAIL") || c.lines[0].starts_with("\xEF")) lines.clear();
    lines.insert(lines.end(), c.lines.begin(), c.lines.end());
    Config(lines);
    const std::string at = "lw.cfg:" + std::to_string(c.line) + ": ";
    RunResult dry = RunLarkway({"--dry-run", "lw.cfg"}, dir_.path());
    EXPECT_NE(dry.err.find(at + "warning: " + c.reason), std::string::npos) << dry.err;
    RunResult check = RunLarkway({"--check", "lw.cfg"}, dir_.path());
    EXPECT_NE(check.err.find("larkway: " + at + c.level + ": " + c.reason), std::string::npos) << check.err;
    EXPECT_EQ(check.exit_code, c.level == "error" ? 1 : 0);
    RunResult run = Run();
    // Whatever the run stumbles on, --check has said so.
    const bool run_hit_a_problem = run.exit_code != 0 || dry.exit_code != 0 || !run.err.empty();
    EXPECT_TRUE(run_hit_a_problem);
    if (run_hit_a_problem) {
      EXPECT_NE(check.err.find("larkway: " + at), std::string::npos) << run.err;
    }
  }
}

TEST_F(CliConfig, SixthPriorityKindFiresAndCheckIsClean) {
  PutMsg("net", 1, SpamToSysop());
  Config({"NETMAIL *net", "MOVE yes", "PRIORITY NOT_TOUCH FROM SUBJ TO TOADDR FROMADDR", "FROMADDR 2:5020/2, *spam"});
  RunResult check = RunLarkway({"--check", "lw.cfg"}, dir_.path());
  EXPECT_EQ(check.exit_code, 0) << check.err;
  RunResult run = Run();
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(Msgs("net").size(), 0u);
  EXPECT_EQ(Msgs("spam").size(), 1u);
}

// A base named twice in one rule, or in two spellings by two rules, gets
// one copy of each message; --check warns of the repeated target and
// still passes.
TEST_F(CliConfig, OneBaseUnderSeveralSpellingsGetsOneCopy) {
  PutMsg("net", 1, SpamToSysop());
  MsgFile other = SpamToSysop();
  other.to = "Boss";
  PutMsg("net", 2, other);
  Config({"NETMAIL *net", "MOVE yes", "PRIORITY TO", "TO Ivan Sysop, *dup, M./dup, *DUP/", "TO Boss, Mx/../dup"});
  RunResult check = RunLarkway({"--check", "lw.cfg"}, dir_.path());
  EXPECT_EQ(check.exit_code, 0);
  EXPECT_NE(check.err.find("lw.cfg:4: warning: target `M./dup` is the base `*dup` names already"), std::string::npos)
      << check.err;
  EXPECT_EQ(check.out, "lw.cfg: 2 warning(s) found\n");
  RunResult run = Run();
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_EQ(Msgs("net").size(), 0u);
  EXPECT_EQ(Msgs("dup").size(), 2u);
}

TEST_F(CliConfig, ByteOrderMarkIsReportedAndTheFirstLineStaysUnread) {
  WriteFile(P("lw.cfg"), "\xEF\xBB\xBFLOG lw.log\nNETMAIL *net\n");
  RunResult run = Run();
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err.rfind("larkway: lw.cfg:1: warning: the file begins with a byte-order mark", 0), 0u) << run.err;
  EXPECT_FALSE(Exists(P("lw.log")));  // read as it always was: no LOG line
  RunResult check = RunLarkway({"-c", "lw.cfg"}, dir_.path());
  EXPECT_EQ(check.exit_code, 1);
  EXPECT_NE(check.err.find("lw.cfg:1: error: the file begins with a byte-order mark"), std::string::npos);
}

TEST_F(CliConfig, CheckReportsEveryProblemInFileOrderAndTouchesNothing) {
  Config({"LOG lw.log", "PRIORTY FROM", "; a comment", "", "MOVE on", "TO Sysop, KILL"});
  RunResult check = RunLarkway({"--check", "lw.cfg"}, dir_.path());
  EXPECT_EQ(check.exit_code, 1);
  EXPECT_EQ(check.err,
            "larkway: lw.cfg:2: error: unknown key `PRIORTY`; the line is not read\n"
            "larkway: lw.cfg:5: error: MOVE `on` is not YES: taken as no\n"
            "larkway: lw.cfg:6: error: TO rules are never tried: there is no PRIORITY line\n"
            "larkway: lw.cfg: error: Path to netmail inbox not set. Please fix it.\n");
  EXPECT_EQ(check.out, "lw.cfg: 4 problem(s) found\n");
  EXPECT_EQ(ListDir(dir_.path()), (std::vector<std::string>{"lw.cfg", "net"}));
}

// Rules shared through INCLUDE act as if written in place; an included
// file that cannot be read stops the run before any message is touched,
// and --check names every problem with the included file's name and line.
TEST_F(CliConfig, IncludedRulesActAndTheirProblemsAreToldWithTheirFile) {
  PutMsg("net", 1, SpamToSysop());
  MakeDirs(P("rules"));
  WriteFile(P("rules/spam.cfg"), "INCLUDE order.cfg\nFROMADDR 2:5020/2, *spam\n");
  WriteFile(P("rules/order.cfg"), "PRIORITY FROMADDR\n");
  Config({"NETMAIL *net", "MOVE yes", "INCLUDE rules/spam.cfg ; shared with the other node"});
  RunResult check = RunLarkway({"--check", "lw.cfg"}, dir_.path());
  EXPECT_EQ(check.exit_code, 0) << check.err;
  EXPECT_EQ(check.out, "lw.cfg: no problems found\n");

  WriteFile(P("rules/order.cfg"), "PRIORITY FROMADDR\nPRIORTY TO\nINCLUDE ../lw.cfg\nINCLUDE gone.cfg\n");
  check = RunLarkway({"--check", "lw.cfg"}, dir_.path());
  EXPECT_EQ(check.exit_code, 1);
  EXPECT_EQ(check.err,
            "larkway: rules/order.cfg:2: error: unknown key `PRIORTY`; the line is not read\n"
            "larkway: rules/order.cfg:3: error: INCLUDE loop lw.cfg -> rules/spam.cfg -> rules/order.cfg -> "
            "rules/../lw.cfg; the file is not read again\n"
            "larkway: rules/order.cfg:4: error: cannot read the included file rules/gone.cfg: No such file or "
            "directory\n");
  EXPECT_EQ(check.out, "lw.cfg: 3 problem(s) found\n");
  RunResult stopped = Run();
  EXPECT_EQ(stopped.exit_code, 255);
  EXPECT_NE(stopped.err.find("larkway: Configuration lw.cfg not read whole: rules/order.cfg:3: INCLUDE loop"),
            std::string::npos)
      << stopped.err;
  EXPECT_EQ(Msgs("net").size(), 1u);

  WriteFile(P("rules/order.cfg"), "PRIORITY FROMADDR\n");
  RunResult run = Run();
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(Msgs("net").size(), 0u);
  EXPECT_EQ(Msgs("spam").size(), 1u);
}

TEST_F(CliConfig, SoundConfigurationHasNoWarnings) {
  Config({"LOG lw.log  ; the log", "NETMAIL *net", "MOVE yes", "USELASTREAD no", "USERNUMBER 1",
          "PRIORITY NOT_TOUCH TO FROM TOADDR FROMADDR", "NOT_TOUCH Nobody", "TO Sysop, Sbases/sysop",
          "FROM Spammer, KILL", "TOADDR 2:5020/1.5, Jbases/point", "FROMADDR 2:5020/100, *from",
          "DON'T_TOUCH_LOCAL_AND_UNSENT_MAIL yes", "LOGCHARSET UTF-8", "LOGDETAIL yes"});
  RunResult run = Run();
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "");
  RunResult check = RunLarkway({"--check", "lw.cfg"}, dir_.path());
  EXPECT_EQ(check.exit_code, 0);
  EXPECT_EQ(check.err, "");
}

}  // namespace
}  // namespace lw::test
