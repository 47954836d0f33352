// Whether one name pattern (`*` any run, `?` any one character) takes in
// every text that a set of other patterns all take in: the question behind
// a rule that an earlier rule leaves nothing to catch.
#pragma once

#include <string_view>
#include <vector>

namespace lw {

enum class Containment {
  kContained,     // every text all of `narrow` match, `wide` matches too
  kNotContained,  // some text all of `narrow` match, `wide` does not
  kUnknown,       // the search gave up within its bound
};

// Decides whether every text over `alphabet` that matches all of `narrow`
// also matches `wide`.  An empty `alphabet` stands for every byte.  The
// patterns are compared as given (the caller folds them).  The answer is
// exact: the search walks the patterns in step over the characters that
// tell them apart, one state per set of pattern positions, and answers
// kUnknown only when more than `max_states` such states are reachable.
Containment PatternsContained(const std::vector<std::string_view>& narrow, std::string_view wide,
                              std::string_view alphabet = {}, std::size_t max_states = 4096);

}  // namespace lw
