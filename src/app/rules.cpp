#include "app/rules.h"

#include "fidoutil/cp866.h"

namespace lw {

namespace {

void Found(RuleVerdict& v, const std::string& target, const std::string& log_text, LogFile& log) {
  v.found = true;
  v.target = target;
  log.LogOnly('#', kProductTag, log_text);
  if (UpCase866(target) == "KILL") v.kill = true;
}

void TryNameRules(const RuleList<NameRule>& rules, const std::string& name, const char* what,
                  RuleVerdict& v, LogFile& log) {
  std::string folded = UpCase866(name);
  for (int i = 0; i < rules.count() && !v.found; ++i) {
    const NameRule& rule = *rules.items[i];
    if (folded == rule.name) Found(v, rule.target, std::string(what) + "`" + rule.name + "`", log);
  }
}

void TryAddressRules(const RuleList<AddressRule>& rules, const FidoAddress& addr, const char* what,
                     RuleVerdict& v, LogFile& log) {
  for (int i = 0; i < rules.count() && !v.found; ++i) {
    const AddressRule& rule = *rules.items[i];
    if (rule.address.zone == 0) break;  // the list is searched up to a zone-0 rule
    if (rule.address == addr) {
      Found(v, rule.target, std::string(what) + "`" + FormatAddress(rule.address) + "`", log);
    }
  }
}

}  // namespace

RuleVerdict EvaluateRules(const MoverConfig& config, const CurrentMessage& msg, LogFile& log) {
  RuleVerdict v;
  for (int slot = 0; slot < 5 && !config.Priority[slot].empty() && !v.found && !v.not_touch; ++slot) {
    const std::string& word = config.Priority[slot];
    if (word == "NOT_TOUCH") {
      std::string to = UpCase866(msg.to);
      for (int i = 0; i < config.NotTouchNames.count() && !v.not_touch; ++i) {
        if (to == *config.NotTouchNames.items[i]) v.not_touch = true;
      }
    } else if (word == "TO") {
      TryNameRules(config.ToRules, msg.to, "Found mail to ", v, log);
    } else if (word == "FROM") {
      TryNameRules(config.FromRules, msg.from, "Found mail from ", v, log);
    } else if (word == "TOADDR") {
      TryAddressRules(config.ToAddrRules, msg.dest, "Found mail to address ", v, log);
    } else if (word == "FROMADDR") {
      TryAddressRules(config.FromAddrRules, msg.orig, "Found mail from address ", v, log);
    }
  }
  return v;
}

}  // namespace lw
