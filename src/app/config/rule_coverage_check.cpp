#include "app/config/rule_coverage_check.h"

#include <algorithm>
#include <string>

#include "app/config/filter_coverage.h"
#include "fidoutil/address_mask.h"
#include "fidoutil/helpers.h"

namespace lw {

namespace {

// One rule as evaluation meets it.
struct Reached {
  ConfigPlace place;
  RuleCatch caught;
  bool continues = false;
};

void AddPatternRules(const RuleList<NameRule>& rules, CatchField field, std::vector<Reached>& order) {
  for (const auto& rule : rules.items) order.push_back({rule->place, CatchOfPattern(field, rule->name), false});
}

void AddAddressRules(const RuleList<AddressRule>& rules, CatchField field, std::vector<Reached>& order) {
  for (const auto& rule : rules.items) {
    if (!rule->any.AnyPart() && rule->address.zone == 0) return;  // the search of the list ends here
    const AddressPattern pattern =
        rule->any.AnyPart() ? PatternOfMask(AddressMask{rule->address, rule->any}) : PatternOfAddress(rule->address);
    order.push_back({rule->place, CatchOfAddress(field, pattern), false});
  }
}

void AddKind(const MoverConfig& config, const std::string& kind, std::vector<Reached>& order) {
  if (kind == "NOT_TOUCH") {
    for (std::size_t i = 0; i < config.not_touch_places.size(); ++i) {
      order.push_back(
          {config.not_touch_places[i], CatchOfPattern(CatchField::kTo, *config.NotTouchNames.items[i]), false});
    }
  } else if (kind == "TO") {
    AddPatternRules(config.ToRules, CatchField::kTo, order);
  } else if (kind == "FROM") {
    AddPatternRules(config.FromRules, CatchField::kFrom, order);
  } else if (kind == "SUBJ") {
    AddPatternRules(config.SubjRules, CatchField::kSubject, order);
  } else if (kind == "TOADDR") {
    AddAddressRules(config.ToAddrRules, CatchField::kDest, order);
  } else if (kind == "FROMADDR") {
    AddAddressRules(config.FromAddrRules, CatchField::kOrig, order);
  } else if (kind == "FILTER") {
    for (const auto& rule : config.filter_rules.items) {
      order.push_back({rule->place, CatchOfExpression(rule->expression), rule->continues});
    }
  }
}

}  // namespace

void CheckUnreachableRules(const MoverConfig& config, std::vector<ConfigProblem>& problems) {
  std::vector<Reached> order;
  std::vector<std::string> tried;
  for (const std::string& kind : config.Priority) {
    if (kind.empty()) break;  // evaluation stops at the first empty slot
    if (std::find(tried.begin(), tried.end(), kind) != tried.end()) continue;
    tried.push_back(kind);
    AddKind(config, kind, order);
  }
  for (std::size_t later = 0; later < order.size(); ++later) {
    for (std::size_t earlier = 0; earlier < later; ++earlier) {
      if (order[earlier].continues || !CatchesAll(order[earlier].caught, order[later].caught)) continue;
      const ConfigPlace& hidden = order[later].place;
      const ConfigPlace& by = order[earlier].place;
      const std::string where = IntToStr(by.line) + (by.file == hidden.file ? std::string() : " of " + by.file);
      problems.push_back(ConfigProblem{hidden.line,
                                       "the rule on this line can never fire: the rule on line " + where +
                                           ", tried before it, catches every message it could catch",
                                       ProblemLevel::kWarning, hidden.file, hidden.sequence});
      break;
    }
  }
}

}  // namespace lw
