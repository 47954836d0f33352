#include "app/transfer.h"

#include "app/config.h"
#include "msgbase/area.h"

namespace lw {

namespace {

const std::uint32_t kCopiedAttributes[] = {
    kAttrPrivate,      kAttrCrash,         kAttrReceived,  kAttrSent,
    kAttrFileAttached, kAttrInTransit,     kAttrOrphan,    kAttrKillSent,
    kAttrLocal,        kAttrHold,          kAttrFileRequest, kAttrReturnReceiptRequest,
    kAttrIsReturnReceipt, kAttrAuditRequest, kAttrFileUpdateRequest,
};

// Makes the destination's text byte for byte the source's.
bool CopyText(MessageBase& source, MessageBase& dest) {
  Stream* from_text = source.GetTextStream();
  Stream* to_text = dest.GetTextStream();
  if (from_text == nullptr || to_text == nullptr) return false;
  from_text->Seek(0);
  to_text->Seek(0);
  to_text->CopyFrom(*from_text, from_text->GetSize());
  to_text->Truncate();
  to_text->Flush();
  return true;
}

}  // namespace

void TransferMessage(MessageBase& source, const CurrentMessage& msg, const ShortStr& target,
                     LogFile& log) {
  MsgBasePtr dest;
  if (!OpenOrCreateArea(dest, target)) {
    log.Error(kProductTag, ShortStr("unable to open destination messagebase - ") + target);
  }
  dest->SetMsgKind(0);
  if (!dest->CreateMsg()) {
    log.Error(kProductTag, ShortStr("Cannot create message: ") + IntToStr(dest->Status));
  }
  // The header steps below edit kludge lines of the new text; working on
  // a copy of the source's text lets them find its MSGID, so no serial is
  // made (and waited for) only to be thrown away when the text is copied
  // again after them.
  CopyText(source, *dest);
  FidoAddress orig;
  FidoAddress to_addr;
  source.GetAddrs(orig, to_addr);
  dest->SetAddrs(orig, to_addr, false);
  dest->SetFrom(msg.from);
  dest->SetTo(msg.to);
  dest->SetSubj(msg.subject);
  MsgDateTime dt;
  source.GetDateWritten(dt);
  dest->SetDateWritten(dt);
  source.GetDateArrived(dt);
  dest->SetDateArrived(dt);
  for (std::uint32_t mask : kCopiedAttributes) dest->SetAttr(mask, source.IsAttr(mask));

  if (!CopyText(source, *dest) || !dest->WriteMsg()) {
    log.Error(kProductTag, "Cannot write message. Wadda fuck?!");
  }
  dest->CloseMsg();
  log.LogOnly('+', kProductTag, ShortStr("Copy message to destination messagebase - ") + target);
  CloseArea(dest);
}

}  // namespace lw
