// A stop signal (what systemctl stop, a shutdown or Ctrl+C send) that lands
// while a message is in hand: the run finishes that message, settles what
// it holds, closes its log and exits with 128 + the signal; a second
// signal ends it at once.  Either way every message is in its area or
// moved once, and a rerun finishes the work.  The signals come from the
// test build with a kill switch (larkway_killable), raised while message 5
// of 12 is being read.
#include <csignal>
#include <map>

#include "e2e/e2e_fixture.h"

namespace lw::test {
namespace {

constexpr int kMessages = 12;

class CleanStop : public E2E {
 protected:
  void SetUp() override {
    for (int n = 1; n <= kMessages; ++n) PutMsg("net", n, MailTo("Ivan Sysop", std::to_string(10000000 + n), false));
    Config({"NETMAIL *net", "LOG lw.log", "MOVE yes", "PRIORITY TO", "TO Ivan Sysop, *dest"});
  }

  RunResult RunSignalled(const std::string& signals) {
    return RunProgram(LARKWAY_KILLABLE_BIN, {"lw.cfg"}, dir_.path(),
                      {"LARKWAY_SIGNAL_ON=net/5.msg", "LARKWAY_SIGNALS=" + signals});
  }

  // How many times each message (by its MSGID line) is in the area.
  static std::map<std::string, int> Copies(const std::string& area_id) {
    std::map<std::string, int> copies;
    for (const StoredMsg& m : ReadArea(area_id)) ++copies[m.text.substr(0, m.text.find('\r'))];
    return copies;
  }

  // After a rerun with the program itself, every message is in the
  // destination once and none is left in the source.
  void RerunFinishes() {
    RunResult rerun = Run();
    EXPECT_EQ(rerun.exit_code, 0) << rerun.out << rerun.err;
    EXPECT_EQ(Msgs("net").size(), 0u);
    const std::map<std::string, int> copies = Copies(AreaId("*", P("dest")));
    EXPECT_EQ(copies.size(), static_cast<std::size_t>(kMessages));
    for (const auto& [msgid, count] : copies) EXPECT_EQ(count, 1) << msgid;
  }
};

TEST_F(CleanStop, FirstSignalFinishesTheMessageInHandAndExitsWith128PlusIt) {
  struct Case {
    int signal;
    const char* name;
  };
  for (const Case& c : {Case{SIGTERM, "SIGTERM"}, Case{SIGINT, "SIGINT"}, Case{SIGHUP, "SIGHUP"}}) {
    SCOPED_TRACE(c.name);
    StartOver();
    SetUp();
    RunResult run = RunSignalled(std::to_string(c.signal));
    EXPECT_FALSE(run.ended_by_signal);
    EXPECT_EQ(run.exit_code, 128 + c.signal) << run.out << run.err;
    // Messages 1 to 5 are moved, the batch they were in settled; the rest wait.
    EXPECT_EQ(Msgs("net"),
              (std::vector<std::string>{"6.msg", "7.msg", "8.msg", "9.msg", "10.msg", "11.msg", "12.msg"}));
    EXPECT_EQ(Msgs("dest").size(), 5u);
    const std::vector<std::string> log = LogLines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2],
              "  <stamp> LW 1.07 Stopped by " + std::string(c.name) + ", the rest is left for the next run");
    EXPECT_EQ(log.back(), "i <stamp> LW 1.07 Memory leak is 0 bytes.");
    EXPECT_NE(run.out.find("Stopped by " + std::string(c.name)), std::string::npos) << run.out;
    RerunFinishes();
  }
}

TEST_F(CleanStop, SecondSignalEndsTheRunAtOnceAndLosesNothing) {
  RunResult run = RunSignalled(std::to_string(SIGTERM) + "," + std::to_string(SIGINT));
  EXPECT_FALSE(run.ended_by_signal);
  EXPECT_EQ(run.exit_code, 128 + SIGINT) << run.out << run.err;
  EXPECT_EQ(LastLogLine().find("Memory leak"), std::string::npos);
  // Each message is still in the source or in the destination, once there.
  const std::map<std::string, int> copies = Copies(AreaId("*", P("dest")));
  for (const auto& [msgid, count] : copies) EXPECT_EQ(count, 1) << msgid;
  std::map<std::string, int> anywhere = Copies(AreaId("*", P("net")));
  for (const auto& [msgid, count] : copies) anywhere[msgid] += count;
  EXPECT_EQ(anywhere.size(), static_cast<std::size_t>(kMessages));
  RerunFinishes();
}

}  // namespace
}  // namespace lw::test
