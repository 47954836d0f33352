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
      {"FROM Viagra Seller KILL", "rule without a comma"},
      {"TOADDR 2:5020/1 Sbase", "rule without a comma"},
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
    Config({"NETMAIL *net", c.line});
    RunResult run = Run();
    EXPECT_EQ(run.exit_code, 0) << run.out;
    EXPECT_EQ(run.err.rfind("larkway: lw.cfg:2: warning: " + std::string(c.reason), 0), 0u) << run.err;
    RunResult check = RunLarkway({"--check", "lw.cfg"}, dir_.path());
    EXPECT_EQ(check.exit_code, 1);
    EXPECT_EQ(check.err.rfind("larkway: lw.cfg:2: error: " + std::string(c.reason), 0), 0u) << check.err;
    EXPECT_EQ(check.out, "lw.cfg: 1 problem(s) found\n");
  }
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
            "larkway: lw.cfg: error: Path to netmail inbox not set. Please fix it.\n");
  EXPECT_EQ(check.out, "lw.cfg: 3 problem(s) found\n");
  EXPECT_EQ(ListDir(dir_.path()), (std::vector<std::string>{"lw.cfg", "net"}));
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
