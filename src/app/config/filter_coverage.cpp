#include "app/config/filter_coverage.h"

#include "fidoutil/pattern_containment.h"

namespace lw {

namespace {

constexpr std::string_view kDigits = "0123456789";

// The terms of `a` AND `b`: every pair joined.  False when there would be
// more than kMaxCatchTerms.
bool JoinTerms(const std::vector<CatchTerm>& a, const std::vector<CatchTerm>& b, std::vector<CatchTerm>& joined) {
  if (a.size() * b.size() > kMaxCatchTerms) return false;
  joined.clear();
  for (const CatchTerm& x : a) {
    for (const CatchTerm& y : b) {
      CatchTerm t = x;
      t.to.insert(t.to.end(), y.to.begin(), y.to.end());
      t.from.insert(t.from.end(), y.from.begin(), y.from.end());
      t.subject.insert(t.subject.end(), y.subject.begin(), y.subject.end());
      t.dest.insert(t.dest.end(), y.dest.begin(), y.dest.end());
      t.orig.insert(t.orig.end(), y.orig.begin(), y.orig.end());
      t.only_these = x.only_these && y.only_these;
      joined.push_back(std::move(t));
    }
  }
  return true;
}

RuleCatch CatchOfNode(const FilterExpression& expression, int index) {
  const FilterNode& node = expression.nodes[static_cast<std::size_t>(index)];
  RuleCatch c;
  CatchTerm term;
  switch (node.kind) {
    case FilterNode::Kind::kNot:
      // What a negation leaves is not listed: it only narrows its term.
      term.only_these = false;
      c.terms.push_back(term);
      return c;
    case FilterNode::Kind::kOr:
      for (int operand : node.operands) {
        RuleCatch part = CatchOfNode(expression, operand);
        if (!part.known || c.terms.size() + part.terms.size() > kMaxCatchTerms) return RuleCatch{{}, false};
        c.terms.insert(c.terms.end(), part.terms.begin(), part.terms.end());
      }
      return c;
    case FilterNode::Kind::kAnd:
      c.terms.push_back(term);
      for (int operand : node.operands) {
        RuleCatch part = CatchOfNode(expression, operand);
        std::vector<CatchTerm> joined;
        if (!part.known || !JoinTerms(c.terms, part.terms, joined)) return RuleCatch{{}, false};
        c.terms = std::move(joined);
      }
      return c;
    case FilterNode::Kind::kTest: break;
  }
  switch (node.test) {
    case FilterTest::kTo: term.to.push_back(node.pattern); break;
    case FilterTest::kFrom: term.from.push_back(node.pattern); break;
    case FilterTest::kSubj: term.subject.push_back(node.pattern); break;
    case FilterTest::kToAddr: term.dest.push_back(node.address); break;
    case FilterTest::kFromAddr: term.orig.push_back(node.address); break;
    case FilterTest::kText:
    case FilterTest::kKludge:
    case FilterTest::kAttr:
    case FilterTest::kToUs:
    case FilterTest::kFromUs:
    case FilterTest::kToPoint: term.only_these = false; break;
  }
  c.terms.push_back(term);
  return c;
}

bool Contained(const std::vector<std::string_view>& narrow, const std::string& wide, std::string_view alphabet) {
  return PatternsContained(narrow, wide, alphabet) == Containment::kContained;
}

// Every text matching all of `narrow` matches each of `wide`.
bool PatternsWithin(const std::vector<std::string>& narrow, const std::vector<std::string>& wide) {
  std::vector<std::string_view> views(narrow.begin(), narrow.end());
  for (const std::string& w : wide) {
    if (!Contained(views, w, {})) return false;
  }
  return true;
}

bool AddressesWithin(const std::vector<AddressPattern>& narrow, const std::vector<AddressPattern>& wide) {
  for (const AddressPattern& w : wide) {
    std::vector<std::string_view> zone, net, node, point;
    for (const AddressPattern& n : narrow) {
      zone.emplace_back(n.zone);
      net.emplace_back(n.net);
      node.emplace_back(n.node);
      point.emplace_back(n.point);
    }
    if (!Contained(zone, w.zone, kDigits) || !Contained(net, w.net, kDigits) || !Contained(node, w.node, kDigits) ||
        !Contained(point, w.point, kDigits)) {
      return false;
    }
  }
  return true;
}

bool TermWithin(const CatchTerm& narrow, const CatchTerm& wide) {
  return wide.only_these && PatternsWithin(narrow.to, wide.to) && PatternsWithin(narrow.from, wide.from) &&
         PatternsWithin(narrow.subject, wide.subject) && AddressesWithin(narrow.dest, wide.dest) &&
         AddressesWithin(narrow.orig, wide.orig);
}

}  // namespace

RuleCatch CatchOfExpression(const FilterExpression& expression) {
  if (expression.root < 0) return RuleCatch{{}, false};
  return CatchOfNode(expression, expression.root);
}

RuleCatch CatchOfPattern(CatchField field, const std::string& pattern) {
  CatchTerm term;
  switch (field) {
    case CatchField::kTo: term.to.push_back(pattern); break;
    case CatchField::kFrom: term.from.push_back(pattern); break;
    case CatchField::kSubject: term.subject.push_back(pattern); break;
    case CatchField::kDest:
    case CatchField::kOrig: return RuleCatch{{}, false};
  }
  return RuleCatch{{term}, true};
}

RuleCatch CatchOfAddress(CatchField field, const AddressPattern& pattern) {
  CatchTerm term;
  if (field == CatchField::kDest) {
    term.dest.push_back(pattern);
  } else if (field == CatchField::kOrig) {
    term.orig.push_back(pattern);
  } else {
    return RuleCatch{{}, false};
  }
  return RuleCatch{{term}, true};
}

bool CatchesAll(const RuleCatch& earlier, const RuleCatch& later) {
  if (!earlier.known || !later.known) return false;
  for (const CatchTerm& narrow : later.terms) {
    bool within = false;
    for (const CatchTerm& wide : earlier.terms) {
      if (TermWithin(narrow, wide)) {
        within = true;
        break;
      }
    }
    if (!within) return false;
  }
  return true;
}

}  // namespace lw
