// FidoNet addresses and the word and number helpers they rest on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lw {

// zone:net/node.point; 0 for a part not given.
struct FidoAddress {
  std::int16_t zone = 0;
  std::int16_t net = 0;
  std::int16_t node = 0;
  std::int16_t point = 0;
};

// Parses zone:net/node.point@domain (and the shorter forms net/node[.point],
// node[.point], .point).  Sets only the fields the form names; false, with
// the address untouched, for empty text or a character outside 0-9 : / .
bool ParseFidoAddress(std::string_view text, FidoAddress& addr);
std::string FormatAddress4D(const FidoAddress& a);  // zone:net/node.point
std::string FormatAddress3D(const FidoAddress& a);  // zone:net/node
std::string FormatAddress(const FidoAddress& a);    // the point only when not 0
// Every part to 0.
void ClearAddress(FidoAddress& a);
// Orders by zone, net, node, point: -1, 0 or 1.
int CompareAddresses(const FidoAddress& a, const FidoAddress& b);
inline bool operator==(const FidoAddress& a, const FidoAddress& b) { return CompareAddresses(a, b) == 0; }

// The n-th (1-based) word of `text`; words are runs of characters not in
// `delimiters`.  Empty when there are fewer words.
std::string ExtractWord(int n, std::string_view text, std::string_view delimiters);
// The same word as a view into `text` (valid while `text` is).
std::string_view ExtractWordView(int n, std::string_view text, std::string_view delimiters);

// Decimal (or "$" hexadecimal) conversion after leading blanks with an
// optional sign.  False for empty text, a stray character or overflow.
bool TryStrToLongInt(std::string_view text, std::int32_t* value);
// As above; a text that does not convert gives 0.
void StrToLongInt(std::string_view text, std::int32_t& dest);
// The low 16 bits of StrToLongInt.
void StrToSmallInt(std::string_view text, std::int16_t& dest);
// `value` in decimal, with a "-" when negative.
std::string IntToStr(std::int32_t value);

}  // namespace lw
