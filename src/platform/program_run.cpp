#include "platform/program_run.h"

namespace lw {

std::string DescribeOutcome(const ProgramOutcome& outcome, int timeout_seconds) {
  switch (outcome.kind) {
    case ProgramOutcome::Kind::kExited: return "exit code " + std::to_string(outcome.code);
    case ProgramOutcome::Kind::kSignalled: return "signal " + std::to_string(outcome.code);
    case ProgramOutcome::Kind::kTimedOut: return "no end within " + std::to_string(timeout_seconds) + " s";
    case ProgramOutcome::Kind::kNotStarted: break;
  }
  return "not started: " + outcome.reason;
}

}  // namespace lw
