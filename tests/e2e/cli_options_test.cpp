// The command line: every option's exit code, standard output and standard
// error, and the Linux naming of the banner, the usage line and the log.
#include <algorithm>

#include "e2e/e2e_fixture.h"

namespace lw::test {
namespace {

class Cli : public E2E {
 protected:
  void SetUp() override {
    if (TestingWin32Build()) GTEST_SKIP() << "the Win32 build keeps its own naming";
  }
};

TEST_F(Cli, OptionsTable) {
  MakeDirs(P("net"));
  Config({"NETMAIL *net"});
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    const char* out_has;  // "" when standard output must be empty
    const char* err_has;  // "" when standard error must be empty
  };
  const Case cases[] = {
      {{}, 0, "Usage: larkway configname\n", ""},
      {{"--help"}, 0, "-n, --dry-run", ""},
      {{"-h"}, 0, "Usage: larkway [-q] configname", ""},
      {{"--version"}, 0, "Larkway/Linux 1.07\nPlatform: Linux\nFormats: *.MSG", ""},
      {{"-V"}, 0, "Squish, JAM", ""},
      {{"--check", "lw.cfg"}, 0, "lw.cfg: no problems found\n", ""},
      {{"-c", "lw.cfg"}, 0, "no problems found", ""},
      {{"-n", "lw.cfg"}, 0, "Larkway/Linux 1.07, ", ""},
      {{"lw.cfg", "--dry-run"}, 0, "Scanning net", ""},
      {{"-q", "lw.cfg"}, 0, "", ""},
      {{"--bogus"}, 2, "", "larkway: unknown option '--bogus'\nUsage: larkway [-q] configname"},
      {{"-x", "lw.cfg"}, 2, "", "larkway: unknown option '-x'\n"},
      {{"lw.cfg", "extra"}, 2, "", "larkway: extra argument 'extra'\n"},
      {{"-c"}, 2, "", "larkway: no configuration file named\n"},
      {{"-n"}, 2, "", "no configuration file named"},
      {{"-q"}, 2, "", "no configuration file named"},
      {{"--help=yes"}, 2, "", "unknown option '--help=yes'"},
      {{"-c", "-n", "lw.cfg"}, 2, "", "do not go together"},
      {{"--repair"}, 2, "", "larkway: option '--repair' needs a value\n"},
      {{"-r", "Snet/area", "lw.cfg"}, 2, "", "larkway: extra argument 'lw.cfg'\n"},
      {{"-c", "--repair", "Snet/area"}, 2, "", "larkway: --repair goes with no --check or --dry-run\n"},
      {{"--json", "lw.cfg"}, 2, "", "larkway: --json goes with --dry-run or --list\n"},
      {{"-j", "-q", "lw.cfg"}, 2, "", "larkway: --json goes with --dry-run or --list\n"},
      {{"--list"}, 2, "", "larkway: option '--list' needs a value\n"},
      {{"-l", "*net", "--check", "lw.cfg"}, 2, "", "larkway: --list goes with no --check or --repair\n"},
      {{"-l", "*net", "-r", "*net"}, 2, "", "larkway: --list goes with no --check or --repair\n"},
      {{"-l", "*net", "lw.cfg", "extra"}, 2, "", "larkway: extra argument 'extra'\n"},
      {{"-l", "*net"}, 0, "Scanning net\nNothing to scan !\n", ""},
      {{"-l", "net"},
       255,
       "Error: not an area identifier - net\n",
       "larkway: not an area identifier - net: it starts with no format letter"},
      {{"-n", "-j", "lw.cfg"},
       0,
       "{\"type\":\"summary\",\"areas\":1,\"messages\":0,\"picked\":0,\"kept\":0,\"unreadable\":0,\"stopped\":null}\n",
       ""},
      {{"nothere.cfg"},
       255,
       "Error: Unable to open nothere.cfg, rc=00000002\n",
       "larkway: Unable to open nothere.cfg, rc=00000002: nothere.cfg: No such file or directory\n"},
      {{"-c", "nothere.cfg"},
       1,
       "",
       "larkway: Unable to open nothere.cfg, rc=00000002: nothere.cfg: No such file or directory\n"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    RunResult r = RunLarkway(c.args, dir_.path());
    EXPECT_EQ(r.exit_code, c.exit_code);
    if (*c.out_has == 0) {
      EXPECT_EQ(r.out, "");
    } else {
      EXPECT_NE(r.out.find(c.out_has), std::string::npos) << r.out;
    }
    if (*c.err_has == 0) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
    }
  }
}

// LARKWAY_CONFIG stands in for a configuration name the command line does
// not give, and only then; empty is unset.
TEST_F(Cli, ConfigurationFromTheEnvironment) {
  Config({"NETMAIL *net", "MOVE yes", "PRIORITY TO", "TO Sysop, KILL"});
  MsgFile to_sysop;
  to_sysop.to = "Sysop";
  struct Case {
    const char* env;
    std::vector<std::string> args;
    int exit_code;
    const char* out_has;
    const char* err_has;  // "" when standard error must be empty
    std::size_t left;     // messages left in the area
  };
  const Case cases[] = {
      {"lw.cfg", {}, 0, "1 message(s) founded", "", 0},
      {"lw.cfg", {"-q"}, 0, "", "", 0},
      {"lw.cfg", {"-n"}, 0, "Scanning net", "", 1},
      {"lw.cfg", {"--check"}, 0, "lw.cfg: no problems found", "", 1},
      {"lw.cfg", {"-V"}, 0, "Formats:", "", 1},
      {"nothere.cfg", {"-c", "lw.cfg"}, 0, "lw.cfg: no problems found", "", 1},
      {"nothere.cfg", {}, 255, "Unable to open nothere.cfg", "nothere.cfg: No such file or directory", 1},
      {"", {}, 0, "Usage: larkway configname\n", "", 1},
      {"", {"-n"}, 2, "", "larkway: no configuration file named\n", 1},
  };
  for (const Case& c : cases) {
    std::string shown = std::string("LARKWAY_CONFIG=") + c.env;
    for (const std::string& a : c.args) shown += " " + a;
    SCOPED_TRACE(shown);
    PutMsg("net", 1, to_sysop);
    RunResult r = RunLarkway(c.args, dir_.path(), {std::string("LARKWAY_CONFIG=") + c.env});
    EXPECT_EQ(r.exit_code, c.exit_code) << r.out << r.err;
    EXPECT_NE(r.out.find(c.out_has), std::string::npos) << r.out;
    if (*c.err_has == 0) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
    }
    EXPECT_EQ(Msgs("net").size(), c.left);
  }
}

