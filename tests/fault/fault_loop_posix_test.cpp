// The whole-run fault loop (fault_loop.h) and its child-process runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "app/run_driver.h"
#include "fault/fault_loop.h"
#include "fault/scratch_dir.h"

namespace lw::test {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kMaxPoints = 20000;  // a bound on a loop that never completes
constexpr std::size_t kFindingsKept = 12;

// Replaces the contents of `to` by a copy of the contents of `from`.
void CopyContents(const std::string& from, const std::string& to) {
  for (const auto& e : fs::directory_iterator(to)) fs::remove_all(e.path());
  fs::copy(from, to, fs::copy_options::recursive);
}

std::string Indented(const std::string& text) {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    out += "    " + text.substr(pos, end - pos) + "\n";
    pos = end + 1;
  }
  return out;
}

// What a finding says without its numbers, so that the same fault seen
// at many points is kept once.
std::string Signature(const std::string& findings) {
  std::string out;
  for (char c : findings) {
    if (c < '0' || c > '9') out += c;
  }
  return out;
}

// A run that completed, then lost the power: everything it did must have
// been durable, so the job is done as the disk now holds it.
void JudgeCompletedRun(const Scenario& s, LoopSummary& summary) {
  const Inspection after = Inspect(s);
  const std::string findings = Findings(after, true);
  if (findings.empty() && after.most_copies <= 1) return;
  ++summary.reruns_failing;
  summary.findings.push_back("a power cut right after the completed run (most copies " +
                             std::to_string(after.most_copies) + "):\n" + Indented(findings));
}

// What a run that meets no fault leaves: every copy must keep the same
// dates, attributes and kludges.
Inspection ReferenceRun(const Scenario& s, LoopSummary& summary) {
  const int reference_exit = Rerun(s);
  Inspection reference = Inspect(s);
  if (reference_exit != 0 || !Findings(reference, true).empty() || reference.most_copies > 1) {
    summary.findings.push_back("a run without a fault (exit code " + std::to_string(reference_exit) + "):\n" +
                               Indented(Findings(reference, true)));
    ++summary.reruns_failing;
  }
  return reference;
}

}  // namespace

FaultedRun RunMoverInChild(const Scenario& s, const ChildPlatform& install) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    alarm(kRunSeconds);
    // Whatever happens, the child never returns into the test program.
    try {
      ChildFault fault = install(fds[1]);
      const char* argv[] = {"larkway", s.config_path.c_str(), nullptr};
      const int exit_code = RunMover(2, argv);
      const bool reached = fault.reached();
      const char* end = reached                  ? "\nreached"
                        : fault.after_completion ? (fault.after_completion(), "\ncompleted after a power cut")
                                                 : "\ncompleted";
      if (write(fds[1], end, std::strlen(end)) < 0) _exit(1);
      _exit(exit_code & 0xff);
    } catch (...) {
      const char said[] = "\nthe run threw an exception";
      if (write(fds[1], said, sizeof said - 1) < 0) _exit(1);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string said;
  char buf[512];
  ssize_t got;
  while ((got = read(fds[0], buf, sizeof buf)) > 0) said.append(buf, static_cast<std::size_t>(got));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  FaultedRun run;
  run.hung = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
  if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  const auto ends_with = [&said](const std::string& end) {
    return said.size() >= end.size() && said.compare(said.size() - end.size(), end.size(), end) == 0;
  };
  run.reached = !ends_with("\ncompleted") && !ends_with("\ncompleted after a power cut");
  run.power_cut_after = ends_with("\ncompleted after a power cut");
  // The run returns whatever the fault did to it; a process that died
  // before saying how it ended crashed.
  run.crashed = !run.hung && !ends_with("\nreached") && !run.power_cut_after && !ends_with("\ncompleted");
  run.fault = said.substr(0, said.find('\n'));
  if (said.find("exception") != std::string::npos) run.fault += " (the run threw an exception)";
  if (run.crashed) run.fault += " (the run's process died: status " + std::to_string(status) + ")";
  return run;
}

