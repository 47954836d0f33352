// Finds the configuration lines the reader skips or may misread, so a
// sysop learns of them before they cost mail.  The reader still treats
// each line as it always has; this only tells.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/config/config.h"

namespace lw {

// Records in `problems` what is wrong with configuration line `whole` (its
// line end removed, not yet cut), numbered `line_number` (1-based): a
// byte-order mark, text past the cut at kMaxConfigLine characters, a line
// that begins with blanks, an unknown key, a key without a value, quotes
// around a value, a yes/no value other than YES or NO, a number that is
// none, a NETMAIL area without a known format letter, an unknown PRIORITY
// word or LOGCHARSET, more PRIORITY words than rule kinds, a rule without
// a target, an address that cannot be read, a target without a known
// format letter, a number out of range; and, as a warning, a target naming
// a base an earlier target of the rule names, a name or subject longer
// than the part compared.  Nothing is recorded for a sound line, a
// comment or a blank line.
void CheckConfigLine(std::string_view whole, int line_number, std::vector<ConfigProblem>& problems);

// The key the reader takes line `raw` for ("MOVE", "TO", ...; "" when it
// takes it for none).
std::string KeyOfLine(std::string_view raw);

// Whether a later line of `key` replaces the value of an earlier one.
bool HoldsOneValue(std::string_view key);

// Records, at the first line of each rule kind whose rules the PRIORITY
// order leaves out, that they never fire.
void CheckRuleKinds(const MoverConfig& config, std::vector<ConfigProblem>& problems);

}  // namespace lw
