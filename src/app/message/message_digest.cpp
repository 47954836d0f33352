#include "app/message/message_digest.h"

#include <string>
#include <string_view>

#include "fidoutil/address.h"
#include "msgbase/text_lines.h"
#include "stream/stream.h"

namespace lw {

namespace {

// A field and a separator that no field byte can fake: the length.
void AddField(Fnv1a& digest, std::string_view bytes) {
  digest.Add(bytes);
  digest.Add("\x1f");
  digest.Add(std::to_string(bytes.size()));
  digest.Add("\x1e");
}

// The whole text of the open message ("" when it has none).  A failed read
// stays in the stream's Status, for the copy that follows to see.
std::string WholeText(MessageBase& base) {
  Stream* text = base.GetTextStream();
  return text == nullptr ? std::string() : ReadAllBytes(*text);
}

// Every line but the kludge lines, each followed by CR, with the empty
// lines at the end left out.
void AddBody(Fnv1a& digest, std::string_view text) {
  std::size_t pending_empty = 0;  // empty lines not yet known to be inside the text
  for (std::size_t at = 0; at < text.size();) {
    const LineBounds line = FindLineEnd(text, at);
    const std::string_view body = text.substr(at, line.end - at);
    at = line.next;
    if (!body.empty() && body[0] == kKludgeChar) continue;
    if (body.empty()) {
      ++pending_empty;
      continue;
    }
    for (; pending_empty > 0; --pending_empty) digest.Add("\r");
    digest.Add(body);
    digest.Add("\r");
  }
}

}  // namespace

void ReadHeader(MessageBase& area, CurrentMessage& msg) {
  area.GetFrom(msg.from);
  msg.from = CutName(msg.from);
  area.GetTo(msg.to);
  msg.to = CutName(msg.to);
  area.GetSubj(msg.subject);
  msg.subject = CutSubject(msg.subject);
  area.GetAddrs(msg.orig, msg.dest);
  area.GetDateWritten(msg.written);
  area.GetDateArrived(msg.arrived);
}

std::uint64_t MessageDigest(MessageBase& base, const CurrentMessage& msg) {
  Fnv1a digest;
  AddField(digest, msg.from);
  AddField(digest, msg.to);
  AddField(digest, msg.subject);
  AddField(digest, FormatAddress4D(msg.orig));
  std::string msgid;
  base.GetKludge("\001MSGID", msgid);
  AddField(digest, msgid);
  AddBody(digest, WholeText(base));
  return digest.value();
}

}  // namespace lw
