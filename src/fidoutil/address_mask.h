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

}  // namespace lw
