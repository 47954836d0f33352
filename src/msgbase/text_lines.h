// Where a line of message text ends.  The one rule every reader of message
// text follows: a line ends at a CR or a NUL (or at the end of the text),
// and a LF right after that terminator belongs to the line, so text
// written with CR LF reads as the same lines as text written with CR.
#pragma once

#include <cstddef>
#include <string_view>

namespace lw {

struct LineBounds {
  std::size_t end = 0;   // one past the line's last character (its terminator, or the text's end)
  std::size_t next = 0;  // where the next line starts
};

// The line that starts at `from` (from <= text.size()).
inline LineBounds FindLineEnd(std::string_view text, std::size_t from) {
  std::size_t end = from;
  while (end < text.size() && text[end] != '\r' && text[end] != '\0') ++end;
  std::size_t next = end < text.size() ? end + 1 : end;
  if (end < text.size() && next < text.size() && text[next] == '\n') ++next;
  return {end, next};
}

}  // namespace lw
