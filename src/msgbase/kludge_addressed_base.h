// A format whose addresses come from the kludge lines alone (Squish, JAM):
// each address is cleared to 0:0/0.0 before the kludges are read.  Also
// the attribute lookup these formats share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "msgbase/message_base.h"

namespace lw {

class KludgeAddressedBase : public MessageBase {
 public:
  void GetOrigAddr(FidoAddress& addr) override;
  void GetDestAddr(FidoAddress& addr) override;
  void GetAddrs(FidoAddress& orig, FidoAddress& dest) override;
};

// One attribute mask and the bit a format stores it in.
struct AttrMapping {
  std::uint32_t mask;
  std::uint32_t bit;
};

// The format's bit for `mask`; 0 when the format has no place for it.
template <std::size_t N>
std::uint32_t MapAttr(const AttrMapping (&table)[N], std::uint32_t mask) {
  for (const AttrMapping& m : table) {
    if (m.mask == mask) return m.bit;
  }
  return 0;
}

}  // namespace lw
