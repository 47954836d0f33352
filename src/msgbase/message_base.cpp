// The shared operations of MessageBase: number walk, text lines, kludges,
// address kludges, origin line and kind flags.  Format operations on a
// plain instance fail with Status kNoFormat.
#include "msgbase/message_base.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>
#include <utility>

#include "errreport/exit_report.h"
#include "fidoutil/helpers.h"
#include "msgbase/text_lines.h"

namespace lw {

namespace {

constexpr std::int32_t kReadBlock = 1024;
// The first read of a line: most lines are shorter, and a line reader that
// read a whole block per line would copy far more than the text holds.
constexpr std::int32_t kFirstLineRead = 128;
const char kMsgIdPrefix[] = "\001MSGID:";
const char kIntlPrefix[] = "\001INTL";
const char kFmptPrefix[] = "\001FMPT";
const char kToptPrefix[] = "\001TOPT";

// Where the next line starts after the terminator at `at`: one past it,
// or two when the character after it belongs to the line (FindLineEnd's
// rule).  `block` holds the text from `block_pos` for `block_size` bytes.
std::int32_t NextLineStart(Stream& text, std::int32_t at, const char* block, std::int32_t block_pos,
                           std::int32_t block_size) {
  const std::int32_t next = at + 1;
  if (next >= text.GetSize()) return next;
  char after = 0;
  if (next < block_pos + block_size) {
    after = block[next - block_pos];
  } else {
    text.Seek(next);
    text.Read(&after, 1);
  }
  return FollowsTerminator(after) ? next + 1 : next;
}

// Reads the line at the position of `text` by FindLineEnd's rule, keeps at
// most `limit` of its bytes in `line`, and leaves the position where the
// next line starts.  Reads grow from kFirstLineRead to kReadBlock while the
// line goes on, so the bytes read stay proportional to the bytes the line
// spans.
void ReadTextLine(Stream& text, std::string& line, std::size_t limit) {
  std::int32_t pos = text.GetPos();
  const std::int32_t size = text.GetSize();
  if (pos < 0 || size < 0) return;
  char block[kReadBlock];
  std::int32_t chunk = kFirstLineRead;
  while (pos < size) {
    const std::int32_t n = std::min(size - pos, chunk);
    text.Seek(pos);
    text.Read(block, n);
    const std::int32_t i = static_cast<std::int32_t>(std::find_if(block, block + n, IsLineTerminator) - block);
    const std::size_t room = limit - std::min(limit, line.size());
    line.append(block, std::min(room, static_cast<std::size_t>(i)));
    if (i < n) {
      text.Seek(NextLineStart(text, pos + i, block, pos, n));
      return;
    }
    pos += n;
    if (chunk < kReadBlock) chunk *= 2;
  }
  text.Seek(pos);
}

}  // namespace

MessageBase::MessageBase() = default;
MessageBase::MessageBase(Stream* text) : Text(text) {}
MessageBase::~MessageBase() = default;

// ---- Format operations: a plain instance has none. ----

bool MessageBase::NoFormat() {
  Status = kNoFormat;
  return false;
}

bool MessageBase::Fail(std::int32_t code, std::string cause) {
  Status = code;
  failure_cause_ = std::move(cause);
  sink_cause_.clear();
  return false;
}

bool MessageBase::Fail(std::int32_t code) {
  Status = code;
  failure_cause_ = std::exchange(sink_cause_, std::string());
  return false;
}

bool MessageBase::Fail(std::int32_t code, const Stream& stream) {
  std::string text = stream.FailureText();
  return text.empty() ? Fail(code) : Fail(code, std::move(text));
}

bool MessageBase::OpenMsgBase(const std::string&) { return NoFormat(); }
bool MessageBase::CreateMsgBase(const std::string&) { return NoFormat(); }
bool MessageBase::MsgBaseExists(const std::string&) { return NoFormat(); }
bool MessageBase::CloseMsgBase() { return NoFormat(); }
std::vector<std::string> MessageBase::RepairsOnOpen() const { return {}; }
bool MessageBase::MsgExists(MsgNum) { return NoFormat(); }
MsgNum MessageBase::GetMsgNum() {
  NoFormat();
  return 0;
}
void MessageBase::BeginBatch() {}
bool MessageBase::CommitBatch() { return true; }
MsgNum MessageBase::GetMsgPosition() {
  NoFormat();
  return 0;
}
void MessageBase::SetMsgPosition(MsgNum) { Status = kNoFormat; }
bool MessageBase::OpenMsg() { return NoFormat(); }
bool MessageBase::OpenMsgHeader() { return NoFormat(); }
bool MessageBase::CloseMsg() { return NoFormat(); }
MsgNum MessageBase::GetHighMsgNum() {
  NoFormat();
  return 0;
}
std::int32_t MessageBase::GetMsgCount() {
  NoFormat();
  return 0;
}
void MessageBase::GetFrom(std::string&) { Status = kNoFormat; }
void MessageBase::GetTo(std::string&) { Status = kNoFormat; }
void MessageBase::GetSubj(std::string&) { Status = kNoFormat; }
void MessageBase::SetFrom(const std::string&) { Status = kNoFormat; }
void MessageBase::SetTo(const std::string&) { Status = kNoFormat; }
void MessageBase::SetSubj(const std::string&) { Status = kNoFormat; }
bool MessageBase::IsAttr(std::uint32_t) { return NoFormat(); }
void MessageBase::SetAttr(std::uint32_t, bool) { Status = kNoFormat; }
void MessageBase::GetDateWritten(MsgDateTime&) { Status = kNoFormat; }
void MessageBase::GetDateArrived(MsgDateTime&) { Status = kNoFormat; }
void MessageBase::SetDateWritten(const MsgDateTime&) { Status = kNoFormat; }
void MessageBase::SetDateArrived(const MsgDateTime&) { Status = kNoFormat; }
bool MessageBase::WriteMsg() { return NoFormat(); }
bool MessageBase::WriteMsgHeader() { return NoFormat(); }
bool MessageBase::CreateMsg() { return NoFormat(); }
bool MessageBase::DeleteMsg() { return NoFormat(); }
MsgNum MessageBase::GetLastRead(std::int32_t) {
  NoFormat();
  return 0;
}
bool MessageBase::SetLastRead(std::int32_t, MsgNum) { return NoFormat(); }

void MessageBase::SetDatesToNow() {
  MsgDateTime now;
  GetNow(now);
  SetDateWritten(now);
  SetDateArrived(now);
}

// ---- Walking message numbers ----

void MessageBase::SeekFirst(MsgNum msg_num) {
  CurMsgNum = std::max<MsgNum>(msg_num, 1) - 1;
  SeekNext();
}

void MessageBase::SeekNext() {
  do {
    if (CurMsgNum >= GetHighMsgNum()) {
      CurMsgNum = 0;
      return;
    }
    ++CurMsgNum;
  } while (!MsgExists(CurMsgNum));
}

void MessageBase::SeekPrior() {
  do {
    if (CurMsgNum <= 1) {
      CurMsgNum = 0;
      return;
    }
    --CurMsgNum;
  } while (!MsgExists(CurMsgNum));
}

bool MessageBase::SeekFound() { return CurMsgNum != 0; }

// ---- Lines ----

void MessageBase::ReadLineZ(char* buf, std::int32_t capacity) {
  if (capacity <= 0) return;
  buf[0] = 0;
  if (Text == nullptr) return;
  std::string line;
  ReadTextLine(*Text, line, static_cast<std::size_t>(capacity - 1));
  std::memcpy(buf, line.data(), line.size());
  buf[line.size()] = 0;
}

void MessageBase::ReadLine(std::string& line) {
  line.clear();
  if (Text != nullptr) ReadTextLine(*Text, line, kMaxTextLine);
}

void MessageBase::WriteLineZ(const char* line) {
  if (Text == nullptr) return;
  Text->Write(line, static_cast<std::int32_t>(std::strlen(line)));
  Text->Write(&kLineTerminator, 1);
}

void MessageBase::WriteLine(const std::string& line) {
  if (Text == nullptr) return;
  Text->Write(line.data(), static_cast<std::int32_t>(line.size()));
  Text->Write(&kLineTerminator, 1);
}

bool MessageBase::TextEnd() { return Text == nullptr || Text->GetPos() >= Text->GetSize(); }
void MessageBase::SetTextPos(std::int32_t pos) {
  if (Text) Text->Seek(pos);
}
std::int32_t MessageBase::GetTextPos() { return Text ? Text->GetPos() : 0; }
std::int32_t MessageBase::GetTextSize() { return Text ? Text->GetSize() : 0; }
void MessageBase::TruncateText() {
  if (Text) Text->Truncate();
}
void MessageBase::ReadText(void* buf, std::int32_t count) {
  if (Text) Text->Read(buf, count);
}
void MessageBase::WriteText(const void* buf, std::int32_t count) {
  if (Text) Text->Write(buf, count);
}
Stream* MessageBase::GetTextStream() { return Text; }

// ---- Kludges ----

namespace {

// Where the first line of `text` that starts with `prefix` starts, the line
// taken as a reader keeping `limit` bytes of it sees it; npos when none.
std::size_t FindPrefixedLine(std::string_view text, std::string_view prefix, std::size_t limit) {
  if (prefix.size() > limit) return std::string_view::npos;
  if (prefix.empty()) return text.empty() ? std::string_view::npos : 0;
  if (IsLineTerminator(prefix[0])) return std::string_view::npos;  // no line holds one
  for (std::size_t at = FindLineStartingWith(text, prefix[0], 0); at != std::string_view::npos;
       at = FindLineStartingWith(text, prefix[0], at + 1)) {
    if (text.substr(at, FindLineEnd(text, at).end - at).starts_with(prefix)) return at;
  }
  return std::string_view::npos;
}

// Where the leading block of kludge lines of `text` ends: the start of the
// first line after a kludge line that is not one, or the text's size.
std::size_t KludgeBlockEnd(std::string_view text) {
  std::size_t at = FindLineStartingWith(text, kKludgeChar, 0);
  while (at < text.size() && text[at] == kKludgeChar) at = FindLineEnd(text, at).next;
  return std::min(at, text.size());
}

// Calls `use` with each kludge line of `text` in text order, cut at
// kMaxTextLine as ReadLine cuts it.
template <typename Use>
void ForEachKludgeLine(std::string_view text, Use use) {
  std::string line;
  for (std::size_t at = FindLineStartingWith(text, kKludgeChar, 0); at != std::string_view::npos;
       at = FindLineStartingWith(text, kKludgeChar, at + 1)) {
    line.assign(text.substr(at, std::min(FindLineEnd(text, at).end - at, kMaxTextLine)));
    use(line);
  }
}

// `line` and the terminator WriteLineZ ends it with.
std::string TerminatedLine(const char* line) { return std::string(line) + kLineTerminator; }

}  // namespace

bool MessageBase::ReadWholeText(std::string& text) {
  text.clear();
  if (Text == nullptr || Text->Status != kStreamOk) return false;
  const std::int32_t size = Text->GetSize();
  if (size < 0) return false;
  text.resize(static_cast<std::size_t>(size));
  Text->Seek(0);
  if (size > 0) Text->Read(text.data(), size);
  if (Text->Status == kStreamOk) return true;
  text.clear();
  return false;
}

bool MessageBase::ViewWholeText(std::string& storage, std::string_view* text) {
  *text = std::string_view();
  if (Text == nullptr || Text->Status != kStreamOk) return false;
  std::string_view bytes;
  if (!Text->ViewAll(&bytes)) {
    if (!ReadWholeText(storage)) return false;
    *text = storage;
    return true;
  }
  Text->Seek(static_cast<std::int32_t>(bytes.size()));
  *text = bytes;
  return true;
}

MessageBase::TextLine MessageBase::SettleOnKludge(std::string_view text, std::string_view prefix, std::size_t limit) {
  const std::size_t match = FindPrefixedLine(text, prefix, limit);
  TextLine line;
  line.found = match != std::string_view::npos;
  line.start = line.found ? match : LastLineStart(text);
  const LineBounds bounds = FindLineEnd(text, line.start);
  line.end = std::min(bounds.end, line.start + limit);
  line.next = bounds.next;
  // As a walk from the start leaves them: FoundStart at the last line read
  // (none in an empty text), FoundEnd only on a match.
  if (!text.empty()) FoundStart = static_cast<std::int32_t>(line.start);
  if (line.found) FoundEnd = static_cast<std::int32_t>(line.next);
  Text->Seek(static_cast<std::int32_t>(line.found ? line.next : text.size()));
  return line;
}

bool MessageBase::FindKludgeZ(const char* prefix, char* buf, std::int32_t capacity) {
  if (Text == nullptr || capacity <= 0) return false;
  buf[0] = 0;
  std::string storage;
  std::string_view text;
  if (!ViewWholeText(storage, &text)) return false;
  const TextLine line = SettleOnKludge(text, prefix, static_cast<std::size_t>(capacity - 1));
  std::memcpy(buf, text.data() + line.start, line.end - line.start);
  buf[line.end - line.start] = 0;
  return line.found;
}

bool MessageBase::GetKludge(const std::string& prefix, std::string& line) {
  line.clear();
  std::string storage;
  std::string_view text;
  if (!ViewWholeText(storage, &text)) return false;
  // Up to a NUL in `prefix`, as the C string lookup sees it.
  const TextLine found = SettleOnKludge(text, prefix.c_str(), kMaxKludgeLine - 1);
  line.assign(text.substr(found.start, found.end - found.start));
  return found.found;
}

std::int32_t MessageBase::GetKludgeEnd() {
  std::string storage;
  std::string_view text;
  if (!ViewWholeText(storage, &text)) return GetTextSize();
  const std::size_t end = KludgeBlockEnd(text);
  // Past the line found, as the walk that reads it leaves the position.
  Text->Seek(static_cast<std::int32_t>(end < text.size() ? FindLineEnd(text, end).next : end));
  return static_cast<std::int32_t>(end);
}

void MessageBase::ReplaceRange(std::string_view text, std::size_t at, std::size_t from, std::string_view insert) {
  std::string rewritten(insert);
  rewritten.append(text.substr(from));
  Text->Seek(static_cast<std::int32_t>(at));
  if (!rewritten.empty()) Text->Write(rewritten.data(), static_cast<std::int32_t>(rewritten.size()));
  Text->Truncate();
}

void MessageBase::AddKludgeTo(std::string_view text, const char* line) {
  const std::size_t at = KludgeBlockEnd(text);
  ReplaceRange(text, at, at, TerminatedLine(line));
}

void MessageBase::SetKludgeZ(const char* prefix, const char* line) {
  std::string text;
  if (!ReadWholeText(text)) return;
  const TextLine found = SettleOnKludge(text, prefix, kMaxKludgeLine - 1);
  if (found.found) {
    ReplaceRange(text, found.start, found.next, TerminatedLine(line));
  } else {
    AddKludgeTo(text, line);
  }
}

void MessageBase::SetKludge(const std::string& prefix, const std::string& line) {
  SetKludgeZ(prefix.c_str(), line.c_str());
}

void MessageBase::DeleteKludgeZ(const char* prefix) {
  std::string text;
  if (!ReadWholeText(text)) return;
  const TextLine found = SettleOnKludge(text, prefix, kMaxKludgeLine - 1);
  if (found.found) ReplaceRange(text, found.start, found.next, {});
}

void MessageBase::DeleteKludge(const std::string& prefix) { DeleteKludgeZ(prefix.c_str()); }

void MessageBase::AddKludgeZ(const char* line) {
  std::string text;
  if (ReadWholeText(text)) AddKludgeTo(text, line);
}

void MessageBase::AddKludge(const std::string& line) { AddKludgeZ(line.c_str()); }

void MessageBase::InsertLeadingKludges(std::string_view lines) {
  std::string text;
  if (lines.empty() || !ReadWholeText(text)) return;
  const std::size_t at = LeadingKludgesEnd(text);
  ReplaceRange(text, at, at, lines);
}

// ---- Address kludges ----

void MessageBase::SetOrigAddr(const FidoAddress& addr, bool new_msg_id) {
  std::string found;
  std::string serial;
  if (!new_msg_id && GetKludge(kMsgIdPrefix, found)) {
    serial = ExtractWord(3, found, " ");
  } else {
    serial = NewMsgIdSerial();
  }
  SetKludge(kMsgIdPrefix, std::string("\001MSGID: ") + FormatAddress(addr) + " " + serial);
  if (!TestFlag(kFlagNetmail)) return;
  FidoAddress dest;
  GetDestAddr(dest);
  SetKludge(kIntlPrefix, std::string("\001INTL ") + FormatAddress3D(dest) + " " + FormatAddress3D(addr));
  if (addr.point == 0) {
    DeleteKludge(kFmptPrefix);
  } else {
    SetKludge(kFmptPrefix, std::string("\001FMPT ") + IntToStr(addr.point));
  }
}

void MessageBase::SetDestAddr(const FidoAddress& addr) {
  if (!TestFlag(kFlagNetmail)) return;
  FidoAddress orig;
  GetOrigAddr(orig);
  SetKludge(kIntlPrefix, std::string("\001INTL ") + FormatAddress3D(addr) + " " + FormatAddress3D(orig));
  if (addr.point == 0) {
    DeleteKludge(kToptPrefix);
  } else {
    SetKludge(kToptPrefix, std::string("\001TOPT ") + IntToStr(addr.point));
  }
}

void MessageBase::SetAddrs(const FidoAddress& orig, const FidoAddress& dest, bool new_msg_id) {
  SetOrigAddr(orig, new_msg_id);
  SetDestAddr(dest);
}

void MessageBase::SetHeaderAddrs(const FidoAddress&, const FidoAddress&) {}

std::string AddressKludgeLines(const FidoAddress& orig, const FidoAddress& dest) {
  std::string lines = "\001INTL " + FormatAddress3D(dest) + " " + FormatAddress3D(orig) + "\r";
  if (orig.point != 0) lines += "\001FMPT " + IntToStr(orig.point) + "\r";
  if (dest.point != 0) lines += "\001TOPT " + IntToStr(dest.point) + "\r";
  return lines;
}

void MessageBase::ParseOrigKludge(const std::string& line, FidoAddress& addr) {
  std::string_view s = line;
  if (s.starts_with(kMsgIdPrefix)) {
    ParseFidoAddress(ExtractWordView(2, s, " "), addr);
  } else if (s.starts_with(kIntlPrefix)) {
    std::int16_t point = addr.point;
    ParseFidoAddress(ExtractWordView(3, s, " "), addr);
    addr.point = point;
  } else if (s.starts_with(kFmptPrefix)) {
    StrToSmallInt(ExtractWordView(2, s, " "), addr.point);
  }
}

void MessageBase::ParseDestKludge(const std::string& line, FidoAddress& addr) {
  std::string_view s = line;
  if (s.starts_with(kIntlPrefix)) {
    std::int16_t point = addr.point;
    ParseFidoAddress(ExtractWordView(2, s, " "), addr);
    addr.point = point;
  } else if (s.starts_with(kToptPrefix)) {
    StrToSmallInt(ExtractWordView(2, s, " "), addr.point);
  }
}

void MessageBase::GetOrigAddr(FidoAddress& addr) {
  std::string storage;
  std::string_view text;
  if (ViewWholeText(storage, &text))
    ForEachKludgeLine(text, [&](const std::string& line) { ParseOrigKludge(line, addr); });
}

void MessageBase::GetDestAddr(FidoAddress& addr) {
  std::string storage;
  std::string_view text;
  if (ViewWholeText(storage, &text))
    ForEachKludgeLine(text, [&](const std::string& line) { ParseDestKludge(line, addr); });
}

void MessageBase::GetAddrs(FidoAddress& orig, FidoAddress& dest) {
  std::string storage;
  std::string_view text;
  if (!ViewWholeText(storage, &text)) return;
  ForEachKludgeLine(text, [&](const std::string& line) {
    ParseOrigKludge(line, orig);
    ParseDestKludge(line, dest);
  });
}

// ---- Origin line and flags ----

void MessageBase::AddOrigin(const FidoAddress& addr, const std::string& origin_text) {
  std::string tail = std::string(" (") + FormatAddress(addr) + ")";
  int room = 79 - 11 - static_cast<int>(tail.size());
  std::string line(" * Origin: ");
  if (room > 0) line += origin_text.substr(0, static_cast<std::size_t>(room));
  line += tail;
  WriteLine(line);
}

void MessageBase::SetFlag(std::uint32_t mask, bool on) {
  if (on) {
    Flags |= mask;
  } else {
    Flags &= ~mask;
  }
}

bool MessageBase::TestFlag(std::uint32_t mask) { return (Flags & mask) == mask; }

void MessageBase::SetMsgKind(int kind) {
  SetFlag(kFlagNetmail, kind == 0);
  SetFlag(kFlagEchomail, kind == 1);
  SetFlag(kFlagLocal, kind == 2);
}

}  // namespace lw
