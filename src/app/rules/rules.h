// The selection rules: which messages the mover acts on, and how.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/config/config.h"
#include "app/message/current_message.h"
#include "log/log_file.h"

namespace lw {

// What the matching rules ask for one message, gathered over every rule
// that matched (more than one only when a FILTER with CONTINUE goes on).
struct RuleVerdict {
  bool found = false;                              // a rule matched
  bool kill = false;                               // a KILL: the source is deleted, after its copies if any
  bool move = false;                               // the source is deleted once its copies are durable
  bool not_touch = false;                          // a NOT_TOUCH name matched before any rule
  std::vector<std::string> targets;                // the copy destinations, each as first written, in the order named
  std::vector<std::vector<std::string>> programs;  // EXEC: each program and its arguments, in order
  std::vector<std::string> rules;                  // the found-mail text of each matching rule, in order

  bool DeletesSource() const { return kill || move; }
};

// What the FILTER tests look at beyond the header.
struct MessageContent {
  std::uint32_t attributes = 0;  // bits of AttrMask
  std::string_view text;         // the text as stored; read only when a FILTER tests it
};

// Tries the rule kinds (TO, FROM, TOADDR, FROMADDR, SUBJ, FILTER,
// NOT_TOUCH) in PRIORITY order; within a kind the rules in file order.
// The first match decides, unless it is a FILTER with CONTINUE: then every
// further matching rule of any kind adds its copies, deletion and
// programs, up to one without CONTINUE (or a NOT_TOUCH name, which ends the
// evaluation and adds nothing).  A rule line's targets are copies, and
// the source is deleted when MOVE is on; its KILL deletes.  Each match logs
// its found-mail line, naming the rule's pattern, mask or expression.
// Names are compared folded and cut at 36 characters, subjects at 72; `*`
// and `?` in a pattern match any run and any one character.  An address
// list is searched only up to its first plain zone-0 address.
RuleVerdict EvaluateRules(const MoverConfig& config, const CurrentMessage& msg, LogFile& log,
                          const MessageContent& content = {});

}  // namespace lw
