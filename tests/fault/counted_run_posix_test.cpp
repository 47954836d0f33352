// Counted faults over a whole move run: the N-th file-system call fails
// once, for every N of the run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "fault/counting_platform.h"
#include "fault/fault_loop.h"

namespace lw::test {
namespace {

class FaultCountedRun : public ::testing::TestWithParam<char> {};

FaultedRun CountedRun(std::int64_t n, const Scenario& s, bool persistent) {
  return RunMoverInChild(s, [n, persistent](int note_fd) -> ChildFault {
    FaultPlan plan;
    plan.fail_at = n;
    plan.persistent = persistent;
    plan.on_reached = [note_fd](CallKind kind, std::string_view name) {
      const std::string note = std::string(CallKindName(kind)) + " " + std::string(name) + "\n";
      if (write(note_fd, note.data(), note.size()) < 0) return;
    };
    // The child ends with _exit: the platform is never freed.
    auto* counting = new CountingPlatform(platform::NativePlatform(), plan);
    platform::SetPlatform(counting);
    return {[counting] { return counting->reached(); }, {}};
  });
}

TEST_P(FaultCountedRun, EveryCallFailingOnceLosesNothing) {
  Judge(RunFaultLoop("Counted", GetParam(), [](std::int64_t n, const Scenario& s) { return CountedRun(n, s, false); }));
}

TEST_P(FaultCountedRun, TheDiskGoingAwayAtEveryCallLosesNothing) {
  Judge(
      RunFaultLoop("Persistent", GetParam(), [](std::int64_t n, const Scenario& s) { return CountedRun(n, s, true); }));
}

INSTANTIATE_TEST_SUITE_P(Netmail, FaultCountedRun, ::testing::Values('M', 'S', 'J'),
                         [](const auto& info) { return std::string(1, info.param); });

}  // namespace
}  // namespace lw::test
