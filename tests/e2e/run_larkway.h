// Runs the larkway program: build/larkway, or the program named by the
// environment variable LARKWAY_BIN started through LARKWAY_LAUNCHER (for
// instance the Win32 build under Wine).
#pragma once

#include <string>
#include <vector>

namespace lw::test {

struct RunResult {
  int exit_code = -1;
  std::string out;  // standard output, with CR LF line ends turned into LF
  std::string err;  // standard error, the same way
  // The program was ended by a signal (exit_code is then 128 + its number)
  // rather than exiting.
  bool ended_by_signal = false;
};

RunResult RunLarkway(const std::vector<std::string>& args, const std::string& cwd);
// The same, with the environment variables `env` ("NAME=value") added to
// (or replacing those of) the test's own.
RunResult RunLarkway(const std::vector<std::string>& args, const std::string& cwd, const std::vector<std::string>& env);
// The same with `env` as the whole environment (as `env -i` starts it).
RunResult RunLarkwayInOnly(const std::vector<std::string>& args, const std::string& cwd,
                           const std::vector<std::string>& env);

// The same with another build of the program (such as the test build
// with a kill switch), started directly.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                     const std::vector<std::string>& env);

// True when the program under test is the Win32 build.
bool TestingWin32Build();

}  // namespace lw::test
