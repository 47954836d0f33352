#include "app/message/text_charset.h"

#include "fidoutil/cp866.h"
#include "platform/platform.h"

namespace lw {

namespace {

// Length of the UTF-8 sequence `lead` starts, 0 for a byte no sequence
// starts with (overlong two-byte leads C0 and C1 included).
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

std::string Upper(std::string_view s) { return UpCase866(s); }

bool HasNonAscii(std::string_view text) {
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0x80) != 0) return true;
  }
  return false;
}

// How many bytes at the end of `text` are a UTF-8 sequence cut short (0
// when it ends whole).
std::size_t CutShortTail(std::string_view text) {
  // A sequence is at most four bytes: its lead is among the last four.
  for (std::size_t back = 1; back <= 4 && back <= text.size(); ++back) {
    const auto byte = static_cast<unsigned char>(text[text.size() - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte
    const std::size_t length = SequenceLength(byte);
    return length > back ? back : 0;
  }
  return 0;
}

}  // namespace

bool IsUtf8WithNonAscii(std::string_view text) {
  bool non_ascii = false;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = SequenceLength(static_cast<unsigned char>(text[i]));
    if (n == 0 || i + n > text.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    non_ascii = non_ascii || n > 1;
    i += n;
  }
  return non_ascii;
}

std::string CharsetOfChrs(std::string_view chrs_line) {
  std::string_view rest = chrs_line;
  std::size_t colon = rest.find(':');
  if (colon != std::string_view::npos) rest.remove_prefix(colon + 1);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  std::string name = Upper(rest.substr(0, rest.find(' ')));
  if (name == "UTF-8" || name == "UTF8") return "UTF-8";
  if (name == "KOI8-R" || name == "KOI8-U") return name;
  if (name == "LATIN-1" || name == "ISO-8859-1") return "ISO-8859-1";
  if (name == "ISO-8859-5") return name;
  if (name == "MAC") return "MACINTOSH";
  if (name.rfind("CP", 0) == 0 && name.size() > 2 && name.find_first_not_of("0123456789", 2) == std::string::npos) {
    return name;
  }
  // Any other set the conversion knows by the kludge's name.
  std::string probe;
  if (!name.empty() && name != "IBMPC" && platform::Os().ConvertText("A", name, "CP866", &probe)) return name;
  return "CP866";
}

std::string DecodeToCp866(std::string_view text, std::string_view charset) {
  if (charset == "CP866" || !HasNonAscii(text)) return std::string(text);
  std::string_view whole = text;
  if (charset == "UTF-8") whole.remove_suffix(CutShortTail(text));
  std::string decoded;
  if (!platform::Os().ConvertText(whole, charset, "CP866", &decoded)) return std::string(text);
  return decoded;
}

namespace {

// `text` converted from `charset` to `to`, character by character when the
// whole does not convert, so one that does not costs only itself.
std::string ConvertOrMark(std::string_view text, std::string_view charset, std::string_view to) {
  platform::Platform& os = platform::Os();
  std::string shown;
  if (os.ConvertText(text, charset, to, &shown)) return shown;
  shown.clear();
  for (char c : text) {
    std::string one;
    shown += os.ConvertText(std::string_view(&c, 1), charset, to, &one) ? one : std::string("?");
  }
  return shown;
}

}  // namespace

std::string ToUtf8(std::string_view text, std::string_view charset) {
  if (!HasNonAscii(text) || Upper(charset) == "UTF-8") return std::string(text);
  return ConvertOrMark(text, charset, "UTF-8");
}

std::string ForTerminal(std::string_view text, std::string_view charset) {
  platform::Platform& os = platform::Os();
  const std::string terminal = os.TerminalCharset();
  if (terminal.empty() || Upper(terminal) == Upper(charset)) return std::string(text);
  return ConvertOrMark(text, charset, terminal);
}

std::string RuleNamesToCp866(std::string_view line, std::string* problem) {
  static const char* const kNameKeys[] = {"TO ", "FROM ", "NOT_TOUCH ", "SUBJ "};
  const std::string folded = Upper(line.substr(0, 12));
  for (const char* key : kNameKeys) {
    const std::string_view k(key);
    if (folded.rfind(k, 0) != 0) continue;
    std::size_t end = line.find_first_of(",;", k.size());
    if (end == std::string_view::npos) end = line.size();
    std::string_view name = line.substr(k.size(), end - k.size());
    if (!IsUtf8WithNonAscii(name)) break;
    std::string cp866;
    if (!platform::Os().ConvertText(name, "UTF-8", "CP866", &cp866)) {
      *problem = "name `" + std::string(name) + "` has characters CP866 lacks; compared as written";
      break;
    }
    return std::string(line.substr(0, k.size())) + cp866 + std::string(line.substr(end));
  }
  return std::string(line);
}

}  // namespace lw