int Rerun(const Scenario& s) {
  const char* env = std::getenv("LARKWAY_BIN");
  const std::string program = env != nullptr && *env != 0 ? env : LARKWAY_BIN;
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    alarm(kRunSeconds);  // kept across exec: a hung program is ended
    execl(program.c_str(), program.c_str(), s.config_path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return WTERMSIG(status) == SIGALRM ? -1 : 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

LoopSummary RunFaultLoop(const std::string& loop, char netmail, const FaultedRunOf& faulted_run,
                         bool use_lastread) {
  return RunFaultLoop(
      loop, netmail, faulted_run,
      {[netmail, use_lastread](const std::string& root) { return WriteScenario(root, netmail, use_lastread); },
       PointsOf(loop, netmail)});
}

LoopSummary RunFaultLoop(const std::string& loop, char netmail, const FaultedRunOf& faulted_run,
                         const LoopPlan& plan) {
  LoopSummary summary;
  summary.loop = loop;
  summary.netmail = netmail;
  ScratchDir work, pristine;
  const Scenario s = plan.write(work.path());
  CopyContents(work.path(), pristine.path());
  const Inspection reference = ReferenceRun(s, summary);
  std::set<std::string> seen;  // signatures of the findings kept
  const PointsTried tried = plan.points;
  summary.stride = tried.stride;
  summary.bounded = true;
  for (std::int64_t n = 1; n <= kMaxPoints; ++n) {
    if (!tried.Tries(n)) continue;
    CopyContents(pristine.path(), work.path());
    const FaultedRun run = faulted_run(n, s);
    if (!run.reached) {
      summary.bounded = false;
      if (run.power_cut_after) JudgeCompletedRun(s, summary);
      break;
    }
    ++summary.points;
    const Inspection after_fault = Inspect(s);
    const int rerun_exit = Rerun(s);
    const Inspection after_rerun = Inspect(s);
    const std::vector<std::string> changed = ChangedFrom(reference, after_rerun);
    summary.most_copies = std::max({summary.most_copies, after_fault.most_copies, after_rerun.most_copies});
    const bool lost = !after_fault.lost.empty() || !after_rerun.lost.empty();
    const bool damaged = !after_fault.damage.empty() || !after_rerun.damage.empty();
    const bool misplaced = !after_fault.misplaced.empty() || !after_rerun.misplaced.empty();
    const bool hung = run.hung || rerun_exit == -1;
    const bool crashed = run.crashed || rerun_exit > 128;
    // A run that waited on the lock must have done the job before the rerun.
    const bool waiter_failed =
        run.waiter_exit && (*run.waiter_exit != 0 || !after_fault.refused.empty() || !after_fault.undone.empty());
    const bool unfinished = rerun_exit != 0 || !after_rerun.refused.empty() || !after_rerun.undone.empty() ||
                            after_rerun.most_copies > 1 || after_fault.most_copies > 1 || !changed.empty() ||
                            waiter_failed;
    summary.runs_losing += lost;
    summary.runs_damaging += damaged;
    summary.runs_misplacing += misplaced;
    summary.reruns_failing += unfinished;
    summary.hangs += hung;
    summary.crashes += crashed;
    std::string changes;
    for (const std::string& c : changed) changes += "changed: " + c + "\n";
    const std::string signature = Signature(Findings(after_fault, false) + Findings(after_rerun, true) + changes);
    if ((lost || damaged || misplaced || unfinished || hung || crashed) && summary.findings.size() < kFindingsKept &&
        seen.insert(signature).second) {
      std::string text = "fault point " + std::to_string(n) + (run.fault.empty() ? "" : " (" + run.fault + ")") +
                         (run.hung ? ": the faulted run hung" : "") + "\n";
      text += "  after the faulted run" +
              (run.waiter_exit ? " and the run waiting on it (exit code " + std::to_string(*run.waiter_exit) + ")"
                               : std::string()) +
              " (most copies " + std::to_string(after_fault.most_copies) + "):\n" +
              Indented(Findings(after_fault, run.waiter_exit.has_value()));
      text += "  after the rerun (" +
              (rerun_exit == -1 ? std::string("hung") : "exit code " + std::to_string(rerun_exit)) +
              ", most copies " + std::to_string(after_rerun.most_copies) + "):\n" +
              Indented(Findings(after_rerun, true) + changes);
      summary.findings.push_back(text);
    }
  }
  if (summary.bounded) summary.findings.push_back("the loop reached its bound of " + std::to_string(kMaxPoints) +
                                                  " fault points without a run that completed");
  return summary;
}

LoopSummary RunAbsorbedFaultLoop(const std::string& loop, char netmail, const FaultedRunOf& faulted_run) {
  LoopSummary summary;
  summary.loop = loop;
  summary.netmail = netmail;
  ScratchDir work, pristine;
  const Scenario s = WriteScenario(work.path(), netmail);
  CopyContents(work.path(), pristine.path());
  const Inspection reference = ReferenceRun(s, summary);
  std::set<std::string> seen;  // signatures of the findings kept
  const PointsTried tried = PointsOf(loop, netmail);
  summary.stride = tried.stride;
  summary.bounded = true;
  for (std::int64_t n = 1; n <= kMaxPoints; ++n) {
    if (!tried.Tries(n)) continue;
    CopyContents(pristine.path(), work.path());
    const FaultedRun run = faulted_run(n, s);
    if (!run.reached && !run.hung && !run.crashed) {
      summary.bounded = false;
      break;
    }
    ++summary.points;
    const Inspection after = Inspect(s);
    std::string findings = Findings(after, true);
    for (const std::string& c : ChangedFrom(reference, after)) findings += "changed: " + c + "\n";
    const bool unfinished = run.exit_code != 0 || !findings.empty() || after.most_copies > 1;
    summary.most_copies = std::max(summary.most_copies, after.most_copies);
    summary.runs_losing += !after.lost.empty();
    summary.runs_damaging += !after.damage.empty();
    summary.runs_misplacing += !after.misplaced.empty();
    summary.reruns_failing += unfinished;
    summary.hangs += run.hung;
    summary.crashes += run.crashed;
    if ((unfinished || run.hung || run.crashed) && summary.findings.size() < kFindingsKept &&
        seen.insert(Signature(run.fault + findings)).second) {
      summary.findings.push_back("fault point " + std::to_string(n) + " (" + run.fault + "): exit code " +
                                 std::to_string(run.exit_code) + (run.hung ? ", hung" : "") + "\n" +
                                 Indented(findings));
    }
  }
  if (summary.bounded) summary.findings.push_back("the loop reached its bound of " + std::to_string(kMaxPoints) +
                                                  " fault points without a run that completed");
  return summary;
}

}  // namespace lw::test
