// Reading the value of a rule line: a name, subject or address (plain or
// with wildcards) and the targets that follow it.
#pragma once

#include <string>
#include <string_view>

#include "app/config/config.h"

namespace lw {

// The value of a rule line after its key, twice: folded to upper case, and
// with the case the configuration keeps for paths (the targets are taken
// from that one).  Both have the same length.
struct RuleText {
  std::string_view folded;
  std::string_view paths;
};

// Reads "pattern, target[, target...]" of a TO, FROM or SUBJ line into
// `rule`: the pattern is the text before the first comma, blanks trimmed,
// cut at `cut` characters.  False, with `problem` saying why, when the
// rule must be skipped (see ReadTargets).
bool ReadNameRule(const RuleText& text, std::size_t cut, NameRule& rule, std::string& problem);

// Reads "address, target[, target...]" of a TOADDR or FROMADDR line.  An
// address without `*` is read as it always was (an unreadable one is
// 0:0/0.0, which ends the search of its list); one with `*` is a mask.
// False, with `problem` saying why, for a mask that cannot be read or
// targets that cannot be used.
bool ReadAddressRule(const RuleText& text, AddressRule& rule, std::string& problem);

// Splits the text after a rule's first comma into its targets, blanks
// trimmed.  A single target is taken as written (even when empty).  Of
// several targets that name one base (AreaIdentity), the first is kept.
// False, with `problem` saying why, for several targets of which one is
// empty or KILL (a message cannot be both copied and killed).
bool ReadTargets(std::string_view text, std::vector<std::string>& targets, std::string& problem);

}  // namespace lw
