#include "fidoutil/address.h"

#include <charconv>

namespace lw {

namespace {

std::int16_t SmallInt(std::string_view text) {
  std::int16_t v = 0;
  StrToSmallInt(text, v);
  return v;
}

bool IsAddressChar(char c) { return (c >= '0' && c <= '9') || c == ':' || c == '/' || c == '.'; }

bool IsDelimiter(char c, std::string_view delimiters) {
  for (const char d : delimiters) {
    if (c == d) return true;
  }
  return false;
}

// Calls `use` with each word of `text` (the runs between characters for
// which `is_delim` holds), in order, until it returns false.
template <typename IsDelim, typename Use>
void ForEachWord(std::string_view text, IsDelim is_delim, Use use) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && is_delim(text[pos])) ++pos;
    if (pos == text.size()) return;
    const std::size_t start = pos;
    while (pos < text.size() && !is_delim(text[pos])) ++pos;
    if (!use(text.substr(start, pos - start))) return;
  }
}

// The `n`th word of `text` (1-based); empty when there are fewer words.
template <typename IsDelim>
std::string_view NthWord(int n, std::string_view text, IsDelim is_delim) {
  int count = 0;
  std::string_view word;
  ForEachWord(text, is_delim, [&](std::string_view w) {
    if (++count < n) return true;
    if (count == n) word = w;
    return false;
  });
  return word;
}

// words[i] = ExtractWordView(i + 1, text, delimiters), all found in one
// walk over `text`.
template <std::size_t N>
void FirstWords(std::string_view text, std::string_view delimiters, std::string_view (&words)[N]) {
  std::size_t found = 0;
  for (std::string_view& w : words) w = std::string_view();
  ForEachWord(
      text, [delimiters](char c) { return IsDelimiter(c, delimiters); },
      [&](std::string_view w) {
        words[found++] = w;
        return found < N;
      });
}

}  // namespace

bool ParseFidoAddress(std::string_view input, FidoAddress& addr) {
  if (input.empty()) return false;
  std::string_view t = input;
  if (t[0] == '/') t.remove_prefix(1);
  std::size_t at = t.find('@');
  if (at != std::string_view::npos) t = t.substr(0, at);
  if (t.empty()) return false;
  for (char c : t) {
    if (!IsAddressChar(c)) return false;
  }
  bool colon = t.find(':') != std::string_view::npos;
  bool slash = t.find('/') != std::string_view::npos;
  if (colon && slash) {
    std::string_view words[4];
    FirstWords(t, "./:", words);
    addr.zone = SmallInt(words[0]);
    addr.net = SmallInt(words[1]);
    addr.node = SmallInt(words[2]);
    addr.point = SmallInt(words[3]);
  } else if (slash) {
    addr.net = SmallInt(ExtractWordView(1, t, "/"));
    addr.node = SmallInt(ExtractWordView(2, t, "./"));
    addr.point = SmallInt(ExtractWordView(3, t, "./"));
  } else if (!colon && t[0] == '.') {
    addr.point = SmallInt(t.substr(1));
  } else if (!colon) {
    addr.node = SmallInt(ExtractWordView(1, t, "."));
    addr.point = SmallInt(ExtractWordView(2, t, "."));
  }
  return true;
}

std::string FormatAddress3D(const FidoAddress& a) {
  return IntToStr(a.zone) + ":" + IntToStr(a.net) + "/" + IntToStr(a.node);
}

std::string FormatAddress4D(const FidoAddress& a) { return FormatAddress3D(a) + "." + IntToStr(a.point); }

std::string FormatAddress(const FidoAddress& a) { return a.point == 0 ? FormatAddress3D(a) : FormatAddress4D(a); }

void ClearAddress(FidoAddress& a) { a = FidoAddress{}; }

int CompareAddresses(const FidoAddress& a, const FidoAddress& b) {
  const std::int16_t fa[4] = {a.zone, a.net, a.node, a.point};
  const std::int16_t fb[4] = {b.zone, b.net, b.node, b.point};
  for (int i = 0; i < 4; ++i) {
    if (fa[i] < fb[i]) return -1;
    if (fa[i] > fb[i]) return 1;
  }
  return 0;
}

std::string_view ExtractWordView(int n, std::string_view text, std::string_view delimiters) {
  // A plain loop over the few delimiters (string_view::find would call
  // memchr once per character of the text), and a plain comparison for
  // the usual single one.
  if (delimiters.size() == 1) {
    const char delimiter = delimiters[0];
    return NthWord(n, text, [delimiter](char c) { return c == delimiter; });
  }
  return NthWord(n, text, [delimiters](char c) { return IsDelimiter(c, delimiters); });
}

std::string ExtractWord(int n, std::string_view text, std::string_view delimiters) {
  return std::string(ExtractWordView(n, text, delimiters));
}

bool TryStrToLongInt(std::string_view text, std::int32_t* value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && text[i] == '$') {
    hex = true;
    ++i;
  }
  if (i >= text.size()) return false;
  std::int64_t v = 0;
  const std::int64_t limit = hex ? 0xFFFFFFFFLL : (negative ? 2147483648LL : 2147483647LL);
  for (; i < text.size(); ++i) {
    char c = text[i];
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return false;
    }
    v = v * (hex ? 16 : 10) + d;
    if (v > limit) return false;
  }
  if (hex) v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  *value = static_cast<std::int32_t>(negative ? -v : v);
  return true;
}

void StrToLongInt(std::string_view text, std::int32_t& dest) {
  std::int32_t v = 0;
  dest = TryStrToLongInt(text, &v) ? v : 0;
}

void StrToSmallInt(std::string_view text, std::int16_t& dest) {
  std::int32_t v = 0;
  StrToLongInt(text, v);
  dest = static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(v) & 0xFFFF));
}

std::string IntToStr(std::int32_t value) {
  char buf[16];
  const std::to_chars_result end = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, end.ptr);
}

}  // namespace lw
