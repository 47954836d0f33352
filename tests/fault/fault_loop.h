// The loop shared by the whole-run fault tests: for fault point N = 1, 2,
// ... run the scenario once with the fault at N, check that no message is
// lost and no base damaged, rerun the real program on the same files and
// check that it finishes the job, until a run completes without reaching
// N.  Runs are made in child processes, so that a fault the run does not
// survive (a power cut, a kill, a crash or a hang) ends the child, not the
// loop, and each run starts from a fresh process as a real run does.  The loop and the runs are POSIX only (they live in
// fault_loop_posix_test.cpp); LoopSummary and Judge, shared with the
// format-level loops, build everywhere (loop_summary.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fault/scenario.h"

namespace lw::test {

// How one faulted run ended.
struct FaultedRun {
  bool reached = true;   // false: the run completed without reaching the fault point
  bool hung = false;     // the run did not end within kRunSeconds
  bool crashed = false;  // the run's process died of anything but the injected kill
  // The run completed and the power was then cut (the disk put back to
  // what the run had made durable): the job must be done as it is.
  bool power_cut_after = false;
  std::string fault;  // what failed at the fault point, when known
  int exit_code = -1;  // the run's exit code, -1 when it did not return one
  // A second run that waited on the area lock while this one ran, and
  // must have done the job once this one was killed: its exit code (-1
  // when it hung).  None in the loops without one.
  std::optional<int> waiter_exit;
};

// How long one run may take before it counts as hung and is ended.  A run
// of the scenario takes milliseconds.
inline constexpr unsigned kRunSeconds = 10;

// What a whole loop found.
struct LoopSummary {
  std::string loop;    // "Counted", "Crash", "Kill"
  char netmail = 'M';  // format letter of the netmail area
  std::int64_t points = 0;
  int runs_losing = 0;                // fault points after which a message was lost
  int runs_damaging = 0;              // fault points after which a base was damaged (before or after the rerun)
  int reruns_failing = 0;             // reruns that did not finish the job or refused an area
  int hangs = 0;                      // faulted runs or reruns that did not end
  int crashes = 0;                    // faulted runs or reruns that died on their own
  int runs_misplacing = 0;            // fault points after which a message was where it does not belong
  int most_copies = 0;                // the most copies of one message in one area
  bool bounded = false;               // the loop stopped at its bound, not at a run that completed
  std::int64_t stride = 1;            // the loop tried every stride-th fault point (see PointsTried)
  std::vector<std::string> findings;  // the first findings, one text per fault point

  bool Clean() const {
    return runs_losing + runs_damaging + reruns_failing + hangs + crashes + runs_misplacing == 0 && most_copies <= 1 &&
           !bounded;
  }
  std::string Line() const;  // the one-line result
};

// Which fault points a whole-run loop tries: n with n % stride == offset.
// Every point (stride 1) in the Release build and in the long mode; in the
// builds that only repeat its runs (the sanitizers, ten times slower, and
// clang; the build's LARKWAY_FAULT_STRIDE) one in the build's stride, from
// an offset that differs between the loops of one netmail format, so that
// the loops of a format together still fault every call of its run.
struct PointsTried {
  std::int64_t stride = 1;
  std::int64_t offset = 0;
  bool Tries(std::int64_t n) const { return n % stride == offset; }
};
PointsTried PointsOf(const std::string& loop, char netmail);

using FaultedRunOf = std::function<FaultedRun(std::int64_t n, const Scenario& s)>;

// What a loop runs over: the scenario `write` puts into an empty folder,
// and the fault points tried.
struct LoopPlan {
  std::function<Scenario(const std::string& root)> write;
  PointsTried points;
};

// Runs `faulted_run(n, s)` for each n = 1, 2, ... the plan tries, over a
// fresh copy of the plan's scenario, until it reports an unreached fault
// point (or a bound of many thousand points is passed), checking after
// each as described above.
LoopSummary RunFaultLoop(const std::string& loop, char netmail, const FaultedRunOf& faulted_run,
                         const LoopPlan& plan);
// The same over the small scenario (netmail format `netmail`, USELASTREAD
// when `use_lastread`), trying the points PointsOf gives.
LoopSummary RunFaultLoop(const std::string& loop, char netmail, const FaultedRunOf& faulted_run,
                         bool use_lastread = false);

// Runs `faulted_run(n, s)` for n = 1, 2, ... as RunFaultLoop does, for a
// fault the program must absorb (a system call interrupted, or moving fewer
// bytes than asked): with no rerun, each faulted run must itself exit 0
// with the job done exactly as a run without the fault does it.  Its
// failures count as reruns not finishing the job.
LoopSummary RunAbsorbedFaultLoop(const std::string& loop, char netmail, const FaultedRunOf& faulted_run);

// Runs lw::RunMover on the scenario's configuration in a child process,
// after `install` (run in the child) put its platform in place.  `install`
// gets a descriptor where the child may write a note on its fault; it
// returns what the child asks after a run that returned: whether the fault
// point was reached, and (optional) what to do to the disk when it was not
// (a power cut after the completed run).
struct ChildFault {
  std::function<bool()> reached;
  std::function<void()> after_completion;
};
using ChildPlatform = std::function<ChildFault(int note_fd)>;
FaultedRun RunMoverInChild(const Scenario& s, const ChildPlatform& install);

// Runs the real program (LARKWAY_BIN, as the end-to-end tests do) on the
// scenario's configuration; its exit code, or -1 when it hung and was ended.
int Rerun(const Scenario& s);

// Whether the long loops run too (LARKWAY_FAULT_LONG=1): loops too long for
// CI, or that still have open findings; tests/fault/RESULTS.md lists them.
bool LongMode();

// Whether this is the g++ build without sanitizers (the Release build whose
// figures tests/fault/RESULTS.md shows).  Loops that judge only the order of
// writes, which the compiler and the sanitizers do not change, run in CI in
// this build alone and elsewhere in the long mode, to keep CI within its time.
bool PlainBuild();

// Prints the loop's summary line, and fails the test on any finding.
void Judge(const LoopSummary& summary);

}  // namespace lw::test
