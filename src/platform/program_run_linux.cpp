#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/program_run.h"

extern char** environ;

namespace lw {

namespace {

std::int64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Ours with `added` laid over it, as NAME=value texts.
std::vector<std::string> MergedEnvironment(const std::vector<EnvironmentVariable>& added) {
  std::vector<std::string> merged;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    std::string_view entry(*e);
    std::string_view name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const EnvironmentVariable& v : added) replaced = replaced || v.first == name;
    if (!replaced) merged.emplace_back(entry);
  }
  for (const EnvironmentVariable& v : added) merged.push_back(v.first + "=" + v.second);
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (std::string& t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Writes `input` to the non-blocking `fd` until it is all written, the
// reader closed its end, or the deadline passed.  SIGPIPE is held back
// meanwhile, so a reader that goes away is an EPIPE, not the end of us.
void FeedInput(int fd, std::string_view input, std::int64_t deadline) {
  sigset_t pipe_signal;
  sigset_t before;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  sigprocmask(SIG_BLOCK, &pipe_signal, &before);
  bool broken = false;
  std::size_t at = 0;
  while (at < input.size()) {
    const std::int64_t left = deadline - MonotonicMs();
    if (left <= 0) break;
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, static_cast<int>(std::min<std::int64_t>(left, 1000))) < 0 && errno != EINTR) break;
    ssize_t n = write(fd, input.data() + at, input.size() - at);
    if (n > 0) {
      at += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      broken = errno == EPIPE;
      break;
    }
  }
  if (broken) {
    // Takes the pending SIGPIPE before the mask is put back.
    const timespec now{0, 0};
    while (sigtimedwait(&pipe_signal, nullptr, &now) == SIGPIPE) {
    }
  }
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

// Waits for `pid` until the deadline; kills it after that.
ProgramOutcome AwaitEnd(pid_t pid, std::int64_t deadline) {
  ProgramOutcome outcome;
  int status = 0;
  while (true) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) {
      outcome.reason = std::strerror(errno);
      return outcome;
    }
    if (MonotonicMs() >= deadline) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      outcome.kind = ProgramOutcome::Kind::kTimedOut;
      return outcome;
    }
    const timespec pause{0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  if (WIFSIGNALED(status)) {
    outcome.kind = ProgramOutcome::Kind::kSignalled;
    outcome.code = WTERMSIG(status);
  } else {
    outcome.kind = ProgramOutcome::Kind::kExited;
    outcome.code = WEXITSTATUS(status);
  }
  return outcome;
}

}  // namespace

ProgramOutcome RunProgram(const std::vector<std::string>& words, const std::vector<EnvironmentVariable>& environment,
                          std::string_view input, int timeout_seconds) {
  ProgramOutcome outcome;
  if (words.empty()) {
    outcome.reason = "no program named";
    return outcome;
  }
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    outcome.reason = std::strerror(errno);
    return outcome;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
  std::vector<std::string> arguments = words;
  std::vector<std::string> variables = MergedEnvironment(environment);
  std::vector<char*> argv = Pointers(arguments);
  std::vector<char*> envp = Pointers(variables);
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(ends[0]);
  if (failed != 0) {
    close(ends[1]);
    outcome.reason = std::strerror(failed);
    return outcome;
  }
  const std::int64_t deadline = MonotonicMs() + static_cast<std::int64_t>(timeout_seconds) * 1000;
  fcntl(ends[1], F_SETFL, fcntl(ends[1], F_GETFL) | O_NONBLOCK);
  FeedInput(ends[1], input, deadline);
  close(ends[1]);
  return AwaitEnd(pid, deadline);
}

}  // namespace lw
