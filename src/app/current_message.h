// The header of the message being judged and copied.
#pragma once

#include "fidoutil/address.h"
#include "fidoutil/dates.h"
#include "fidoutil/short_str.h"

namespace lw {

inline constexpr std::size_t kMaxSubjectLength = 72;

struct CurrentMessage {
  ShortStr from;     // at most 36 characters
  ShortStr to;       // at most 36 characters
  ShortStr subject;  // at most 72 characters
  FidoAddress dest;
  FidoAddress orig;
  MsgDateTime written;
  MsgDateTime arrived;
};

}  // namespace lw
