#include "app/transfer.h"

#include "app/config.h"
#include "fidoutil/address.h"
#include "msgbase/text_lines.h"
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

// Makes the destination's text the source's kludge lines (every line that
// starts with ^A, in order, each ended by a CR): all that the header steps
// below read and edit in the text.  False when a stream failed.
bool CopyKludgeLines(MessageBase& source, MessageBase& dest) {
  Stream* from_text = source.GetTextStream();
  Stream* to_text = dest.GetTextStream();
  if (from_text == nullptr || to_text == nullptr) return false;
  const std::string text = ReadAllBytes(*from_text);
  std::string kludges;
  for (std::size_t at = FindLineStartingWith(text, kKludgeChar, 0); at != std::string::npos;
       at = FindLineStartingWith(text, kKludgeChar, at + 1)) {
    kludges.append(text, at, FindLineEnd(text, at).end - at);
    kludges += kLineTerminator;
  }
  to_text->Seek(0);
  if (!kludges.empty()) to_text->Write(kludges.data(), static_cast<std::int32_t>(kludges.size()));
  to_text->Truncate();
  return from_text->Status == kStreamOk && to_text->Status == kStreamOk;
}

// Gives the new message of `dest` the source's header: addresses, names,
// subject and dates as ReadHeader took them from the source, and its
// attributes.
void CopyHeader(MessageBase& source, const CurrentMessage& msg, MessageBase& dest) {
  dest.SetAddrs(msg.orig, msg.dest, false);
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
  if (!dest.CreateMsg()) return Status::Error("Cannot create message: " + IntToStr(dest.Status));
  // The header steps below read and edit kludge lines of the new text
  // (MSGID, INTL, FMPT, TOPT, FLAGS), and the text is then copied again
  // over their edits.  Working on the source's kludge lines lets them find
  // its MSGID, so no serial is made (and waited for) only to be thrown
  // away, and spares them copying the body around for each edit.
  if (!CopyKludgeLines(source, dest)) return Status::Error("Cannot write message. Wadda fuck?!");
  CopyHeader(source, msg, dest);
  if (!CopyText(source, dest) || !dest.WriteMsg()) return Status::Error("Cannot write message. Wadda fuck?!");
  dest.CloseMsg();
  return Status();
}

}  // namespace lw
