#include "app/message/message_report.h"

#include "app/message/text_charset.h"
#include "fidoutil/cp866.h"
#include "fidoutil/helpers.h"
#include "msgbase/area.h"

namespace lw {

namespace {

// The value of a kludge line: what follows "NAME: " (or the whole line).
std::string KludgeValue(const std::string& line) {
  std::size_t colon = line.find(':');
  if (colon == std::string::npos) return line;
  std::size_t start = line.find_first_not_of(' ', colon + 1);
  return start == std::string::npos ? std::string() : line.substr(start);
}

std::string Parties(const MessageFacts& f, const std::string& from, const std::string& to, const std::string& subject) {
  return std::to_string(f.number) + " from " + from + " (" + FormatAddress(f.orig) + ") to " + to + " (" +
         FormatAddress(f.dest) + ") subj `" + subject + "`";
}

bool TextIsEmpty(MessageBase& area) {
  const std::int32_t size = area.GetTextSize();
  if (size <= 0) return true;
  std::string text(static_cast<std::size_t>(size), '\0');
  area.SetTextPos(0);
  area.ReadText(text.data(), size);
  area.SetTextPos(0);
  return text.find_first_not_of('\0') == std::string::npos;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0x80) != 0) return false;
  }
  return true;
}

}  // namespace

std::string MessageCharset(MessageBase& area) {
  std::string line;
  return CharsetOfChrs(area.GetKludge("\001CHRS", line) ? KludgeValue(line) : std::string());
}

CurrentMessage ForRules(MessageBase& area, const CurrentMessage& msg) {
  if (IsAscii(msg.to) && IsAscii(msg.from) && IsAscii(msg.subject)) return msg;
  const std::string charset = MessageCharset(area);
  CurrentMessage judged = msg;
  judged.to = DecodeToCp866(msg.to, charset);
  judged.from = DecodeToCp866(msg.from, charset);
  judged.subject = DecodeToCp866(msg.subject, charset);
  return judged;
}

MessageFacts GatherFacts(MessageBase& area, const CurrentMessage& msg) {
  MessageFacts f;
  f.number = area.GetMsgNum();
  f.from = msg.from;
  f.to = msg.to;
  f.subject = msg.subject;
  f.orig = msg.orig;
  f.dest = msg.dest;
  std::string line;
  if (area.GetKludge("\001MSGID", line)) f.msgid = KludgeValue(line);
  f.charset = MessageCharset(area);
  return f;
}

std::string DryRunLine(const MessageFacts& f, const std::string& verdict) {
  return Parties(f, ForTerminal(f.from, f.charset), ForTerminal(f.to, f.charset), ForTerminal(f.subject, f.charset)) +
         ": " + verdict;
}

std::string DetailLine(const MessageFacts& f, const std::string& action) {
  std::string line(1, '#');
  return line.append(Parties(f, f.from, f.to, f.subject))
      .append(" msgid `")
      .append(f.msgid)
      .append("`: ")
      .append(action);
}

bool IsHighWaterMark(MessageBase& area, const std::string& area_id, const CurrentMessage& msg) {
  if (area.GetMsgNum() != 1) return false;
  AreaKind kind = AreaKind::kNone;
  std::string path;
  ParseAreaId(area_id, kind, path);
  if (kind != AreaKind::kMsg) return false;
  if (UpCase866(msg.subject) == "HIGHWATER MARK") return true;
  static const char* const kTosserNames[] = {"CRASHMAIL II", "CRASHMAIL", "SQUISHMAIL", "SQUISH", "HPT"};
  const std::string from = UpCase866(msg.from);
  for (const char* name : kTosserNames) {
    if (from == name) return TextIsEmpty(area);
  }
  return false;
}

}  // namespace lw
