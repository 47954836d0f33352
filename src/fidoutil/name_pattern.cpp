#include "fidoutil/name_pattern.h"

namespace lw {

bool PatternMatches(std::string_view pattern, std::string_view text) {
  std::size_t p = 0;
  std::size_t t = 0;
  // The last `*` seen and the text position it was last tried to end at.
  // On a mismatch only that star's run is widened: an earlier star never
  // needs to be revisited, since the later one can absorb whatever the
  // earlier one would have, which keeps the walk free of backtracking.
  std::size_t star = std::string_view::npos;
  std::size_t star_text = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_text = t;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++star_text;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace lw
