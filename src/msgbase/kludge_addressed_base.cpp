#include "msgbase/kludge_addressed_base.h"

namespace lw {

void KludgeAddressedBase::GetOrigAddr(FidoAddress& addr) {
  ClearAddress(addr);
  MessageBase::GetOrigAddr(addr);
}

void KludgeAddressedBase::GetDestAddr(FidoAddress& addr) {
  ClearAddress(addr);
  MessageBase::GetDestAddr(addr);
}

void KludgeAddressedBase::GetAddrs(FidoAddress& orig, FidoAddress& dest) {
  ClearAddress(orig);
  ClearAddress(dest);
  MessageBase::GetAddrs(orig, dest);
}

}  // namespace lw
