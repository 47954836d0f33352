// Kills over a whole move run: larkway_killable raises SIGKILL at its N-th
// file-system call, for every N of the run; the real program then reruns
// on the same files.  Nothing is reverted: what the killed process wrote
// stays, as the kernel keeps it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "fault/fault_loop.h"
#include "fault/killed_run_posix.h"

namespace lw::test {
namespace {

class FaultKillRun : public ::testing::TestWithParam<char> {};

TEST_P(FaultKillRun, AKillAtEveryCallLosesNothing) { Judge(RunFaultLoop("Kill", GetParam(), KilledRun)); }

// A killed run leaves every write it made: a state file rewritten in
// place would be found half written.
TEST_P(FaultKillRun, AKillNeverLeavesLastReadAheadOrAStateFileHalfWritten) {
  Judge(RunFaultLoop("Kill USELASTREAD", GetParam(), KilledRun, true));
}

// A second run that waits on the area lock while the first is killed
// takes the lock once the first is gone, and does the whole job.  Each
// point waits for the second run to reach the lock: the long mode tries
// every one, CI one in kWaiterStride.
TEST_P(FaultKillRun, ARunWaitingOnTheLockOfAKilledRunFinishesTheJob) {
  constexpr std::int64_t kWaiterStride = 7;
  const char netmail = GetParam();
  const PointsTried sampled = PointsOf("Kill", netmail);
  LoopPlan plan{[netmail](const std::string& root) { return WriteScenario(root, netmail); }, {}};
  if (!LongMode()) plan.points = {kWaiterStride * sampled.stride, 2 + sampled.offset};
  Judge(RunFaultLoop("Kill waiting", netmail, KilledRunWithWaiter, plan));
}

INSTANTIATE_TEST_SUITE_P(Netmail, FaultKillRun, ::testing::Values('M', 'S', 'J'),
                         [](const auto& info) { return std::string(1, info.param); });

}  // namespace
}  // namespace lw::test
