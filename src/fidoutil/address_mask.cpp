#include "fidoutil/address_mask.h"

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

}  // namespace lw
