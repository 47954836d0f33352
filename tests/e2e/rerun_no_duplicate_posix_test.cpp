// A move killed at any file-system call and run again leaves every picked
// message in its destination exactly once: the copies the killed run made
// before it could delete their sources are recognised, not made again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "fault/fault_loop.h"

namespace lw::test {
namespace {

class RerunAfterKill : public ::testing::TestWithParam<char> {};

// Runs the killable program with the kill at call `n`.
FaultedRun KilledRun(std::int64_t n, const Scenario& s) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    setenv("LARKWAY_KILL_AT", std::to_string(n).c_str(), 1);
    alarm(kRunSeconds);  // kept across exec: a hung program is ended
    execl(LARKWAY_KILLABLE_BIN, LARKWAY_KILLABLE_BIN, s.config_path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  FaultedRun run;
  run.hung = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
  run.reached = run.hung || (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  return run;
}

TEST_P(RerunAfterKill, LeavesEveryPickedMessageExactlyOnce) {
  const LoopSummary summary = RunFaultLoop("Kill", GetParam(), KilledRun);
  Judge(summary);
  EXPECT_EQ(summary.most_copies, 1) << summary.Line();
}

INSTANTIATE_TEST_SUITE_P(Netmail, RerunAfterKill, ::testing::Values('M', 'S', 'J'),
                         [](const auto& info) { return std::string(1, info.param); });

}  // namespace
}  // namespace lw::test
