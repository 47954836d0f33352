// A format that keeps both addresses whole (zone, net, node, point) in its
// own message header (Squish's address fields, JAM's address subfields):
// an address reads as the header has it, overridden field by field by the
// ^AMSGID, ^AINTL, ^AFMPT and ^ATOPT lines of the text, and WriteMsg
// stores what that gives.  So a message whose text carries no address
// kludge keeps its addresses.  Also the attribute lookup these formats
// share.
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

 protected:
  // The addresses the open message's header holds (0:0/0.0 when it has
  // none, as a new message).
  virtual void HeaderAddrs(FidoAddress& orig, FidoAddress& dest) = 0;
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
