// The FILTER line reader and its evaluation: the input's first line is a
// FILTER line, the rest a message text.  A line that reads is evaluated on
// that message (and on a few header fields cut from the same text), and its
// catch is compared with itself, as the never-fire check does.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/config/filter_coverage.h"
#include "app/config/filter_expression.h"
#include "app/rules/filter_match.h"
#include "fidoutil/cp866.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lw;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t line_end = input.find('\n');
  std::string_view line = input.substr(0, line_end);
  std::string_view text = line_end == std::string_view::npos ? std::string_view() : input.substr(line_end + 1);
  FilterRule rule;
  FilterSyntaxError error;
  if (!ReadFilterRule(line, 0, rule, error)) {
    if (error.column == 0 || error.column > line.size() + 1) fuzz::Fail("a fault's column lies outside its line");
    if (error.text.empty()) fuzz::Fail("a fault without a reason");
    return 0;
  }
  if (rule.expression.root < 0 || rule.actions.empty()) fuzz::Fail("a rule read without an expression or action");
  const std::vector<FidoAddress> ours = {FidoAddress{2, 5020, 1, 0}};
  FilterFacts facts;
  facts.to = UpCase866(text.substr(0, 36));
  facts.from = UpCase866(text.substr(text.size() / 2, 36));
  facts.subject = UpCase866(text.substr(0, 72));
  facts.dest = FidoAddress{2, 5020, 1, static_cast<std::int16_t>(size)};
  facts.orig = FidoAddress{2, static_cast<std::int16_t>(size * 7), 1, 0};
  facts.attributes = static_cast<std::uint32_t>(size * 2654435761U);
  facts.text = text;
  facts.our_addresses = &ours;
  FilterMessage message(facts);
  const bool first = FilterMatches(rule.expression, message);
  if (FilterMatches(rule.expression, message) != first) fuzz::Fail("a second evaluation disagrees with the first");
  RuleCatch c = CatchOfExpression(rule.expression);
  if (c.known && c.terms.size() > kMaxCatchTerms) fuzz::Fail("a catch beyond its bound");
  CatchesAll(c, c);
  return 0;
}