TEST_F(Cli, DryRunIsNotTakenForAConfigurationName) {
  PutMsg("net", 1, {});
  Config({"NETMAIL *net", "MOVE yes", "PRIORITY TO", "TO Sysop, KILL"});
  RunResult r = RunLarkway({"lw.cfg", "--dry-run"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(Msgs("net").size(), 1u);
}

TEST_F(Cli, QuietShowsErrorsOnly) {
  PutMsg("net", 1, {});
  Config({"NETMAIL *net", "LOG lw.log", "PRIORITY TO", "TO Sysop, *copy"});
  RunResult r = RunLarkway({"-q", "lw.cfg"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Msgs("copy").size(), 1u);
  EXPECT_EQ(Marked('*').size(), 2u);  // the log is as full as ever

  Config({"LOG lw.log"});
  r = RunLarkway({"--quiet", "lw.cfg"}, dir_.path());
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.out, "Error: Path to netmail inbox not set. Please fix it.\n");
  EXPECT_EQ(r.err, "larkway: Path to netmail inbox not set. Please fix it.\n");
}

TEST_F(Cli, QuietDryRunShowsItsReportOnly) {
  PutMsg("net", 1, {});
  PutMsg("net", 2, {});
  Config({"NETMAIL *net", "MOVE yes", "PRIORITY TO", "TO Sysop, KILL"});
  RunResult r = RunLarkway({"-q", "-n", "lw.cfg"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  // A line per message, and no banner, scanning line or count.
  ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
  EXPECT_EQ(r.out.rfind("1 from ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\n2 from "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(": kill (rule: Found mail to `SYSOP`)\n"), std::string::npos) << r.out;
  EXPECT_EQ(Msgs("net").size(), 2u);
}

TEST_F(Cli, LinuxNamingInBannerUsageAndLog) {
  MakeDirs(P("net"));
  Config({"NETMAIL *net", "LOG lw.log"});
  RunResult r = Run();
  EXPECT_EQ(r.out.rfind("Larkway/Linux 1.07, netmail sorter for FidoNet message bases\n\n", 0), 0u) << r.out;
  EXPECT_EQ(LogLines().at(1), "> <stamp> Larkway/Linux 1.07 started");
}

TEST_F(Cli, ErrorsNameThePathAndTheReasonOnStandardError) {
  MakeDirs(P("cfgdir"));
  RunResult r = RunLarkway({"cfgdir"}, dir_.path());
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_NE(r.out.find("Error number 005 in config.cpp"), std::string::npos);  // the console is as it was
  EXPECT_EQ(r.err, "larkway: cannot read the configuration: cfgdir: it is a folder\n");

  MakeDirs(P("net"));
  WriteFile(P("blocker"), "x");
  Config({"NETMAIL *net", "LOG blocker/lw.log"});
  r = Run();
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.err, "larkway: Unable to open log file blocker/lw.log: blocker/lw.log: Not a directory\n");

  Config({"NETMAIL Snosuch/base"});
  r = Run();
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.err, "larkway: unable to open messagebase - Snosuch/base: nosuch/base.sqd: No such file or directory\n");
}

TEST_F(Cli, ErrorsReachStandardErrorWhenStandardOutputIsThrownAway) {
  Config({"NETMAIL *net", "USELASTREAD yes"});
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.err, "larkway: Please set some number in UserNumber, not ZERO.\n");
}

}  // namespace
}  // namespace lw::test
