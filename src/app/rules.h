// The selection rules: which messages the mover acts on, and how.
#pragma once

#include <string>
#include <vector>

#include "app/config.h"
#include "app/current_message.h"
#include "log/log_file.h"

namespace lw {

struct RuleVerdict {
  bool found = false;                // a rule matched
  bool kill = false;                 // its target is KILL
  bool not_touch = false;            // a NOT_TOUCH name matched first
  std::vector<std::string> targets;  // the matching rule's targets, in the order written
};

// Tries the rule kinds (TO, FROM, TOADDR, FROMADDR, SUBJ, NOT_TOUCH) in
// PRIORITY order; within a kind the rules in file order.  The first match
// decides and logs its found-mail line, naming the rule's pattern or mask.
// Names are compared folded and cut at 36 characters, subjects at 72; `*`
// and `?` in a pattern match any run and any one character.  An address
// list is searched only up to its first plain zone-0 address.
RuleVerdict EvaluateRules(const MoverConfig& config, const CurrentMessage& msg, LogFile& log);

}  // namespace lw
