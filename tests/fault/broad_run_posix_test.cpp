// The kill and power-cut loops over the broad scenario (scenario.h): two
// netmail areas, several batches, a rule with three targets, USELASTREAD,
// destinations held past their limit.  Its run makes thousands of calls:
// the long mode (LARKWAY_FAULT_LONG=1) tries every one, CI one in
// kBroadStride.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "app/run_driver.h"
#include "fault/crash_platform.h"
#include "fault/fault_loop.h"
#include "fault/killed_run_posix.h"
#include "fault/scratch_dir.h"

namespace lw::test {
namespace {

namespace fs = std::filesystem;

// A prime, so that the points tried fall at different calls of each
// message's copy from one message to the next.
constexpr std::int64_t kBroadStride = 499;

LoopPlan BroadPlan(const std::string& loop, char netmail) {
  LoopPlan plan{[netmail](const std::string& root) { return WriteBroadScenario(root, netmail); }, {}};
  if (LongMode()) return plan;
  // The builds with a stride of their own (fault_loop.h) try fewer still.
  const PointsTried sampled = PointsOf(loop, netmail);
  plan.points = {kBroadStride * sampled.stride, sampled.offset * kBroadStride + (netmail == 'M' ? 7 : 3)};
  return plan;
}

FaultedRun PowerCutRun(std::int64_t n, const Scenario& s) {
  return RunMoverInChild(s, [n, &s](int note_fd) -> ChildFault {
    auto note = [note_fd](const std::string& call) {
      const std::string line = call + "\n";
      if (write(note_fd, line.data(), line.size()) < 0) return;
    };
    // The child ends with _exit: the platform is never freed.
    auto* crash = new CrashPlatform(platform::NativePlatform(), s.root, n, true, note);
    crash->StopClock(s.clock_jump_in, s.clock_jump_at, kClockJump);
    platform::SetPlatform(crash);
    return {[crash] { return crash->crashed(); }, [crash] { crash->Revert(); }};
  });
}

class FaultBroadRun : public ::testing::TestWithParam<char> {};

TEST_P(FaultBroadRun, AKillAtEveryCallOfALongRunLosesNothing) {
  Judge(RunFaultLoop("Kill broad", GetParam(), KilledRun, BroadPlan("Kill", GetParam())));
}

TEST_P(FaultBroadRun, APowerCutAtEveryCallOfALongRunLosesNothing) {
  Judge(RunFaultLoop("Crash broad", GetParam(), PowerCutRun, BroadPlan("Crash", GetParam())));
}

// Counts the opens and flushes of the files a name ends in.
class OpensAndFlushes : public InterceptingPlatform {
 public:
  explicit OpensAndFlushes(platform::Platform& target) : InterceptingPlatform(target) {}
  std::map<std::string, int> opens, flushes;  // by the name's last part

 protected:
  int OnCall(Call& call, const std::function<int()>& pass) override {
    const std::string name = fs::path(std::string(call.name)).filename().string();
    if (call.op == Op::kOpenFile) ++opens[name];
    if (call.op == Op::kFlushFile) ++flushes[name];
    return pass();
  }
};

// The loops above are only as broad as the run they fault: it must take
// several batches, one of them ended by its age, and open a destination
// again after its hold ran out.
TEST(FaultBroadScenario, TakesSeveralBatchesAndOpensHeldDestinationsAgain) {
  ScratchDir work;
  const Scenario s = WriteBroadScenario(work.path(), 'J');
  OpensAndFlushes counter(platform::NativePlatform());
  counter.StopClock(s.clock_jump_in, s.clock_jump_at, kClockJump);
  {
    platform::ScopedPlatform guard(&counter);
    const char* argv[] = {"larkway", s.config_path.c_str(), nullptr};
    ASSERT_EQ(RunMover(2, argv), 0);
  }
  // Opened in the first netmail area, again after the clock's jump, and
  // in the second area.
  EXPECT_EQ(counter.opens["sq.sqd"], 3);
  // Committed at 256 messages, at the batch's age, at the end of the
  // first area, and in the second.
  EXPECT_EQ(counter.flushes["sq.sqi"], 4);
}

INSTANTIATE_TEST_SUITE_P(Netmail, FaultBroadRun, ::testing::Values('M', 'S', 'J'),
                         [](const auto& info) { return std::string(1, info.param); });

}  // namespace
}  // namespace lw::test
