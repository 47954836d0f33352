#include "app/rules.h"

#include "fidoutil/address_mask.h"
#include "fidoutil/cp866.h"
#include "fidoutil/name_pattern.h"

namespace lw {

namespace {

void Found(RuleVerdict& v, const std::vector<std::string>& targets, const std::string& log_text, LogFile& log) {
  v.found = true;
  v.targets = targets;
  log.LogOnly('#', kProductTag, log_text);
  if (targets.size() == 1 && UpCase866(targets[0]) == "KILL") v.kill = true;
}

// `text` is folded and cut as the rules' patterns are.
void TryPatternRules(const RuleList<NameRule>& rules, const std::string& text, const char* what, RuleVerdict& v,
                     LogFile& log) {
  for (int i = 0; i < rules.count() && !v.found; ++i) {
    const NameRule& rule = *rules.items[i];
    if (PatternMatches(rule.name, text)) Found(v, rule.targets, std::string(what) + "`" + rule.name + "`", log);
  }
}

void TryAddressRules(const RuleList<AddressRule>& rules, const FidoAddress& addr, const char* what, RuleVerdict& v,
                     LogFile& log) {
  for (int i = 0; i < rules.count() && !v.found; ++i) {
    const AddressRule& rule = *rules.items[i];
    if (!rule.any.AnyPart()) {
      if (rule.address.zone == 0) break;  // the list is searched up to a plain zone-0 address
      if (rule.address == addr) {
        Found(v, rule.targets, std::string(what) + "`" + FormatAddress(rule.address) + "`", log);
      }
    } else if (MaskMatches(AddressMask{rule.address, rule.any}, addr)) {
      Found(v, rule.targets, std::string(what) + "`" + FormatAddressMask({rule.address, rule.any}) + "`", log);
    }
  }
}

bool IsProtected(const MoverConfig& config, const std::string& to) {
  for (int i = 0; i < config.NotTouchNames.count(); ++i) {
    if (PatternMatches(*config.NotTouchNames.items[i], to)) return true;
  }
  return false;
}

}  // namespace

RuleVerdict EvaluateRules(const MoverConfig& config, const CurrentMessage& msg, LogFile& log) {
  RuleVerdict v;
  const std::string to = UpCase866(CutName(msg.to));
  for (int slot = 0; slot < kPriorityKinds && !config.Priority[slot].empty() && !v.found && !v.not_touch; ++slot) {
    const std::string& word = config.Priority[slot];
    if (word == "NOT_TOUCH") {
      v.not_touch = IsProtected(config, to);
    } else if (word == "TO") {
      TryPatternRules(config.ToRules, to, "Found mail to ", v, log);
    } else if (word == "FROM") {
      TryPatternRules(config.FromRules, UpCase866(CutName(msg.from)), "Found mail from ", v, log);
    } else if (word == "SUBJ") {
      TryPatternRules(config.SubjRules, UpCase866(CutSubject(msg.subject)), "Found mail with subject ", v, log);
    } else if (word == "TOADDR") {
      TryAddressRules(config.ToAddrRules, msg.dest, "Found mail to address ", v, log);
    } else if (word == "FROMADDR") {
      TryAddressRules(config.FromAddrRules, msg.orig, "Found mail from address ", v, log);
    }
  }
  return v;
}

}  // namespace lw
