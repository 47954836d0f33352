#include "app/config/config_check.h"

#include <string>

#include "app/config/area_identity.h"
#include "app/message/text_charset.h"
#include "fidoutil/address.h"
#include "fidoutil/address_mask.h"
#include "fidoutil/cp866.h"
#include "fidoutil/helpers.h"
#include "platform/platform.h"

namespace lw {

namespace {

// kFilter and kAddressList values are judged by their readers, which
// record what they cannot read.
enum class ValueKind {
  kPath,
  kArea,
  kYesNo,
  kNumber,
  kPriority,
  kNameRule,
  kAddressRule,
  kName,
  kCharset,
  kFilter,
  kAddressList
};

struct KnownKey {
  const char* key;
  ValueKind kind;
  bool one_value;  // a later line replaces the value (not a list key)
};

const KnownKey kKeys[] = {
    {"NETMAIL", ValueKind::kArea, false},
    {"TO", ValueKind::kNameRule, false},
    {"FROM", ValueKind::kNameRule, false},
    {"SUBJ", ValueKind::kNameRule, false},
    {"TOADDR", ValueKind::kAddressRule, false},
    {"FROMADDR", ValueKind::kAddressRule, false},
    {"MOVE", ValueKind::kYesNo, true},
    {"NOT_TOUCH", ValueKind::kName, false},
    {"USELASTREAD", ValueKind::kYesNo, true},
    {"USERNUMBER", ValueKind::kNumber, true},
    {"PRIORITY", ValueKind::kPriority, true},
    {"DON'T_TOUCH_LOCAL_AND_UNSENT_MAIL", ValueKind::kYesNo, true},
    {"LOG", ValueKind::kPath, true},
    {"LOGCHARSET", ValueKind::kCharset, true},
    {"LOGDETAIL", ValueKind::kYesNo, true},
    {"INCLUDE", ValueKind::kPath, false},
    {"FILTER", ValueKind::kFilter, false},
    {"ADDRESS", ValueKind::kAddressList, false},
    {"EXECTIMEOUT", ValueKind::kNumber, true},
};

// The rule kinds PRIORITY names, each with the key its rules are read from.
const char* const kRuleKinds[kPriorityKinds] = {"NOT_TOUCH", "TO", "FROM", "TOADDR", "FROMADDR", "SUBJ", "FILTER"};

// The problems found on one line.
struct Findings {
  int line_number;
  std::vector<ConfigProblem>& problems;

