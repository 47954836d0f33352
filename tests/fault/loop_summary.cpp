#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

#include "fault/fault_loop.h"
#include "fault/known_failures.h"

namespace lw::test {

std::string LoopSummary::Line() const {
  return loop + " run, area format " + netmail + ": " + std::to_string(points) + " fault points, " +
         std::to_string(runs_losing) + " losing messages, " + std::to_string(runs_damaging) +
         " leaving a damaged base, " + std::to_string(reruns_failing) + " reruns not finishing the job, " + std::to_string(hangs) + " hung runs, " +
         "at most " + std::to_string(most_copies) + " copies of a message";
}

void Judge(const LoopSummary& summary) {
  std::cout << "[fault] " << summary.Line() << std::endl;
  const std::string key = summary.loop + "/" + summary.netmail;
  const char* strict = std::getenv("LARKWAY_FAULT_STRICT");
  const bool known = kKnownFailingLoops.count(key) != 0 && !(strict != nullptr && *strict == '1');
  std::string details;
  for (const std::string& f : summary.findings) details += f;
  if (summary.Clean()) {
    if (known) std::cout << "[fault] " << key << " finds nothing now: take it out of known_failures.h" << std::endl;
    return;
  }
  if (known) {
    std::cout << details;
    GTEST_SKIP() << key << " is a known failing loop: " << summary.Line();
  }
  ADD_FAILURE() << summary.Line() << "\n" << details;
}

}  // namespace lw::test
