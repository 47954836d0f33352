#include "app/rules/filter_match.h"

#include "fidoutil/address_mask.h"
#include "fidoutil/cp866.h"
#include "fidoutil/name_pattern.h"
#include "msgbase/text_lines.h"

namespace lw {

namespace {

constexpr char kKludgeMark = '\x01';
constexpr std::string_view kSeenBy = "SEEN-BY:";

bool AnyLineMatches(const std::vector<std::string_view>& lines, const std::string& pattern) {
  for (std::string_view line : lines) {
    if (PatternMatches(pattern, line)) return true;
  }
  return false;
}

bool IsOurs(const FilterFacts& facts, const FidoAddress& addr) {
  if (facts.our_addresses == nullptr) return false;
  for (const FidoAddress& ours : *facts.our_addresses) {
    if (ours == addr) return true;
  }
  return false;
}

bool IsPointOfOurs(const FilterFacts& facts, const FidoAddress& addr) {
  if (facts.our_addresses == nullptr || addr.point == 0) return false;
  for (const FidoAddress& ours : *facts.our_addresses) {
    if (ours.zone == addr.zone && ours.net == addr.net && ours.node == addr.node) return true;
  }
  return false;
}

bool TestMatches(const FilterNode& node, FilterMessage& message) {
  const FilterFacts& facts = message.Facts();
  switch (node.test) {
    case FilterTest::kTo: return PatternMatches(node.pattern, facts.to);
    case FilterTest::kFrom: return PatternMatches(node.pattern, facts.from);
    case FilterTest::kSubj: return PatternMatches(node.pattern, facts.subject);
    case FilterTest::kToAddr: return AddressPatternMatches(node.address, facts.dest);
    case FilterTest::kFromAddr: return AddressPatternMatches(node.address, facts.orig);
    case FilterTest::kText: return AnyLineMatches(message.BodyLines(), node.pattern);
    case FilterTest::kKludge: return AnyLineMatches(message.KludgeLines(), node.pattern);
    case FilterTest::kAttr: return (facts.attributes & node.attribute) != 0;
    case FilterTest::kToUs: return IsOurs(facts, facts.dest);
    case FilterTest::kFromUs: return IsOurs(facts, facts.orig);
    case FilterTest::kToPoint: return IsPointOfOurs(facts, facts.dest);
  }
  return false;
}

// The reader bounds the nesting, so the recursion is bounded too.
bool NodeMatches(const FilterExpression& expression, int index, FilterMessage& message) {
  const FilterNode& node = expression.nodes[static_cast<std::size_t>(index)];
  switch (node.kind) {
    case FilterNode::Kind::kTest: return TestMatches(node, message);
    case FilterNode::Kind::kNot: return !NodeMatches(expression, node.operands[0], message);
    case FilterNode::Kind::kAnd:
      for (int operand : node.operands) {
        if (!NodeMatches(expression, operand, message)) return false;
      }
      return true;
    case FilterNode::Kind::kOr:
      for (int operand : node.operands) {
        if (NodeMatches(expression, operand, message)) return true;
      }
      return false;
  }
  return false;
}

}  // namespace

void FilterMessage::Split() {
  split_ = true;
  folded_ = UpCase866(facts_.text);
  const std::string_view text = folded_;
  for (std::size_t at = 0; at < text.size();) {
    LineBounds bounds = FindLineEnd(text, at);
    std::string_view line = text.substr(at, bounds.end - at);
    if (!line.empty() && line[0] == kKludgeMark) {
      kludges_.push_back(line.substr(1));
    } else if (line.substr(0, kSeenBy.size()) != kSeenBy) {
      body_.push_back(line);
    }
    at = bounds.next;
  }
}

const std::vector<std::string_view>& FilterMessage::BodyLines() {
  if (!split_) Split();
  return body_;
}

const std::vector<std::string_view>& FilterMessage::KludgeLines() {
  if (!split_) Split();
  return kludges_;
}

bool FilterMatches(const FilterExpression& expression, FilterMessage& message) {
  return NodeMatches(expression, expression.root, message);
}

}  // namespace lw
