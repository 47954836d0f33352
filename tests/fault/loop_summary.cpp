#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "fault/fault_loop.h"

namespace lw::test {

std::string LoopSummary::Line() const {
  return loop + " run, area format " + netmail + ": " + std::to_string(points) + " fault points, " +
         std::to_string(runs_losing) + " losing messages, " + std::to_string(runs_damaging) +
         " leaving a damaged base, " + std::to_string(reruns_failing) + " reruns not finishing the job, " +
         std::to_string(hangs) + " hung runs, " + std::to_string(crashes) + " crashed runs, " +
         std::to_string(runs_misplacing) + " leaving a message where it does not belong, at most " +
         std::to_string(most_copies) + " copies of a message" + (bounded ? ", stopped at its bound" : "") +
         (stride > 1 ? " (one point in " + std::to_string(stride) + " tried)" : "");
}

namespace {

// Adds the loop's figures to the file LARKWAY_FAULT_RESULTS names, one
// tab-separated line a loop, from which scripts/fault-results.sh writes
// RESULTS.md.  Several test processes append at once: each line goes in
// one write to a file opened for appending.
void RecordResults(const LoopSummary& s) {
  const char* file = std::getenv("LARKWAY_FAULT_RESULTS");
  if (file == nullptr || *file == 0) return;
  std::ostringstream line;
  line << s.loop << '\t' << s.netmail << '\t' << s.points << '\t' << s.runs_losing << '\t' << s.runs_damaging
       << '\t' << s.reruns_failing << '\t' << s.hangs << '\t' << s.crashes << '\t' << s.runs_misplacing << '\t'
       << s.most_copies << '\n';
  std::ofstream out(file, std::ios::app);
  out << line.str() << std::flush;
}

}  // namespace

bool LongMode() {
  const char* value = std::getenv("LARKWAY_FAULT_LONG");
  return value != nullptr && std::string(value) == "1";
}

PointsTried PointsOf(const std::string& loop, char netmail) {
#if defined(LARKWAY_FAULT_STRIDE) && LARKWAY_FAULT_STRIDE > 1
  if (LongMode()) return {};
  // The loops that number the same calls of the same run get offsets 0, 1,
  // 2, 0, 1 (with a stride of 3 they fault every call together); the others
  // (USELASTREAD, transient answers) try one point in the stride each.
  static const std::map<std::string, std::int64_t> kOffsets = {
      {"Counted", 0}, {"Persistent", 1}, {"Crash", 2}, {"CrashEntriesFirst", 0}, {"Kill", 1},
      {"Crash USELASTREAD", 0}, {"Kill USELASTREAD", 1}, {"Interrupted", 0}, {"ShortRead", 1}, {"ShortWrite", 2},
  };
  const auto at = kOffsets.find(loop);
  // Each format shifts the offsets by one, so that no call number is left
  // out by a loop in every format.
  const std::int64_t format = netmail == 'M' ? 0 : netmail == 'S' ? 1 : 2;
  return {LARKWAY_FAULT_STRIDE, ((at == kOffsets.end() ? 0 : at->second) + format) % LARKWAY_FAULT_STRIDE};
#else
  (void)loop;
  (void)netmail;
  return {};
#endif
}

bool PlainBuild() {
#if defined(__clang__) || defined(__SANITIZE_ADDRESS__)
  return false;
#else
  return true;
#endif
}

void Judge(const LoopSummary& summary) {
  std::cout << "[fault] " << summary.Line() << std::endl;
  RecordResults(summary);
  if (summary.Clean()) return;
  std::string details;
  for (const std::string& f : summary.findings) details += f;
  ADD_FAILURE() << summary.Line() << "\n" << details;
}

}  // namespace lw::test
