// Which messages a rule can catch, in a form that lets one rule be shown to
// catch every message another one could: the ground of the warning about
// a rule that can never fire.
#pragma once

#include <string>
#include <vector>

#include "app/config/filter_expression.h"
#include "fidoutil/address_mask.h"

namespace lw {

// A conjunction of name, subject and address tests: the messages that meet
// every pattern listed.
struct CatchTerm {
  std::vector<std::string> to;  // folded name patterns
  std::vector<std::string> from;
  std::vector<std::string> subject;  // folded subject patterns
  std::vector<AddressPattern> dest;
  std::vector<AddressPattern> orig;
  // False when the conjunction also holds tests the analysis does not
  // know (text, kludges, attributes, our addresses, a NOT): it then catches
  // fewer messages than the lists alone say.
  bool only_these = true;
};

// The messages a rule can catch: those of any of the terms.  When `known`
// is false the rule's expression could not be put in this form and the
// terms say nothing.
struct RuleCatch {
  std::vector<CatchTerm> terms;
  bool known = true;
};

// At most this many terms are made of one expression; a larger one is not
// known.
inline constexpr std::size_t kMaxCatchTerms = 64;

// The catch of a FILTER expression.  Each NOT and each test other than a
// name, subject or address pattern narrows its term without being listed.
RuleCatch CatchOfExpression(const FilterExpression& expression);

// The catch of a rule of one field: a name or subject pattern (folded), or
// an address pattern.
enum class CatchField { kTo, kFrom, kSubject, kDest, kOrig };
RuleCatch CatchOfPattern(CatchField field, const std::string& pattern);
RuleCatch CatchOfAddress(CatchField field, const AddressPattern& pattern);

// True only when it is proven that every message `later` can catch,
// `earlier` catches too: each term of `later` lies within one term of
// `earlier` that has no other tests (glob containment of the patterns of
// each field, address patterns part by part over digit strings).  Exact
// when both are single terms of name, subject and address patterns; false
// wherever the question is not decided (a term of `earlier` with other
// tests, a search beyond its bound, an unknown catch).
bool CatchesAll(const RuleCatch& earlier, const RuleCatch& later);

}  // namespace lw
