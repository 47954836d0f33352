// Power cuts over a whole move run: the run stops at its N-th file-system
// call and the disk is put back to what was durable then, for every N.
#include <gtest/gtest.h>
#include <unistd.h>

#include "fault/crash_platform.h"
#include "fault/fault_loop.h"

namespace lw::test {
namespace {

class FaultCrashRun : public ::testing::TestWithParam<char> {};

FaultedRun CrashedRun(std::int64_t n, const Scenario& s) {
  return RunMoverInChild(s, [n, &s](int note_fd) -> ChildFault {
    auto note = [note_fd](const std::string& call) {
      const std::string line = call + "\n";
      if (write(note_fd, line.data(), line.size()) < 0) return;
    };
    // The child ends with _exit: the platform is never freed.
    auto* crash = new CrashPlatform(platform::NativePlatform(), s.root, n, true, note);
    platform::SetPlatform(crash);
    // A run that completed before call n meets the power cut right after.
    return {[crash] { return crash->crashed(); }, [crash] { crash->Revert(); }};
  });
}

TEST_P(FaultCrashRun, APowerCutAtEveryCallLosesNothing) { Judge(RunFaultLoop("Crash", GetParam(), CrashedRun)); }

// The lastread number and the last-MSGID file are rolled back with the
// rest: the next run must neither skip mail nor move it twice.
TEST_P(FaultCrashRun, APowerCutNeverLeavesLastReadAheadOrBehind) {
  Judge(RunFaultLoop("Crash USELASTREAD", GetParam(), CrashedRun, true));
}

INSTANTIATE_TEST_SUITE_P(Netmail, FaultCrashRun, ::testing::Values('M', 'S', 'J'),
                         [](const auto& info) { return std::string(1, info.param); });

}  // namespace
}  // namespace lw::test
