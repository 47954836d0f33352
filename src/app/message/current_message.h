// The header of the message being judged and copied.
#pragma once

#include <string>
#include <string_view>

#include "fidoutil/address.h"
#include "fidoutil/dates.h"

namespace lw {

// Names are compared, and subjects copied, up to these many characters.
inline constexpr std::size_t kMaxNameLength = 36;
inline constexpr std::size_t kMaxSubjectLength = 72;

inline std::string CutName(std::string_view name) { return std::string(name.substr(0, kMaxNameLength)); }
inline std::string CutSubject(std::string_view subject) { return std::string(subject.substr(0, kMaxSubjectLength)); }

struct CurrentMessage {
  std::string from;     // at most kMaxNameLength characters
  std::string to;       // at most kMaxNameLength characters
  std::string subject;  // at most kMaxSubjectLength characters
  FidoAddress dest;
  FidoAddress orig;
  MsgDateTime written;
  MsgDateTime arrived;
};

}  // namespace lw
