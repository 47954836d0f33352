#include "fidoutil/address_mask.h"

#include "fidoutil/name_pattern.h"

namespace lw {

namespace {

constexpr std::int32_t kMaxPart = 65535;

// One part: `*`, or 1 to 5 digits up to kMaxPart, stored in 16 bits as
// the message headers store it.
bool ParsePart(std::string_view text, std::int16_t& value, bool& any) {
  if (text == "*") {
    any = true;
    value = 0;
    return true;
  }
  if (text.empty() || text.size() > 5) return false;
  std::int32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > kMaxPart) return false;
  any = false;
  value = static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
  return true;
}

std::string FormatPart(std::int16_t value, bool any) {
  return any ? std::string("*") : IntToStr(static_cast<std::uint16_t>(value));
}

constexpr std::size_t kMaxPatternPart = 16;

// One part of an AddressPattern: digits with `*` and `?`, or a number that
// is kept as its decimal form.
bool ParsePatternPart(std::string_view text, std::string& part) {
  if (text.empty() || text.size() > kMaxPatternPart) return false;
  if (text.find_first_not_of("0123456789*?") != std::string_view::npos) return false;
  if (text.find_first_of("*?") != std::string_view::npos) {
    part = std::string(text);
    return true;
  }
  std::int16_t value = 0;
  bool any = false;
  if (!ParsePart(text, value, any)) return false;
  part = FormatPart(value, false);
  return true;
}

}  // namespace

bool LooksLikeAddressMask(std::string_view text) { return text.find('*') != std::string_view::npos; }

bool ParseAddressMask(std::string_view text, AddressMask& mask) {
  text = text.substr(0, text.find('@'));
  std::size_t colon = text.find(':');
  std::size_t slash = text.find('/');
  if (colon == std::string_view::npos || slash == std::string_view::npos || slash < colon) return false;
  std::size_t dot = text.find('.', slash);
  std::string_view node_text = text.substr(slash + 1, dot == std::string_view::npos ? dot : dot - slash - 1);
  std::string_view point_text = dot == std::string_view::npos ? "0" : text.substr(dot + 1);
  AddressMask parsed;
  if (!ParsePart(text.substr(0, colon), parsed.address.zone, parsed.any.zone) ||
      !ParsePart(text.substr(colon + 1, slash - colon - 1), parsed.address.net, parsed.any.net) ||
      !ParsePart(node_text, parsed.address.node, parsed.any.node) ||
      !ParsePart(point_text, parsed.address.point, parsed.any.point)) {
    return false;
  }
  mask = parsed;
  return true;
}

bool MaskMatches(const AddressMask& mask, const FidoAddress& addr) {
  const FidoAddress& m = mask.address;
  return (mask.any.zone || m.zone == addr.zone) && (mask.any.net || m.net == addr.net) &&
         (mask.any.node || m.node == addr.node) && (mask.any.point || m.point == addr.point);
}

std::string FormatAddressMask(const AddressMask& mask) {
  const FidoAddress& m = mask.address;
  std::string text = FormatPart(m.zone, mask.any.zone);
  text += ':';
  text += FormatPart(m.net, mask.any.net);
  text += '/';
  text += FormatPart(m.node, mask.any.node);
  if (mask.any.point || m.point != 0) {
    text += '.';
    text += FormatPart(m.point, mask.any.point);
  }
  return text;
}

bool ParseAddressPattern(std::string_view text, AddressPattern& pattern) {
  text = text.substr(0, text.find('@'));
  std::size_t colon = text.find(':');
  std::size_t slash = text.find('/');
  if (slash == std::string_view::npos || (colon != std::string_view::npos && slash < colon)) return false;
  std::size_t net_start = colon == std::string_view::npos ? 0 : colon + 1;
  std::size_t dot = text.find('.', slash);
  std::string_view node_text = text.substr(slash + 1, dot == std::string_view::npos ? dot : dot - slash - 1);
  std::string_view point_text = dot == std::string_view::npos ? "0" : text.substr(dot + 1);
  AddressPattern parsed;
  parsed.zone = "*";
  if ((colon != std::string_view::npos && !ParsePatternPart(text.substr(0, colon), parsed.zone)) ||
      !ParsePatternPart(text.substr(net_start, slash - net_start), parsed.net) ||
      !ParsePatternPart(node_text, parsed.node) || !ParsePatternPart(point_text, parsed.point)) {
    return false;
  }
  pattern = parsed;
  return true;
}

bool AddressPatternMatches(const AddressPattern& pattern, const FidoAddress& addr) {
  return PatternMatches(pattern.zone, FormatPart(addr.zone, false)) &&
         PatternMatches(pattern.net, FormatPart(addr.net, false)) &&
         PatternMatches(pattern.node, FormatPart(addr.node, false)) &&
         PatternMatches(pattern.point, FormatPart(addr.point, false));
}

AddressPattern PatternOfMask(const AddressMask& mask) {
  const FidoAddress& m = mask.address;
  return AddressPattern{FormatPart(m.zone, mask.any.zone), FormatPart(m.net, mask.any.net),
                        FormatPart(m.node, mask.any.node), FormatPart(m.point, mask.any.point)};
}

AddressPattern PatternOfAddress(const FidoAddress& addr) { return PatternOfMask(AddressMask{addr, {}}); }

std::string FormatAddressPattern(const AddressPattern& pattern) {
  return pattern.zone + ":" + pattern.net + "/" + pattern.node + "." + pattern.point;
}

}  // namespace lw
