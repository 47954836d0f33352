// Where a line of message text ends.  The one rule every reader of message
// text follows: a line ends at a CR or a NUL (or at the end of the text),
// and a LF right after that terminator belongs to the line, so text
// written with CR LF reads as the same lines as text written with CR.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
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
  // Both terminators are found with the library's byte search, a window at
  // a time: a text whose lines all end in one of them is then not searched
  // to its end for the other at every line.
  constexpr std::size_t kWindow = 256;
  std::size_t end = from;
  while (end < text.size()) {
    const char* at = text.data() + end;
    const std::size_t window = std::min(text.size() - end, kWindow);
    const void* cr = std::memchr(at, '\r', window);
    const std::size_t before_cr = cr == nullptr ? window : static_cast<std::size_t>(static_cast<const char*>(cr) - at);
    if (const void* nul = std::memchr(at, '\0', before_cr)) {
      end += static_cast<std::size_t>(static_cast<const char*>(nul) - at);
      break;
    }
    end += before_cr;
    if (cr != nullptr) break;
  }
  if (end == text.size()) return {end, end};
  std::size_t next = end + 1;
  if (next < text.size() && FollowsTerminator(text[next])) ++next;
  return {end, next};
}

// Whether a line starts at `pos` (pos < text.size()) when the lines are
// walked from 0 with FindLineEnd, decided from the bytes just before it:
// every terminator ends a line, so the lines after the first start one past
// a terminator, or two past it when the byte between is the LF the line
// before keeps.  A LF after a terminator thus starts no line, and a LF that
// follows no terminator ends none ("\r\n\n": the second LF is in a line).
inline bool IsLineStart(std::string_view text, std::size_t pos) {
  if (pos == 0) return true;
  if (IsLineTerminator(text[pos - 1])) return !FollowsTerminator(text[pos]);
  return pos >= 2 && FollowsTerminator(text[pos - 1]) && IsLineTerminator(text[pos - 2]);
}

// Where the first line at or after `from` that starts with `first` (not a
// terminator: no line holds one) starts; npos when there is none.  Finds `first` with the library's byte search
// and keeps only hits at a line start, so a text is scanned once however
// many lines it has.
inline std::size_t FindLineStartingWith(std::string_view text, char first, std::size_t from) {
  for (std::size_t at = text.find(first, from); at != std::string_view::npos; at = text.find(first, at + 1)) {
    if (IsLineStart(text, at)) return at;
  }
  return std::string_view::npos;
}

// One past the last terminator before `end` (end <= text.size()); 0 when
// there is none.  Walks back from `end` only as far as that terminator.
inline std::size_t AfterLastTerminator(std::string_view text, std::size_t end) {
  while (end > 0 && !IsLineTerminator(text[end - 1])) --end;
  return end;
}

// Where the last line of `text` starts (0 for an empty text), found from
// the end without walking the lines before it.
inline std::size_t LastLineStart(std::string_view text) {
  const std::size_t last = AfterLastTerminator(text, text.size());
  if (last == 0) return 0;
  const std::size_t next = FindLineEnd(text, last - 1).next;
  if (next < text.size()) return next;  // a line follows the last terminator
  // The last terminator ends the last line, which starts after the one before.
  const std::size_t before = AfterLastTerminator(text, last - 1);
  return before == 0 ? 0 : FindLineEnd(text, before - 1).next;
}

// Where the lines that open `text` and begin with ^A end: the start of its
// first line that does not (0 when the first line does not, the text's
// size when every line does).
inline std::size_t LeadingKludgesEnd(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && text[at] == '\001') at = FindLineEnd(text, at).next;
  return at;
}

}  // namespace lw
