// Runs the real program (larkway_killable) on a scenario with SIGKILL at
// its N-th file-system call: the kill half of the fault loops, shared by
// the loop that judges the killed run and the one that judges the rerun.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fault/fault_loop.h"

namespace lw::test {

// Runs the killable program with the kill at call `n`; whether the kill
// was reached, or the run hung (ended after kRunSeconds).
inline FaultedRun KilledRun(std::int64_t n, const Scenario& s) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    setenv("LARKWAY_KILL_AT", std::to_string(n).c_str(), 1);
    alarm(kRunSeconds);  // kept across exec: a hung program is ended
    execl(LARKWAY_KILLABLE_BIN, LARKWAY_KILLABLE_BIN, s.config_path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  FaultedRun run;
  run.hung = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
  run.reached = run.hung || (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  // Any other signal is the program's own crash, not the injected kill.
  run.crashed = WIFSIGNALED(status) && !run.reached;
  if (run.crashed) run.fault = "the program died of signal " + std::to_string(WTERMSIG(status));
  return run;
}

}  // namespace lw::test
