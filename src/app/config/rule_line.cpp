#include "app/config/rule_line.h"

#include <algorithm>

#include "app/config/area_identity.h"
#include "fidoutil/cp866.h"
#include "fidoutil/helpers.h"

namespace lw {

namespace {

// The first comma-separated word of `text` (leading commas skipped), and
// what follows the first comma.
struct RuleParts {
  std::string subject;
  std::string target;
};

RuleParts SplitRule(const RuleText& text) {
  RuleParts parts;
  parts.subject = TrimBlanks(ExtractWord(1, text.folded, ","));
  std::size_t comma = text.folded.find(',');
  if (comma != std::string_view::npos) parts.target = TrimBlanks(text.paths.substr(comma + 1));
  return parts;
}

}  // namespace

bool ReadTargets(std::string_view text, std::vector<std::string>& targets, std::string& problem) {
  targets.clear();
  std::size_t start = 0;
  while (true) {
    std::size_t comma = text.find(',', start);
    targets.emplace_back(TrimBlanks(text.substr(start, comma == std::string_view::npos ? comma : comma - start)));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (targets.size() == 1) return true;
  std::vector<std::string> identities;
  std::vector<std::string> distinct;
  for (std::string& target : targets) {
    if (target.empty()) {
      problem = "an empty target among several: " + std::string(text);
      return false;
    }
    if (UpCase866(target) == "KILL") {
      problem = "KILL cannot be combined with a copy target: " + std::string(text);
      return false;
    }
    // One copy per base, however often or in whatever spelling it is named.
    std::string identity = AreaIdentity(target);
    if (std::find(identities.begin(), identities.end(), identity) != identities.end()) continue;
    identities.push_back(std::move(identity));
    distinct.push_back(std::move(target));
  }
  targets = std::move(distinct);
  return true;
}

bool ReadNameRule(const RuleText& text, std::size_t cut, NameRule& rule, std::string& problem) {
  RuleParts parts = SplitRule(text);
  rule.name = parts.subject.substr(0, cut);
  rule.target = parts.target;
  return ReadTargets(parts.target, rule.targets, problem);
}

bool ReadAddressRule(const RuleText& text, AddressRule& rule, std::string& problem) {
  RuleParts parts = SplitRule(text);
  if (LooksLikeAddressMask(parts.subject)) {
    AddressMask mask;
    if (!ParseAddressMask(parts.subject, mask)) {
      problem = "an address mask that cannot be read: " + parts.subject;
      return false;
    }
    rule.address = mask.address;
    rule.any = mask.any;
  } else {
    ParseFidoAddress(parts.subject, rule.address);
  }
  rule.target = parts.target;
  return ReadTargets(parts.target, rule.targets, problem);
}

}  // namespace lw
