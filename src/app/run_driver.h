// The run from start to exit.
#pragma once

namespace lw {

// Runs the mover with the process's command line; returns the exit code of
// a normal run (every failure ends the process on its own).
int RunMover(int argc, const char* const* argv);

}  // namespace lw
