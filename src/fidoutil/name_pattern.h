// Name and subject patterns: `*` for any run of characters (also none),
// `?` for exactly one character, every other character for itself.
#pragma once

#include <string_view>

namespace lw {

// True when `text` matches `pattern` as a whole.  Both are compared as
// given (the caller folds and cuts them).  Runs in time proportional to
// the product of the two lengths at worst, never exponential.
bool PatternMatches(std::string_view pattern, std::string_view text);

}  // namespace lw
