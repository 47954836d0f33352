// A fingerprint of a message that is the same in every format the message
// is copied into, so a copy can be recognised in its destination.
#pragma once

#include <cstdint>
#include <string_view>

#include "app/message/current_message.h"
#include "msgbase/message_base.h"

namespace lw {

// The 64-bit FNV-1a hash, fed piece by piece.
class Fnv1a {
 public:
  void Add(std::string_view bytes) {
    for (char c : bytes) {
      value_ ^= static_cast<unsigned char>(c);
      value_ *= 0x100000001b3ULL;
    }
  }
  std::uint64_t value() const { return value_; }

 private:
  std::uint64_t value_ = 0xcbf29ce484222325ULL;
};

// Fills `msg` from the header of the open current message of `area`:
// names and subject cut as the rules compare them, addresses, dates.
void ReadHeader(MessageBase& area, CurrentMessage& msg);

// A 64-bit FNV-1a digest of the open current message of `base`, whose
// header is `msg`: over the names, the subject, the origin address, the
// MSGID kludge's value and the text without its kludge lines (lines are
// compared without their line ends, and empty lines at the end are left
// out).  Not over what a copy into some format does not keep: the dates
// (a Squish base keeps them to two seconds), the attributes, the address
// kludges (a JAM base keeps the addresses in its header and gives them
// back as kludges of its own; a *.MSG copy gains those its header cannot
// hold), and the destination address (JAM addresses a message that names
// none to its origin).  Reads the text from its start; the text position is
// left unspecified.  A message whose text cannot be read gets the digest
// of what could be read.
std::uint64_t MessageDigest(MessageBase& base, const CurrentMessage& msg);

}  // namespace lw
