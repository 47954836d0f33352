// Transient answers of the operating system over a whole move run: at its
// N-th fitting system call the run is interrupted (EINTR) or a read or
// write moves half of what was asked, for every N.  The platform must call
// again, so each run must finish the job as a run without the fault does.
#include <gtest/gtest.h>

#include <ostream>
#include <tuple>

#include "fault/fault_loop.h"
#include "fault/transient_syscalls_posix.h"

namespace lw::test {
namespace {

struct TransientCase {
  const char* loop;
  Transient kind;
};

const TransientCase kTransients[] = {
    {"Interrupted", Transient::kInterrupted},
    {"ShortRead", Transient::kShortRead},
    {"ShortWrite", Transient::kShortWrite},
};

void PrintTo(const TransientCase& c, std::ostream* os) { *os << c.loop; }

class FaultTransientRun : public ::testing::TestWithParam<std::tuple<TransientCase, char>> {};

TEST_P(FaultTransientRun, EveryCallAbsorbsItsTransientAnswer) {
  const auto [transient, netmail] = GetParam();
  const Transient kind = transient.kind;
  Judge(RunAbsorbedFaultLoop(transient.loop, netmail, [kind](std::int64_t n, const Scenario& s) {
    return RunMoverInChild(s, [kind, n](int note_fd) -> ChildFault {
      InstallTransient(kind, n, note_fd);
      return {[] { return TransientGiven(); }, {}};
    });
  }));
}

INSTANTIATE_TEST_SUITE_P(Netmail, FaultTransientRun,
                         ::testing::Combine(::testing::ValuesIn(kTransients), ::testing::Values('M', 'S', 'J')),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).loop) + "_" + std::get<1>(info.param);
                         });

}  // namespace
}  // namespace lw::test
