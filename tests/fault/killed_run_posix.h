// Runs the real program (larkway_killable) on a scenario with SIGKILL at
// its N-th file-system call: the kill half of the fault loops, shared by
// the loop that judges the killed run, the one that judges the rerun and
// the one where a second run waits on the killed run's area lock.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "fault/fault_loop.h"

namespace lw::test {

namespace killed_run_detail {

namespace fs = std::filesystem;

// Starts `program` on the scenario's configuration with its output
// dropped; `kill_at` > 0 runs the killable program's kill switch there,
// stopping first when `stop_first`.
inline pid_t Start(const char* program, const Scenario& s, std::int64_t kill_at, bool stop_first) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    if (kill_at > 0) setenv("LARKWAY_KILL_AT", std::to_string(kill_at).c_str(), 1);
    if (stop_first) setenv("LARKWAY_STOP_AT_KILL", "1", 1);
    if (s.clock_jump_at > 0) {
      setenv("LARKWAY_CLOCK_JUMP_IN", s.clock_jump_in.c_str(), 1);
      setenv("LARKWAY_CLOCK_JUMP_AT", std::to_string(s.clock_jump_at).c_str(), 1);
    }
    alarm(kRunSeconds);  // kept across exec: a hung program is ended
    execl(program, program, s.config_path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// How the killable run ended, by its wait status.
inline FaultedRun Ended(int status) {
  FaultedRun run;
  run.hung = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
  run.reached = run.hung || (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  // Any other signal is the program's own crash, not the injected kill.
  run.crashed = WIFSIGNALED(status) && !run.reached;
  if (run.crashed) run.fault = "the program died of signal " + std::to_string(WTERMSIG(status));
  return run;
}

// The file the area lock of the netmail area `area_id` is taken on: its
// folder (*.MSG), its data file (Squish) or its header file (JAM).
inline std::string LockedFile(const std::string& area_id) {
  const std::string path = area_id.substr(1);
  return area_id[0] == 'M' ? path : path + (area_id[0] == 'S' ? ".sqd" : ".jhr");
}

// Whether the process `pid` has `file` open.
inline bool HoldsOpen(pid_t pid, const fs::path& file) {
  std::error_code ec;
  for (fs::directory_iterator fd("/proc/" + std::to_string(pid) + "/fd", ec), end; !ec && fd != end;
       fd.increment(ec)) {
    std::error_code link_ec;
    if (fs::read_symlink(fd->path(), link_ec) == file) return true;
  }
  return false;
}

// The exit code of a waited-for program, -1 when it hung.
inline int ExitCode(int status) {
  if (WIFSIGNALED(status)) return WTERMSIG(status) == SIGALRM ? -1 : 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

inline const char* RealProgram() {
  const char* env = std::getenv("LARKWAY_BIN");
  return env != nullptr && *env != 0 ? env : LARKWAY_BIN;
}

}  // namespace killed_run_detail

// Runs the killable program with the kill at call `n`; whether the kill
// was reached, or the run hung (ended after kRunSeconds).
inline FaultedRun KilledRun(std::int64_t n, const Scenario& s) {
  using namespace killed_run_detail;
  const pid_t pid = Start(LARKWAY_KILLABLE_BIN, s, n, false);
  int status = 0;
  waitpid(pid, &status, 0);
  return Ended(status);
}

// Runs the killable program up to call `n`, where it stops; then starts
// the real program on the same configuration, and once that one waits on
// the area lock (or has ended) kills the first.  The second must then
// take the lock and finish: its exit code is the run's `waiter_exit`.
inline FaultedRun KilledRunWithWaiter(std::int64_t n, const Scenario& s) {
  using namespace killed_run_detail;
  namespace fs = std::filesystem;
  const pid_t first = Start(LARKWAY_KILLABLE_BIN, s, n, true);
  int status = 0;
  waitpid(first, &status, WUNTRACED);
  if (!WIFSTOPPED(status)) return Ended(status);  // it ended before call n
  const pid_t waiter = Start(RealProgram(), s, 0, false);
  std::error_code ec;
  const fs::path lock = fs::canonical(LockedFile(s.sources.front()), ec);
  int waiter_status = 0;
  bool waiter_ended = false;
  // The second run opens the locked file just before it waits on it.
  while (!HoldsOpen(waiter, lock)) {
    if (waitpid(waiter, &waiter_status, WNOHANG) == waiter) {
      waiter_ended = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(first, SIGKILL);
  waitpid(first, &status, 0);
  if (!waiter_ended) waitpid(waiter, &waiter_status, 0);
  FaultedRun run = Ended(status);
  run.waiter_exit = ExitCode(waiter_status);
  return run;
}

}  // namespace lw::test
