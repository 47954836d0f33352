#include "app/message_digest.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "msgbase/text_lines.h"

namespace lw {

namespace {

constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

class Fnv1a {
 public:
  void Add(std::string_view bytes) {
    for (char c : bytes) {
      value_ ^= static_cast<unsigned char>(c);
      value_ *= kFnvPrime;
    }
  }
  // A field and a separator that no field byte can fake: the length.
  void AddField(std::string_view bytes) {
    Add(bytes);
    const std::string length = std::to_string(bytes.size());
    Add("\x1f");
    Add(length);
    Add("\x1e");
  }
  std::uint64_t value() const { return value_; }

 private:
  std::uint64_t value_ = kFnvOffset;
};

std::string AddressText(const FidoAddress& a) {
  return std::to_string(a.zone) + ":" + std::to_string(a.net) + "/" + std::to_string(a.node) + "." +
         std::to_string(a.point);
}

// The whole text of the open message ("" when it has none).  A failed read
// stays in the stream's Status, for the copy that follows to see.
std::string WholeText(MessageBase& base) {
  Stream* text = base.GetTextStream();
  if (text == nullptr) return std::string();
  std::string bytes(static_cast<std::size_t>(std::max<std::int32_t>(text->GetSize(), 0)), '\0');
  text->Seek(0);
  if (!bytes.empty()) text->Read(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  return bytes;
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
  area.GetDestAddr(msg.dest);
  area.GetOrigAddr(msg.orig);
  area.GetDateWritten(msg.written);
  area.GetDateArrived(msg.arrived);
}

std::uint64_t MessageDigest(MessageBase& base, const CurrentMessage& msg) {
  Fnv1a digest;
  digest.AddField(msg.from);
  digest.AddField(msg.to);
  digest.AddField(msg.subject);
  digest.AddField(AddressText(msg.orig));
  std::string msgid;
  base.GetKludge("\001MSGID", msgid);
  digest.AddField(msgid);
  AddBody(digest, WholeText(base));
  return digest.value();
}

}  // namespace lw
