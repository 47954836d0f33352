#include "msgbase/squish/squish_text.h"

#include "msgbase/message_base.h"
#include "msgbase/squish/squish_layout.h"
#include "msgbase/text_lines.h"

namespace lw::squish {

namespace {

// A kludge line comes back from the control info as it stood only when it
// ends in a lone CR and holds no second ^A (the reader cuts before each).
bool ComesBackWhole(std::string_view text, std::size_t pos, const LineBounds& line) {
  return line.next == line.end + 1 && text[line.end] == kLineTerminator &&
         text.substr(pos + 1, line.end - pos - 1).find(kKludgeChar) == std::string_view::npos;
}

}  // namespace

std::size_t SplitControlInfo(std::string_view text, std::string& control) {
  std::size_t pos = 0;
  while (pos < text.size() && text[pos] == kKludgeChar) {
    const LineBounds line = FindLineEnd(text, pos);
    if (!ComesBackWhole(text, pos, line)) break;
    if (control.size() + (line.end - pos) + 1 >= kMaxControlInfo) break;
    control.append(text, pos, line.end - pos);
    pos = line.next;
  }
  control.push_back('\0');
  return pos;
}

namespace {

// The control info is cut before every ^A but its first byte; each piece
// (closing NULs dropped) is one kludge line.  A piece left empty is no
// line: it is the closing NUL of control info that holds no kludge.
void WriteControlLines(std::string_view control, Stream& out) {
  std::size_t start = 0;
  while (start < control.size()) {
    std::size_t end = control.find(kKludgeChar, start + 1);
    if (end == std::string_view::npos) end = control.size();
    std::size_t len = end - start;
    while (len > 0 && control[start + len - 1] == 0) --len;
    if (len == 0) {
      start = end;
      continue;
    }
    out.Write(control.data() + start, static_cast<std::int32_t>(len));
    out.Write(&kLineTerminator, 1);
    start = end;
  }
}

}  // namespace

std::unique_ptr<Stream> MessageText(std::string_view frame_data, std::uint32_t clen) {
  auto text = NewMemoryStream(kMemStreamSizeHint);
  WriteControlLines(frame_data.substr(kMsgHeaderSize, clen), *text);
  std::string_view body = frame_data.substr(kMsgHeaderSize + clen);
  if (!body.empty() && body.back() == 0) body.remove_suffix(1);  // the closing NUL, when the writer put one
  text->Write(body.data(), static_cast<std::int32_t>(body.size()));
  text->Seek(0);
  return text;
}

}  // namespace lw::squish
