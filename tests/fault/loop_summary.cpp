#include <gtest/gtest.h>

#include <iostream>

#include "fault/fault_loop.h"

namespace lw::test {

std::string LoopSummary::Line() const {
  return loop + " run, area format " + netmail + ": " + std::to_string(points) + " fault points, " +
         std::to_string(runs_losing) + " losing messages, " + std::to_string(runs_damaging) +
         " leaving a damaged base, " + std::to_string(reruns_failing) + " reruns not finishing the job, " +
         std::to_string(hangs) + " hung runs, " + "at most " + std::to_string(most_copies) + " copies of a message";
}

void Judge(const LoopSummary& summary) {
  std::cout << "[fault] " << summary.Line() << std::endl;
  if (summary.Clean()) return;
  std::string details;
  for (const std::string& f : summary.findings) details += f;
  ADD_FAILURE() << summary.Line() << "\n" << details;
}

}  // namespace lw::test
