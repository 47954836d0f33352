#include "app/scan/transfer.h"

#include "stream/stream.h"

namespace lw {

namespace {

const std::uint32_t kCopiedAttributes[] = {
    kAttrPrivate,
    kAttrCrash,
    kAttrReceived,
    kAttrSent,
    kAttrFileAttached,
    kAttrInTransit,
    kAttrOrphan,
    kAttrKillSent,
    kAttrLocal,
    kAttrHold,
    kAttrFileRequest,
    kAttrReturnReceiptRequest,
    kAttrIsReturnReceipt,
    kAttrAuditRequest,
    kAttrFileUpdateRequest,
};

// Makes the destination's text byte for byte the source's.  False when a
// stream failed on the way.
bool CopyText(MessageBase& source, MessageBase& dest) {
  Stream* from_text = source.GetTextStream();
  Stream* to_text = dest.GetTextStream();
  if (from_text == nullptr || to_text == nullptr) return false;
  from_text->Seek(0);
  to_text->Seek(0);
  to_text->CopyFrom(*from_text, from_text->GetSize());
  to_text->Truncate();
  to_text->Flush();
  return from_text->Status == kStreamOk && to_text->Status == kStreamOk;
}

// Gives the new message of `dest` the source's names, subject and dates as
// ReadHeader took them from the source, and its attributes.
void CopyHeader(MessageBase& source, const CurrentMessage& msg, MessageBase& dest) {
  dest.SetFrom(msg.from);
  dest.SetTo(msg.to);
  dest.SetSubj(msg.subject);
  dest.SetDateWritten(msg.written);
  dest.SetDateArrived(msg.arrived);
  for (std::uint32_t mask : kCopiedAttributes) dest.SetAttr(mask, source.IsAttr(mask));
}

}  // namespace

Status CopyMessageInto(MessageBase& source, const CurrentMessage& msg, MessageBase& dest) {
  dest.SetMsgKind(0);
  if (!dest.CreateMsg()) return Status::Error("Cannot create message: " + IntToStr(dest.Status), dest.FailureCause());
  // The text is copied over whatever the header steps wrote into it (a
  // *.MSG attribute keeps its FLAGS line current).  The addresses go last:
  // every address the source knows, from its header or its kludges, is
  // given to the copy's header, and to the copied text only where the
  // destination keeps part of an address nowhere else.
  CopyHeader(source, msg, dest);
  if (!CopyText(source, dest)) {
    Stream* to_text = dest.GetTextStream();
    return Status::Error("Cannot write message. Wadda fuck?!", to_text != nullptr ? to_text->FailureText() : "");
  }
  dest.SetHeaderAddrs(msg.orig, msg.dest);
  if (!dest.WriteMsg()) return Status::Error("Cannot write message. Wadda fuck?!", dest.FailureCause());
  dest.CloseMsg();
  return Status();
}

}  // namespace lw
