// Whether a message meets a FILTER expression.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/config/filter_expression.h"
#include "fidoutil/address.h"

namespace lw {

// What the tests of a FILTER expression look at in one message.
struct FilterFacts {
  std::string to;       // folded to upper case (CP866) and cut, as the name rules compare it
  std::string from;     // likewise
  std::string subject;  // likewise
  FidoAddress dest;
  FidoAddress orig;
  std::uint32_t attributes = 0;  // bits of AttrMask
  std::string_view text;         // the message text as stored: body, kludge and SEEN-BY lines
  const std::vector<FidoAddress>* our_addresses = nullptr;  // the ADDRESS list; none when null
};

// One message as the FILTER tests see it.  The text is split into body and
// kludge lines (folded) the first time a TEXT or KLUDGE test asks, and only
// then: each message's text is walked once however many rules test it.
class FilterMessage {
 public:
  explicit FilterMessage(const FilterFacts& facts) : facts_(facts) {}

  const FilterFacts& Facts() const { return facts_; }
  // Lines that are neither kludges (^A first) nor SEEN-BY lines.
  const std::vector<std::string_view>& BodyLines();
  // Kludge lines without their ^A.
  const std::vector<std::string_view>& KludgeLines();

 private:
  void Split();

  const FilterFacts& facts_;
  bool split_ = false;
  std::string folded_;  // the text folded to upper case; the lines point into it
  std::vector<std::string_view> body_;
  std::vector<std::string_view> kludges_;
};

// True when `message` meets `expression` (which must hold a root).  AND
// and OR stop at the first operand that decides them.  Time: each test is
// linear in the size of what it reads times its pattern's length.
bool FilterMatches(const FilterExpression& expression, FilterMessage& message);

}  // namespace lw