  void Error(std::string text) const { problems.push_back(ConfigProblem{line_number, std::move(text)}); }
  void Warning(std::string text) const {
    problems.push_back(ConfigProblem{line_number, std::move(text), ProblemLevel::kWarning});
  }
};

// The line as the reader sees it: up to its comment, TABs as blanks.
std::string Uncommented(std::string_view raw) {
  std::string plain;
  for (std::size_t i = 0; i < raw.size() && raw[i] != ';'; ++i) plain += raw[i] == '\t' ? ' ' : raw[i];
  return plain;
}

std::string Quoted(std::string_view s) { return std::string("`").append(s).append("`"); }

// A format letter followed by a path.
bool KnownArea(std::string_view area) {
  if (area.size() < 2) return false;
  char letter = UpCase866(area[0]);
  return letter == '*' || letter == 'M' || letter == 'F' || letter == 'S' || letter == 'J';
}

void CheckArea(std::string_view area, const Findings& found) {
  if (!KnownArea(area)) {
    found.Error("NETMAIL " + Quoted(area) + " is not a format letter (*, M, F, S, J) and a path");
  }
}

void CheckTargets(std::string_view targets, const Findings& found) {
  std::vector<std::string> seen;  // the identity of each copy target so far
  std::vector<std::string_view> written;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = targets.find(',', start);
    std::string_view one = TrimBlanks(targets.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (UpCase866(one) != "KILL" && !KnownArea(one)) {
      found.Error("target " + Quoted(one) + " is neither KILL nor a format letter (*, M, F, S, J) and a path");
    } else if (UpCase866(one) != "KILL") {
      const std::string identity = AreaIdentity(std::string(one));
      for (std::size_t i = 0; i < seen.size(); ++i) {
        if (seen[i] == identity) {
          found.Warning("target " + Quoted(one) + " is the base " + Quoted(written[i]) +
                        " names already: the message is copied there once");
          break;
        }
      }
      seen.push_back(identity);
      written.push_back(one);
    }
    if (comma == std::string_view::npos) return;
    start = comma + 1;
  }
}

void CheckRule(std::string_view key, std::string_view value, bool address, const Findings& found) {
  std::size_t comma = value.find(',');
  if (comma == std::string_view::npos || TrimBlanks(value.substr(comma + 1)).empty()) {
    found.Error("the rule on line " + IntToStr(found.line_number) +
                " has no target: a message it matches ends the run");
    return;
  }
  std::string_view name = TrimBlanks(value.substr(0, comma));
  // A mask is judged by the rule reader, which records one it cannot read.
  if (address && !LooksLikeAddressMask(name)) {
    FidoAddress parsed;
    if (!ParseFidoAddress(name, parsed) || parsed.zone == 0) {
      found.Error("address " + Quoted(name) + " cannot be read; it is taken as zone 0, which ends the " +
                  std::string(key) + " rules here");
    }
  }
  CheckTargets(value.substr(comma + 1), found);
}

// A name or subject pattern longer than the part of a message's name or
// subject that is compared is cut to it; its length is counted in CP866,
// the set it is compared in.
void CheckNameLength(std::string_view key, std::string_view written, const Findings& found) {
  const std::string_view name = TrimBlanks(written);
  const std::size_t limit = key == "SUBJ" ? kMaxSubjectLength : kMaxNameLength;
  std::string cp866(name);
  if (IsUtf8WithNonAscii(name)) platform::Os().ConvertText(name, "UTF-8", "CP866", &cp866);
  if (cp866.size() <= limit) return;
  const std::string count = IntToStr(static_cast<std::int32_t>(limit));
  found.Warning(std::string(key) + " " + Quoted(name) + " is longer than " + count + " characters: only its first " +
                count + " are compared");
}

void CheckPriority(std::string_view value, const Findings& found) {
  std::size_t pos = 0;
  int words = 0;
  while (pos < value.size()) {
    std::size_t end = value.find(' ', pos);
    if (end == std::string_view::npos) end = value.size();
    std::string word = UpCase866(value.substr(pos, end - pos));
    pos = end + 1;
    if (word.empty()) continue;
    if (++words > kPriorityKinds) {
      found.Error("PRIORITY takes " + IntToStr(kPriorityKinds) + " words; " + Quoted(word) + " is not read");
      continue;
    }
    bool known = false;
    for (const char* kind : kRuleKinds) known = known || word == kind;
    if (!known) found.Error("PRIORITY word " + Quoted(word) + " is not a rule kind");
  }
}

void CheckValue(const KnownKey& key_info, std::string_view value, const Findings& found) {
  const std::string folded = UpCase866(value);
  // A FILTER value quotes its strings.
  if (key_info.kind != ValueKind::kFilter && value.find('"') != std::string_view::npos) {
    found.Error("value " + Quoted(value) + " is in quotes; the quotes are kept as part of it");
  }
  switch (key_info.kind) {
    case ValueKind::kYesNo:
      if (folded != "YES" && folded != "NO") {
        found.Error(std::string(key_info.key) + " " + Quoted(value) + " is not YES: taken as no");
      }
      break;
    case ValueKind::kNumber:
      if (std::int32_t number = 0;
          value.find_first_not_of("0123456789") != std::string_view::npos || !TryStrToLongInt(value, &number)) {
        found.Error(std::string(key_info.key) + " " + Quoted(value) + " is not a number");
      }
      break;
    case ValueKind::kCharset:
      if (folded != "UTF-8")
        found.Error("LOGCHARSET " + Quoted(value) + " is not UTF-8: the log keeps the message bytes");
      break;
    case ValueKind::kArea: CheckArea(value, found); break;
    case ValueKind::kPriority: CheckPriority(value, found); break;
    case ValueKind::kNameRule:
      CheckNameLength(key_info.key, value.substr(0, value.find(',')), found);
      CheckRule(key_info.key, value, false, found);
      break;
    case ValueKind::kAddressRule: CheckRule(key_info.key, value, true, found); break;
    case ValueKind::kName: CheckNameLength(key_info.key, value, found); break;
    case ValueKind::kPath:
    case ValueKind::kFilter:
    case ValueKind::kAddressList: break;
  }
}

const KnownKey* FindKey(std::string_view word) {
  const std::string folded = UpCase866(word);
  for (const KnownKey& key_info : kKeys) {
    if (folded == key_info.key) return &key_info;
  }
  return nullptr;
}

// A line whose text before its comment runs past the cut loses that part.
void CheckLength(std::string_view whole, const Findings& found) {
  const std::string_view content = TrimBlanks(std::string_view(whole).substr(0, whole.find(';')));
  const std::size_t end =
      content.empty() ? 0 : static_cast<std::size_t>(content.data() - whole.data()) + content.size();
  if (end <= kMaxConfigLine) return;
  found.Error("line is longer than " + IntToStr(static_cast<std::int32_t>(kMaxConfigLine)) +
              " characters and is cut there; not read: " + Quoted(whole.substr(kMaxConfigLine, end - kMaxConfigLine)));
}

void CheckContent(std::string_view raw, const Findings& found) {
  const std::string plain = Uncommented(raw);
  const std::string_view content = TrimBlanks(plain);
  if (content.empty()) return;
  if (plain.front() == ' ') {
    found.Error("line begins with blanks and is not read; a key must start the line");
    return;
  }
  std::size_t blank = content.find(' ');
  std::string_view word = content.substr(0, blank);
  std::string_view value = blank == std::string_view::npos ? std::string_view() : TrimBlanks(content.substr(blank));
  const KnownKey* key_info = FindKey(word);
  if (key_info == nullptr) {
    found.Error("unknown key " + Quoted(word) + "; the line is not read");
  } else if (value.empty()) {
    found.Error(std::string(key_info->key) + " without a value; the line is not read");
  } else {
    CheckValue(*key_info, value, found);
  }
}

}  // namespace

void CheckConfigLine(std::string_view whole, int line_number, std::vector<ConfigProblem>& problems) {
  const Findings found{line_number, problems};
  if (line_number == 1 && whole.starts_with("\xEF\xBB\xBF")) {
    found.Error("the file begins with a byte-order mark, so this line is not read; save it without one");
    return;
  }
  CheckLength(whole, found);
  CheckContent(whole.substr(0, kMaxConfigLine), found);
}

std::string KeyOfLine(std::string_view raw) {
  const std::string plain = Uncommented(raw);
  const std::size_t blank = plain.find(' ');
  if (blank == 0 || blank == std::string::npos) return "";
  const KnownKey* key_info = FindKey(plain.substr(0, blank));
  return key_info == nullptr ? "" : key_info->key;
}

bool HoldsOneValue(std::string_view key) {
  const KnownKey* key_info = FindKey(key);
  return key_info != nullptr && key_info->one_value;
}

void CheckRuleKinds(const MoverConfig& config, std::vector<ConfigProblem>& problems) {
  for (const char* kind : kRuleKinds) {
    auto line = config.first_line_of_key.find(kind);
    if (line == config.first_line_of_key.end()) continue;
    bool named = false;
    for (const std::string& word : config.Priority) named = named || word == kind;
    if (named) continue;
    const bool has_priority = config.first_line_of_key.count("PRIORITY") != 0;
    const ConfigPlace& place = line->second;
    problems.push_back(ConfigProblem{
        place.line,
        std::string(kind) + " rules are never tried: " +
            (has_priority ? "PRIORITY does not name " + std::string(kind) : std::string("there is no PRIORITY line")),
        ProblemLevel::kError, place.file, place.sequence});
  }
}

}  // namespace lw
