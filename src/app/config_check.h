// Finds the configuration lines the reader skips or may misread, so a
// sysop learns of them before they cost mail.  The reader still treats
// each line as it always has; this only tells.
#pragma once

#include <string_view>
#include <vector>

#include "app/config.h"

namespace lw {

// Records in `problems` what is wrong with configuration line `raw` (its
// line end removed, not yet cut), numbered `line_number` (1-based): a
// byte-order mark, a line that begins with blanks, an unknown key, a key
// without a value, quotes around a value, a yes/no value other than YES or
// NO, a number that is none, an unknown PRIORITY word or LOGCHARSET, a rule
// without a comma, an address that cannot be read, a target without a
// known format letter.  Nothing is recorded for a sound line, a comment
// or a blank line.
void CheckConfigLine(std::string_view raw, int line_number, std::vector<ConfigProblem>& problems);

}  // namespace lw
