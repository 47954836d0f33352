// Power cuts over a whole move run: the run stops at its N-th file-system
// call and the disk is put back to what was durable then, for every N.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ostream>
#include <tuple>

#include "fault/crash_platform.h"
#include "fault/fault_loop.h"

namespace lw::test {
namespace {

class FaultCrashRun : public ::testing::TestWithParam<char> {};

FaultedRun CrashedRun(std::int64_t n, const Scenario& s, PowerCut cut) {
  return RunMoverInChild(s, [n, &s, cut](int note_fd) -> ChildFault {
    auto note = [note_fd](const std::string& call) {
      const std::string line = call + "\n";
      if (write(note_fd, line.data(), line.size()) < 0) return;
    };
    // The child ends with _exit: the platform is never freed.
    auto* crash = new CrashPlatform(platform::NativePlatform(), s.root, n, true, note, cut);
    platform::SetPlatform(crash);
    // A run that completed before call n meets the power cut right after.
    return {[crash] { return crash->crashed(); }, [crash] { crash->Revert(); }};
  });
}

FaultedRun SyncedOnlyCrashedRun(std::int64_t n, const Scenario& s) { return CrashedRun(n, s, PowerCut::kSyncedOnly); }

TEST_P(FaultCrashRun, APowerCutAtEveryCallLosesNothing) {
  Judge(RunFaultLoop("Crash", GetParam(), SyncedOnlyCrashedRun));
}

// The lastread number and the last-MSGID file are rolled back with the
// rest: the next run must neither skip mail nor move it twice.
TEST_P(FaultCrashRun, APowerCutNeverLeavesLastReadAheadOrBehind) {
  Judge(RunFaultLoop("Crash USELASTREAD", GetParam(), SyncedOnlyCrashedRun, true));
}

INSTANTIATE_TEST_SUITE_P(Netmail, FaultCrashRun, ::testing::Values('M', 'S', 'J'),
                         [](const auto& info) { return std::string(1, info.param); });

// Power cuts that leave more than what was synced: unsynced writes in
// part, or names before the data they name.
struct CutCase {
  const char* loop;
  PowerCut cut;
  bool plain_build_only;  // in CI, only in the build whose figures RESULTS.md shows
};

const CutCase kCuts[] = {
    {"CrashTorn", PowerCut::kTorn, true},
    {"CrashLastWrite", PowerCut::kLastWriteOnly, true},
    {"CrashEntriesFirst", PowerCut::kEntriesFirst, false},
};

void PrintTo(const CutCase& c, std::ostream* os) { *os << c.loop; }

class FaultPartialCrashRun : public ::testing::TestWithParam<std::tuple<CutCase, char>> {};

TEST_P(FaultPartialCrashRun, APowerCutLeavingPartOfTheUnsyncedLosesNothing) {
  const auto [c, netmail] = GetParam();
  if (c.plain_build_only && !PlainBuild() && !LongMode()) {
    GTEST_SKIP() << c.loop << " runs in the g++ Release build, or with LARKWAY_FAULT_LONG=1";
  }
  const PowerCut cut = c.cut;
  Judge(RunFaultLoop(c.loop, netmail, [cut](std::int64_t n, const Scenario& s) { return CrashedRun(n, s, cut); }));
}

INSTANTIATE_TEST_SUITE_P(Netmail, FaultPartialCrashRun,
                         ::testing::Combine(::testing::ValuesIn(kCuts), ::testing::Values('M', 'S', 'J')),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).loop) + "_" + std::get<1>(info.param);
                         });

}  // namespace
}  // namespace lw::test
