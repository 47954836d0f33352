// Address masks: zone:net/node[.point] where any part may be `*` for
// every value of that part.
#pragma once

#include <string>
#include <string_view>

#include "fidoutil/address.h"

namespace lw {

// Which parts of a mask stand for any value.
struct AddressWildcards {
  bool zone = false;
  bool net = false;
  bool node = false;
  bool point = false;

  bool AnyPart() const { return zone || net || node || point; }
};

struct AddressMask {
  FidoAddress address;  // the parts written as numbers; 0 where `*`
  AddressWildcards any;
};

// True when `text` holds a `*` and so is read as a mask, not an address.
bool LooksLikeAddressMask(std::string_view text);

// Parses zone:net/node[.point][@domain] where each part is a number from 0
// to 65535 or `*`; a missing point is point 0, so a node mask does not take
// in the node's points.  False, with `mask` untouched, for any other text
// (a shorter form, `*` inside a number, a stray character).
bool ParseAddressMask(std::string_view text, AddressMask& mask);

// True when every part of `addr` equals the mask's part or the mask's
// part is `*`.
bool MaskMatches(const AddressMask& mask, const FidoAddress& addr);

// zone:net/node, with ".point" when the point is `*` or not 0.
std::string FormatAddressMask(const AddressMask& mask);

// A wider mask: each part a pattern of digits, `*` (any run) and `?` (any
// one digit) matched against the part's decimal form, and the zone left
// out for any zone.  A part without `*` or `?` is a number, as in a mask.
struct AddressPattern {
  std::string zone;   // "*" when the text named none
  std::string net;    // a part without wildcards is kept as its number's
  std::string node;   // decimal form ("02" as "2"), so that matching the
  std::string point;  // decimal forms compares the numbers
};

// Parses [zone:]net/node[.point][@domain]; a missing point is point 0.
// False, with `pattern` untouched, for an empty part, a character other
// than a digit, `*` or `?` in a part, a part longer than 16 characters or
// a plain number above 65535.
bool ParseAddressPattern(std::string_view text, AddressPattern& pattern);

// True when each part's decimal form matches the pattern's part.
bool AddressPatternMatches(const AddressPattern& pattern, const FidoAddress& addr);

// The pattern that matches what `mask` matches.
AddressPattern PatternOfMask(const AddressMask& mask);

// The pattern that matches `addr` alone.
AddressPattern PatternOfAddress(const FidoAddress& addr);

// zone:net/node.point as the pattern was read (the zone "*" when left out).
std::string FormatAddressPattern(const AddressPattern& pattern);

}  // namespace lw
