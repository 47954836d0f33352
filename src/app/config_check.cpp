#include "app/config_check.h"

#include <string>

#include "fidoutil/address.h"
#include "fidoutil/address_mask.h"
#include "fidoutil/cp866.h"
#include "fidoutil/helpers.h"

namespace lw {

namespace {

enum class ValueKind { kPath, kYesNo, kNumber, kPriority, kNameRule, kAddressRule, kName, kCharset };

struct KnownKey {
  const char* key;
  ValueKind kind;
};

const KnownKey kKeys[] = {
    {"NETMAIL", ValueKind::kPath},       {"TO", ValueKind::kNameRule},
    {"FROM", ValueKind::kNameRule},      {"SUBJ", ValueKind::kNameRule},
    {"TOADDR", ValueKind::kAddressRule}, {"FROMADDR", ValueKind::kAddressRule},
    {"MOVE", ValueKind::kYesNo},         {"NOT_TOUCH", ValueKind::kName},
    {"USELASTREAD", ValueKind::kYesNo},  {"USERNUMBER", ValueKind::kNumber},
    {"PRIORITY", ValueKind::kPriority},  {"DON'T_TOUCH_LOCAL_AND_UNSENT_MAIL", ValueKind::kYesNo},
    {"LOG", ValueKind::kPath},           {"LOGCHARSET", ValueKind::kCharset},
    {"LOGDETAIL", ValueKind::kYesNo},
};

const char* const kRuleKinds[] = {"NOT_TOUCH", "TO", "FROM", "TOADDR", "FROMADDR", "SUBJ"};

// The line as the reader sees it: up to its comment, TABs as blanks.
std::string Uncommented(std::string_view raw) {
  std::string plain;
  for (std::size_t i = 0; i < raw.size() && raw[i] != ';'; ++i) plain += raw[i] == '\t' ? ' ' : raw[i];
  return plain;
}

std::string Quoted(std::string_view s) { return std::string("`").append(s).append("`"); }

// A target is KILL or a format letter followed by a path.
bool KnownTarget(std::string_view target) {
  if (UpCase866(target) == "KILL") return true;
  if (target.size() < 2) return false;
  char letter = UpCase866(target[0]);
  return letter == '*' || letter == 'M' || letter == 'F' || letter == 'S' || letter == 'J';
}

void CheckTargets(std::string_view targets, std::vector<std::string>& found) {
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = targets.find(',', start);
    std::string_view one = TrimBlanks(targets.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (!KnownTarget(one)) {
      found.push_back("target " + Quoted(one) + " is neither KILL nor a format letter (*, M, F, S, J) and a path");
    }
    if (comma == std::string_view::npos) return;
    start = comma + 1;
  }
}

void CheckRule(std::string_view key, std::string_view value, bool address, std::vector<std::string>& found) {
  std::size_t comma = value.find(',');
  if (comma == std::string_view::npos) {
    found.push_back("rule without a comma between " + std::string(address ? "address" : "name") +
                    " and target: it names no target");
    return;
  }
  std::string_view name = TrimBlanks(value.substr(0, comma));
  // A mask is judged by the rule reader, which records one it cannot read.
  if (address && !LooksLikeAddressMask(name)) {
    FidoAddress parsed;
    if (!ParseFidoAddress(name, parsed) || parsed.zone == 0) {
      found.push_back("address " + Quoted(name) + " cannot be read; it is taken as zone 0, which ends the " +
                      std::string(key) + " rules here");
    }
  }
  CheckTargets(value.substr(comma + 1), found);
}

void CheckPriority(std::string_view value, std::vector<std::string>& found) {
  std::size_t pos = 0;
  while (pos < value.size()) {
    std::size_t end = value.find(' ', pos);
    if (end == std::string_view::npos) end = value.size();
    std::string word = UpCase866(value.substr(pos, end - pos));
    bool known = word.empty();
    for (const char* kind : kRuleKinds) known = known || word == kind;
    if (!known) found.push_back("PRIORITY word " + Quoted(word) + " is not a rule kind");
    pos = end + 1;
  }
}

void CheckValue(const KnownKey& key_info, std::string_view value, std::vector<std::string>& found) {
  const std::string folded = UpCase866(value);
  if (value.find('"') != std::string_view::npos) {
    found.push_back("value " + Quoted(value) + " is in quotes; the quotes are kept as part of it");
  }
  switch (key_info.kind) {
    case ValueKind::kYesNo:
      if (folded != "YES" && folded != "NO") {
        found.push_back(std::string(key_info.key) + " " + Quoted(value) + " is not YES: taken as no");
      }
      break;
    case ValueKind::kNumber:
      if (value.find_first_not_of("0123456789") != std::string_view::npos) {
        found.push_back(std::string(key_info.key) + " " + Quoted(value) + " is not a number");
      }
      break;
    case ValueKind::kCharset:
      if (folded != "UTF-8")
        found.push_back("LOGCHARSET " + Quoted(value) + " is not UTF-8: the log keeps the message bytes");
      break;
    case ValueKind::kPriority: CheckPriority(value, found); break;
    case ValueKind::kNameRule: CheckRule(key_info.key, value, false, found); break;
    case ValueKind::kAddressRule: CheckRule(key_info.key, value, true, found); break;
    case ValueKind::kPath:
    case ValueKind::kName: break;
  }
}

const KnownKey* FindKey(std::string_view word) {
  const std::string folded = UpCase866(word);
  for (const KnownKey& key_info : kKeys) {
    if (folded == key_info.key) return &key_info;
  }
  return nullptr;
}

}  // namespace

void CheckConfigLine(std::string_view raw, int line_number, std::vector<ConfigProblem>& problems) {
  std::vector<std::string> found;
  if (line_number == 1 && raw.starts_with("\xEF\xBB\xBF")) {
    found.push_back("the file begins with a byte-order mark, so this line is not read; save it without one");
  } else {
    const std::string plain = Uncommented(raw);
    const std::string_view content = TrimBlanks(plain);
    if (content.empty()) return;
    if (plain.front() == ' ') {
      found.push_back("line begins with blanks and is not read; a key must start the line");
    } else {
      std::size_t blank = content.find(' ');
      std::string_view word = content.substr(0, blank);
      std::string_view value = blank == std::string_view::npos ? std::string_view() : TrimBlanks(content.substr(blank));
      const KnownKey* key_info = FindKey(word);
      if (key_info == nullptr) {
        found.push_back("unknown key " + Quoted(word) + "; the line is not read");
      } else if (value.empty()) {
        found.push_back(std::string(key_info->key) + " without a value; the line is not read");
      } else {
        CheckValue(*key_info, value, found);
      }
    }
  }
  for (std::string& text : found) problems.push_back(ConfigProblem{line_number, std::move(text)});
}

}  // namespace lw
