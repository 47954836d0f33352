#include "app/rules/rules.h"

#include <algorithm>

#include "app/rules/filter_match.h"
#include "fidoutil/address_mask.h"
#include "fidoutil/cp866.h"
#include "fidoutil/name_pattern.h"

namespace lw {

namespace {

// The verdict being gathered, and whether the evaluation is over.
struct Judging {
  RuleVerdict verdict;
  bool ended = false;
};

void AddTarget(RuleVerdict& v, const std::string& target) {
  if (std::find(v.targets.begin(), v.targets.end(), target) == v.targets.end()) v.targets.push_back(target);
}

void Matched(Judging& j, const std::string& log_text, LogFile& log) {
  j.verdict.found = true;
  j.verdict.rules.push_back(log_text);
  log.LogOnly('#', kProductTag, log_text);
}

// A rule line matched: its targets are copies, moved when MOVE is on; a
// single KILL deletes.  It ends the evaluation.
void FoundByLine(Judging& j, const MoverConfig& config, const std::vector<std::string>& targets,
                 const std::string& log_text, LogFile& log) {
  Matched(j, log_text, log);
  j.ended = true;
  if (targets.size() == 1 && UpCase866(targets[0]) == "KILL") {
    j.verdict.kill = true;
    return;
  }
  for (const std::string& target : targets) AddTarget(j.verdict, target);
  j.verdict.move = j.verdict.move || config.MoveMode;
}

// `text` is folded and cut as the rules' patterns are.
void TryPatternRules(const MoverConfig& config, const RuleList<NameRule>& rules, const std::string& text,
                     const char* what, Judging& j, LogFile& log) {
  for (int i = 0; i < rules.count() && !j.ended; ++i) {
    const NameRule& rule = *rules.items[i];
    if (PatternMatches(rule.name, text))
      FoundByLine(j, config, rule.targets, std::string(what) + "`" + rule.name + "`", log);
  }
}

void TryAddressRules(const MoverConfig& config, const RuleList<AddressRule>& rules, const FidoAddress& addr,
                     const char* what, Judging& j, LogFile& log) {
  for (int i = 0; i < rules.count() && !j.ended; ++i) {
    const AddressRule& rule = *rules.items[i];
    if (!rule.any.AnyPart()) {
      if (rule.address.zone == 0) break;  // the list is searched up to a plain zone-0 address
      if (rule.address == addr) {
        FoundByLine(j, config, rule.targets, std::string(what) + "`" + FormatAddress(rule.address) + "`", log);
      }
    } else if (MaskMatches(AddressMask{rule.address, rule.any}, addr)) {
      FoundByLine(j, config, rule.targets, std::string(what) + "`" + FormatAddressMask({rule.address, rule.any}) + "`",
                  log);
    }
  }
}

void ApplyFilterActions(Judging& j, const FilterRule& rule) {
  RuleVerdict& v = j.verdict;
  for (const FilterAction& action : rule.actions) {
    switch (action.kind) {
      case FilterActionKind::kCopy: AddTarget(v, action.target); break;
      case FilterActionKind::kMove:
        AddTarget(v, action.target);
        v.move = true;
        break;
      case FilterActionKind::kKill: v.kill = true; break;
      case FilterActionKind::kExec: v.programs.push_back(action.words); break;
      case FilterActionKind::kContinue: break;
    }
  }
  if (!rule.continues) j.ended = true;
}

void TryFilters(const MoverConfig& config, FilterMessage& message, Judging& j, LogFile& log) {
  for (int i = 0; i < config.filter_rules.count() && !j.ended; ++i) {
    const FilterRule& rule = *config.filter_rules.items[i];
    if (!FilterMatches(rule.expression, message)) continue;
    Matched(j, "Found mail by filter `" + rule.text + "`", log);
    ApplyFilterActions(j, rule);
  }
}

bool IsProtected(const MoverConfig& config, const std::string& to) {
  for (int i = 0; i < config.NotTouchNames.count(); ++i) {
    if (PatternMatches(*config.NotTouchNames.items[i], to)) return true;
  }
  return false;
}

}  // namespace

RuleVerdict EvaluateRules(const MoverConfig& config, const CurrentMessage& msg, LogFile& log,
                          const MessageContent& content) {
  Judging j;
  const std::string to = UpCase866(CutName(msg.to));
  const std::string from = UpCase866(CutName(msg.from));
  const std::string subject = UpCase866(CutSubject(msg.subject));
  const FilterFacts facts{
      to, from, subject, msg.dest, msg.orig, content.attributes, content.text, &config.our_addresses};
  FilterMessage message(facts);
  for (int slot = 0; slot < kPriorityKinds && !config.Priority[slot].empty() && !j.ended; ++slot) {
    const std::string& word = config.Priority[slot];
    if (word == "NOT_TOUCH") {
      // A protected message is left alone unless a rule took it already.
      j.ended = IsProtected(config, to);
      j.verdict.not_touch = j.ended && !j.verdict.found;
    } else if (word == "TO") {
      TryPatternRules(config, config.ToRules, to, "Found mail to ", j, log);
    } else if (word == "FROM") {
      TryPatternRules(config, config.FromRules, from, "Found mail from ", j, log);
    } else if (word == "SUBJ") {
      TryPatternRules(config, config.SubjRules, subject, "Found mail with subject ", j, log);
    } else if (word == "TOADDR") {
      TryAddressRules(config, config.ToAddrRules, msg.dest, "Found mail to address ", j, log);
    } else if (word == "FROMADDR") {
      TryAddressRules(config, config.FromAddrRules, msg.orig, "Found mail from address ", j, log);
    } else if (word == "FILTER") {
      TryFilters(config, message, j, log);
    }
  }
  return j.verdict;
}

}  // namespace lw
