// The selection rules: which messages the mover acts on, and how.
#pragma once

#include "app/config.h"
#include "app/current_message.h"
#include "log/log_file.h"

namespace lw {

struct RuleVerdict {
  bool found = false;      // a rule matched
  bool kill = false;       // its target is KILL
  bool not_touch = false;  // a NOT_TOUCH name matched first
  std::string target;         // the matching rule's target
};

// Tries the rule kinds in PRIORITY order; the first match decides and
// logs its found-mail line.
RuleVerdict EvaluateRules(const MoverConfig& config, const CurrentMessage& msg, LogFile& log);

}  // namespace lw
