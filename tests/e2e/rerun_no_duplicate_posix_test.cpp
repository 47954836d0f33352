// A move killed at any file-system call and run again leaves every picked
// message in its destination exactly once: the copies the killed run made
// before it could delete their sources are recognised, not made again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "fault/fault_loop.h"
#include "fault/killed_run_posix.h"

namespace lw::test {
namespace {

class RerunAfterKill : public ::testing::TestWithParam<char> {};

TEST_P(RerunAfterKill, LeavesEveryPickedMessageExactlyOnce) {
  const LoopSummary summary = RunFaultLoop("Kill", GetParam(), KilledRun);
  Judge(summary);
  EXPECT_EQ(summary.most_copies, 1) << summary.Line();
}

INSTANTIATE_TEST_SUITE_P(Netmail, RerunAfterKill, ::testing::Values('M', 'S', 'J'),
                         [](const auto& info) { return std::string(1, info.param); });

}  // namespace
}  // namespace lw::test
