// The FILTER rule line: "<expression> THEN <action>[, <action>...]", read
// into a tree of tests joined by AND, OR and NOT.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fidoutil/address_mask.h"

namespace lw {

enum class FilterTest {
  kTo,        // the addressee's name matches a pattern
  kFrom,      // the sender's name matches a pattern
  kSubj,      // the subject matches a pattern
  kToAddr,    // the destination address matches an address pattern
  kFromAddr,  // the origin address matches an address pattern
  kText,      // some body line (not a kludge, not SEEN-BY) matches a pattern
  kKludge,    // some kludge line, without its ^A, matches a pattern
  kAttr,      // the message has an attribute
  kToUs,      // the destination is one of our addresses
  kFromUs,    // the origin is one of our addresses
  kToPoint,   // the destination is a point of one of our addresses
};

struct FilterNode {
  enum class Kind { kTest, kNot, kAnd, kOr };
  Kind kind = Kind::kTest;
  FilterTest test = FilterTest::kTo;
  std::string pattern;          // kTo .. kSubj, kText, kKludge: folded to upper case (CP866)
  AddressPattern address;       // kToAddr, kFromAddr
  std::uint32_t attribute = 0;  // kAttr: one bit of AttrMask
  std::vector<int> operands;    // kNot: one; kAnd, kOr: two or more (indexes into the nodes)
};

// The tree of a FILTER expression; nodes[root] is the whole expression.
struct FilterExpression {
  std::vector<FilterNode> nodes;
  int root = -1;
};

enum class FilterActionKind { kCopy, kMove, kKill, kExec, kContinue };

struct FilterAction {
  FilterActionKind kind = FilterActionKind::kKill;
  std::string target;              // kCopy, kMove: the area identifier as written
  std::vector<std::string> words;  // kExec: the program and its arguments
};

struct FilterRule {
  FilterExpression expression;
  std::vector<FilterAction> actions;  // in the order written
  bool continues = false;             // a CONTINUE is among the actions
  bool reads_text = false;            // a TEXT or KLUDGE test is in the expression
  std::string text;                   // the expression as written (before THEN)
};

// Where a FILTER line is malformed and why.
struct FilterSyntaxError {
  std::size_t column = 0;  // 1-based, in the line given to ReadFilterRule
  std::string text;
};

// Keywords are read in any case.  A value is one word (ended by a blank, a
// parenthesis or a comma) or a double-quoted string in which a backslash
// before " or another backslash stands for that character.  AND binds
// tighter than OR; NOT applies to the test or parenthesised group after
// it.  Names are cut at the length the message fields keep, subjects
// likewise.
//
// Reads `line` from `start` (the text after the FILTER key) into `rule`.
// False, with `error` naming the column of the fault, for anything the
// grammar does not allow: an unknown test or attribute, a missing value,
// an address pattern that cannot be read, unbalanced parentheses, groups
// nested deeper than kMaxFilterDepth, no THEN, no action, COPY or MOVE
// without a target, EXEC without a program.
inline constexpr int kMaxFilterDepth = 64;
bool ReadFilterRule(std::string_view line, std::size_t start, FilterRule& rule, FilterSyntaxError& error);

}  // namespace lw
