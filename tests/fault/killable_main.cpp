// larkway with a kill switch: the program's own entry, run on a counting
// platform that raises SIGKILL at file-system call LARKWAY_KILL_AT (1 = the
// first).  Without the variable, or with 0, the run is not interrupted.
// The kill test uses it to stop a real run at every call in turn.
#include <csignal>
#include <cstdlib>

#include "app/run_driver.h"
#include "fault/counting_platform.h"

int main(int argc, char** argv) {
  const char* at = std::getenv("LARKWAY_KILL_AT");
  lw::test::FaultPlan plan;
  plan.fail_at = at == nullptr ? 0 : std::atoll(at);
  plan.on_reached = [](lw::test::CallKind, std::string_view) { std::raise(SIGKILL); };
  lw::test::CountingPlatform counting(lw::platform::NativePlatform(), plan);
  lw::platform::ScopedPlatform guard(&counting);
  return lw::RunMover(argc, argv);
}
