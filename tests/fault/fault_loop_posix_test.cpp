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
      std::function<bool()> reached = install(fds[1]);
      const char* argv[] = {"larkway", s.config_path.c_str(), nullptr};
      RunMover(2, argv);
      const char* end = reached() ? "\nreached" : "\ncompleted";
      if (write(fds[1], end, std::strlen(end)) < 0) _exit(1);
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
  // A run that ended its process on its own met an error, and only the
  // fault makes errors here.
  run.reached = said.size() < 10 || said.compare(said.size() - 10, 10, "\ncompleted") != 0;
  run.fault = said.substr(0, said.find('\n'));
  if (said.find("exception") != std::string::npos) run.fault += " (the run threw an exception)";
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

LoopSummary RunFaultLoop(const std::string& loop, char netmail,
                         const std::function<FaultedRun(std::int64_t n, const Scenario& s)>& faulted_run) {
  LoopSummary summary;
  summary.loop = loop;
  summary.netmail = netmail;
  ScratchDir work, pristine;
  const Scenario s = WriteScenario(work.path(), netmail);
  CopyContents(work.path(), pristine.path());
  std::set<std::string> seen;  // signatures of the findings kept
  for (std::int64_t n = 1; n <= kMaxPoints; ++n) {
    CopyContents(pristine.path(), work.path());
    const FaultedRun run = faulted_run(n, s);
    if (!run.reached) break;
    ++summary.points;
    const Inspection after_fault = Inspect(s);
    const int rerun_exit = Rerun(s);
    const Inspection after_rerun = Inspect(s);
    summary.most_copies = std::max(summary.most_copies, after_rerun.most_copies);
    const bool lost = !after_fault.lost.empty() || !after_rerun.lost.empty();
    const bool damaged = !after_fault.damage.empty() || !after_rerun.damage.empty();
    const bool hung = run.hung || rerun_exit == -1;
    const bool unfinished =
        rerun_exit != 0 || !after_rerun.refused.empty() || !after_rerun.undone.empty() || after_rerun.most_copies > 2;
    summary.runs_losing += lost;
    summary.runs_damaging += damaged;
    summary.reruns_failing += unfinished;
    summary.hangs += hung;
    const std::string signature = Signature(Findings(after_fault, false) + Findings(after_rerun, true));
    if ((lost || damaged || unfinished || hung) && summary.findings.size() < kFindingsKept &&
        seen.insert(signature).second) {
      std::string text = "fault point " + std::to_string(n) + (run.fault.empty() ? "" : " (" + run.fault + ")") +
                         (run.hung ? ": the faulted run hung" : "") + "\n";
      text += "  after the faulted run:\n" + Indented(Findings(after_fault, false));
      text += "  after the rerun (" +
              (rerun_exit == -1 ? std::string("hung") : "exit code " + std::to_string(rerun_exit)) + "):\n" +
              Indented(Findings(after_rerun, true));
      summary.findings.push_back(text);
    }
  }
  return summary;
}

}  // namespace lw::test
