// The run from start to exit.
#pragma once

namespace lw {

// Runs the mover with the process's command line (options: --help,
// --version, --check, --dry-run, --quiet) and returns its exit code: 0 for
// a normal run (and for the usage line when called with no argument), 1
// when --check found problems, 2 for a command line that cannot be used,
// 255 for an error it reported, or the number of a run-time fault.  Every failure travels here as a value; every base
// is closed before it returns, and no state is left for a later call.
int RunMover(int argc, const char* const* argv);

}  // namespace lw
