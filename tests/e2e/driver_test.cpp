// The run from start to exit: usage, configuration errors, the log file and
// the per-area lines.
#include <sys/stat.h>

#include "e2e/e2e_fixture.h"

namespace lw::test {
namespace {

// The program as the banner and the log's start line name it.
std::string Title() { return TestingWin32Build() ? "Larkway/WIN32 1.07" : "Larkway/Linux 1.07"; }
std::string Banner() { return Title() + ", "; }
std::string Usage() { return TestingWin32Build() ? "Usage: LARKWAY.EXE configname" : "Usage: larkway configname"; }

TEST_F(E2E, UsageWithoutArgument) {
  RunResult r = RunLarkway({}, dir_.path());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind(Banner(), 0), 0u);
  EXPECT_NE(r.out.find("\n\n" + Usage() + "\n"), std::string::npos);
}

TEST_F(E2E, MissingConfigurationFile) {
  RunResult r = RunLarkway({"nothere.cfg"}, dir_.path());
  EXPECT_EQ(r.exit_code, 255);
  // The code is the system's: 2, file not found.
  EXPECT_NE(r.out.find("Error: Unable to open nothere.cfg, rc=00000002\n"), std::string::npos) << r.out;
  EXPECT_EQ(ListDir(dir_.path()).size(), 0u);
}

TEST_F(E2E, UnreadableConfigurationEndsThroughTheExitReport) {
  MakeDirs(P("cfgdir"));
  RunResult r = RunLarkway({"cfgdir"}, dir_.path());
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_NE(r.out.find("Error number 005 in config.cpp, line "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("DOS ERROR: File access denied.\n"), std::string::npos);
}

TEST_F(E2E, OnlyCommentsStopsAfterTheStartLine) {
  Config({"; nothing here", "LOG lw.log"});
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.out.find("Error: Path to netmail inbox not set. Please fix it.\n"), std::string::npos);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"", "> <stamp> " + Title() + " started",
                                      "! <stamp> LW 1.07 Error: Path to netmail inbox not set. Please fix it."}));
}

TEST_F(E2E, UseLastReadNeedsAUserNumber) {
  Config({"NETMAIL *net", "USELASTREAD yes", "USERNUMBER 12a"});
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.out.find("Error: Please set some number in UserNumber, not ZERO.\n"), std::string::npos);
  EXPECT_FALSE(Exists(P("lw.log")));
}

TEST_F(E2E, LogIsAppendedRunAfterRun) {
  MakeDirs(P("net"));
  Config({"NETMAIL *net", "LOG lw.log"});
  ASSERT_EQ(Run().exit_code, 0);
  ASSERT_EQ(Run().exit_code, 0);
  const std::vector<std::string> one_run = {
      "",
      "> <stamp> " + Title() + " started",
      "  <stamp> LW 1.07 Scanning " + Shown("net"),
      "  <stamp> LW 1.07 Nothing to scan !",
      "i <stamp> LW 1.07 Memory leak is 0 bytes.",
  };
  std::vector<std::string> both = one_run;
  both.insert(both.end(), one_run.begin(), one_run.end());
  EXPECT_EQ(LogLines(), both);
}

TEST_F(E2E, WithoutLogNothingIsWrittenButTheConsoleShowsAll) {
  PutMsg("net", 1, {});
  Config({"NETMAIL *net"});
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("Scanning " + Shown("net") + "\n"), std::string::npos);
  EXPECT_NE(r.out.find("1 message(s) scanned"), std::string::npos);
  EXPECT_NE(r.out.find("0 message(s) founded\n"), std::string::npos);
  EXPECT_EQ(ListDir(dir_.path()), (std::vector<std::string>{"lw.cfg", "net"}));  // no log file
}

TEST_F(E2E, LogInMissingFolderIsCreated) {
  MakeDirs(P("net"));
  Config({"NETMAIL *net", "LOG nofolder/deeper/lw.log"});
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("Nothing to scan !"), std::string::npos);
  EXPECT_EQ(LogLines("nofolder/deeper/lw.log").back(), "i <stamp> LW 1.07 Memory leak is 0 bytes.");
}

// Mail is never moved or killed without a record: a configured log that
// cannot be opened ends the run before any message is touched.
TEST_F(E2E, LogThatCannotBeOpenedStopsTheRunFirst) {
  PutMsg("net", 1, {});
  WriteFile(P("blocker"), "a file where the log's folder should be");
  Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, KILL", "LOG blocker/lw.log"});
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.out.find("Error: Unable to open log file " + Shown("blocker/lw.log") + "\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Scanning"), std::string::npos);
  EXPECT_EQ(Msgs("net").size(), 1u);
}

TEST_F(E2E, AreasInConfigurationOrder) {
  PutMsg("b", 1, {});
  PutMsg("b", 2, {});
  MakeDirs(P("a"));
  PutMsg("c", 1, {});
  Config({"NETMAIL *b", "NETMAIL Ma", "NETMAIL fc", "LOG lw.log"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.out;
  std::vector<std::string> lines = LogLines();
  std::vector<std::string> area_lines;
  for (const std::string& l : lines) {
    if (l.find("Scanning") != std::string::npos || l.find("founded") != std::string::npos ||
        l.find("Nothing") != std::string::npos || l.find("scanned") != std::string::npos) {
      area_lines.push_back(l);
    }
  }
  EXPECT_EQ(area_lines, (std::vector<std::string>{
                            "  <stamp> LW 1.07 Scanning " + Shown("b"),
                            "* <stamp> LW 1.07 2 message(s) scanned",
                            "* <stamp> LW 1.07 0 message(s) founded",
                            "  <stamp> LW 1.07 Scanning " + Shown("a"),
                            "  <stamp> LW 1.07 Nothing to scan !",
                            "  <stamp> LW 1.07 Scanning " + Shown("c"),
                            "* <stamp> LW 1.07 1 message(s) scanned",
                            "* <stamp> LW 1.07 0 message(s) founded",
                        }));
}

TEST_F(E2E, ConfigurationJunkNeverCrashes) {
  MakeDirs(P("net"));
  std::string junk = "NETMAIL *net\n";
  junk += std::string(1000, 'X') + "\n";
  const char nul_line[] = "TO \0\0\xff\xfe, kill\n";
  junk += std::string(nul_line, sizeof nul_line - 1);
  for (int i = 0; i < 256; ++i) junk += static_cast<char>(i);
  junk += "\nLOG lw.log\n";
  for (int i = 0; i < 101; ++i) junk += "FROM someone, kill\n";
  WriteFile(P("lw.cfg"), junk);
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("Warning: More than 100 entries of one key, line 108 ignored: FROM someone, kill\n"),
            std::string::npos)
      << r.out;
}

}  // namespace
}  // namespace lw::test
