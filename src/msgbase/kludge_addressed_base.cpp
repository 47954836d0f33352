#include "msgbase/kludge_addressed_base.h"

namespace lw {

void KludgeAddressedBase::GetOrigAddr(FidoAddress& addr) {
  FidoAddress dest;
  HeaderAddrs(addr, dest);
  MessageBase::GetOrigAddr(addr);
}

void KludgeAddressedBase::GetDestAddr(FidoAddress& addr) {
  FidoAddress orig;
  HeaderAddrs(orig, addr);
  MessageBase::GetDestAddr(addr);
}

void KludgeAddressedBase::GetAddrs(FidoAddress& orig, FidoAddress& dest) {
  HeaderAddrs(orig, dest);
  MessageBase::GetAddrs(orig, dest);
}

}  // namespace lw
