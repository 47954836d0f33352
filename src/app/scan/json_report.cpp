#include "app/scan/json_report.h"

#include <nlohmann/json.hpp>

#include "app/message/text_charset.h"

namespace lw {

namespace {

// Keys stay in the order they are set: a person reading the lines finds
// the number and the names first.
using Json = nlohmann::ordered_json;

// One line of JSON.  A text that is still not UTF-8 (a name whose bytes do
// not fit the set it names) shows U+FFFD where it breaks, instead of
// failing the report.
std::string Dumped(const Json& object) { return object.dump(-1, ' ', false, Json::error_handler_t::replace); }

Json Actions(const RuleVerdict& verdict) {
  Json actions = Json::array();
  if (!verdict.targets.empty()) {
    actions.push_back({{"action", verdict.DeletesSource() ? "move" : "copy"}, {"to", verdict.targets}});
  } else if (verdict.DeletesSource()) {
    actions.push_back({{"action", "kill"}});
  }
  for (const std::vector<std::string>& program : verdict.programs) {
    actions.push_back({{"action", "exec"}, {"command", program}});
  }
  return actions;
}

Json OrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

}  // namespace

std::string JsonMessageLine(const std::string& area_id, const MessageFacts& facts, const RuleVerdict& verdict,
                            const std::string& kept_reason) {
  Json rules = Json::array();
  for (const std::string& rule : verdict.rules) rules.push_back(ToUtf8(rule, "CP866"));
  Json line;
  line["type"] = "message";
  line["area"] = area_id;
  line["number"] = facts.number;
  line["from"] = ToUtf8(facts.from, facts.charset);
  line["to"] = ToUtf8(facts.to, facts.charset);
  line["subject"] = ToUtf8(facts.subject, facts.charset);
  line["fromaddr"] = FormatAddress(facts.orig);
  line["toaddr"] = FormatAddress(facts.dest);
  line["msgid"] = OrNull(ToUtf8(facts.msgid, facts.charset));
  line["rules"] = std::move(rules);
  line["actions"] = Actions(verdict);
  line["kept"] = OrNull(kept_reason);
  return Dumped(line);
}

std::string JsonSummaryLine(const DryRunTally& tally, const std::string& stopped_by) {
  Json line;
  line["type"] = "summary";
  line["areas"] = tally.areas;
  line["messages"] = tally.picked + tally.kept;
  line["picked"] = tally.picked;
  line["kept"] = tally.kept;
  line["unreadable"] = tally.unreadable;
  line["stopped"] = OrNull(stopped_by);
  return Dumped(line);
}

}  // namespace lw
