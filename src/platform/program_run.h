// Running another program for a rule: without a shell, with a text on its
// standard input and a few variables added to its environment.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lw {

struct ProgramOutcome {
  enum class Kind {
    kExited,      // it ended by itself; `code` is its exit code
    kSignalled,   // a signal ended it; `code` is the signal's number
    kTimedOut,    // it ran past its time and was killed
    kNotStarted,  // it could not be started; `reason` says why
  };
  Kind kind = Kind::kNotStarted;
  int code = 0;
  std::string reason;  // the system's words, for kNotStarted

  bool Succeeded() const { return kind == Kind::kExited && code == 0; }
};

using EnvironmentVariable = std::pair<std::string, std::string>;

// Runs the program `words[0]` with `words` as its argument list (looked up
// in PATH when the name holds no folder), taken as they are: no shell, no
// expansion.  Its environment is ours with `environment` added (replacing a
// variable of the same name); its standard input is `input` and then the
// end of the file, its standard output and error are ours.  A program that
// does not read all of `input` is no fault.  Waits for it at most
// `timeout_seconds`, then kills it.  Linux: fork and exec; Win32:
// CreateProcess, with each word quoted as the C runtime reads it back.
ProgramOutcome RunProgram(const std::vector<std::string>& words, const std::vector<EnvironmentVariable>& environment,
                          std::string_view input, int timeout_seconds);

// The outcome in words for a warning: "exit code 3", "signal 9",
// "no end within 60 s", or the reason it did not start.
std::string DescribeOutcome(const ProgramOutcome& outcome, int timeout_seconds);

}  // namespace lw
