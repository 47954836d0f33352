// Where a line of message text ends.  The one rule every reader of message
// text follows: a line ends at a CR or a NUL (or at the end of the text),
// and a LF right after that terminator belongs to the line, so text
// written with CR LF reads as the same lines as text written with CR.
#pragma once

#include <cstddef>
#include <string_view>

namespace lw {

// True for a character that ends a line: CR or NUL.
constexpr bool IsLineTerminator(char c) { return c == '\r' || c == '\0'; }

// True for a character that, right after a line's terminator, still
// belongs to that line: the LF of a CR LF pair.
constexpr bool FollowsTerminator(char c) { return c == '\n'; }

struct LineBounds {
  std::size_t end = 0;   // one past the line's last character (its terminator, or the text's end)
  std::size_t next = 0;  // where the next line starts
};

// The line that starts at `from` (from <= text.size()).
inline LineBounds FindLineEnd(std::string_view text, std::size_t from) {
  std::size_t end = from;
  while (end < text.size() && !IsLineTerminator(text[end])) ++end;
  if (end == text.size()) return {end, end};
  std::size_t next = end + 1;
  if (next < text.size() && FollowsTerminator(text[next])) ++next;
  return {end, next};
}

}  // namespace lw
