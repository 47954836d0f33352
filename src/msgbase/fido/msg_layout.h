// On-disk layout of a *.MSG message file: a 190-byte header, the text,
// and one NUL byte.  All integers little-endian.
//
//   offset size field
//        0   36 FromUser     sender, NUL-terminated (at most 35 characters)
//       36   36 ToUser       addressee, NUL-terminated
//       72   72 Subject      NUL-terminated (at most 71 characters)
//      144   20 DateTime     date and time as text, NUL-terminated
//      164    2 TimesRead    kept as read
//      166    2 DestNode     signed
//      168    2 OrigNode     signed
//      170    2 Cost         kept as read
//      172    2 OrigNet      signed
//      174    2 DestNet      signed
//      176    4 DateWritten  packed stamp (date low word, time high word)
//      180    4 DateArrived  packed stamp
//      184    2 ReplyTo      kept as read
//      186    2 Attr         attribute bits
//      188    2 NextReply    kept as read
//
// The "lastread" file beside the messages is an array of 16-bit message
// numbers indexed by user number.
#pragma once

#include <cstdint>
#include <cstring>

#include "msgbase/le_bytes.h"

namespace lw::fido {

inline constexpr int kHeaderSize = 190;
inline constexpr int kNameField = 36;
inline constexpr int kSubjectField = 72;
inline constexpr int kDateField = 20;

struct MsgHeader {
  char from[kNameField] = {};
  char to[kNameField] = {};
  char subject[kSubjectField] = {};
  char date_time[kDateField] = {};
  std::uint16_t times_read = 0;
  std::int16_t dest_node = 0;
  std::int16_t orig_node = 0;
  std::uint16_t cost = 0;
  std::int16_t orig_net = 0;
  std::int16_t dest_net = 0;
  std::uint32_t date_written = 0;
  std::uint32_t date_arrived = 0;
  std::uint16_t reply_to = 0;
  std::uint16_t attr = 0;
  std::uint16_t next_reply = 0;
};

static_assert(kNameField * 2 + kSubjectField + kDateField + 2 * 6 + 4 * 2 + 2 * 3 == kHeaderSize);

inline void DecodeHeader(const std::uint8_t* b, MsgHeader& h) {
  std::memcpy(h.from, b + 0, kNameField);
  std::memcpy(h.to, b + 36, kNameField);
  std::memcpy(h.subject, b + 72, kSubjectField);
  std::memcpy(h.date_time, b + 144, kDateField);
  h.times_read = GetLe16(b + 164);
  h.dest_node = static_cast<std::int16_t>(GetLe16(b + 166));
  h.orig_node = static_cast<std::int16_t>(GetLe16(b + 168));
  h.cost = GetLe16(b + 170);
  h.orig_net = static_cast<std::int16_t>(GetLe16(b + 172));
  h.dest_net = static_cast<std::int16_t>(GetLe16(b + 174));
  h.date_written = GetLe32(b + 176);
  h.date_arrived = GetLe32(b + 180);
  h.reply_to = GetLe16(b + 184);
  h.attr = GetLe16(b + 186);
  h.next_reply = GetLe16(b + 188);
}

inline void EncodeHeader(const MsgHeader& h, std::uint8_t* b) {
  std::memcpy(b + 0, h.from, kNameField);
  std::memcpy(b + 36, h.to, kNameField);
  std::memcpy(b + 72, h.subject, kSubjectField);
  std::memcpy(b + 144, h.date_time, kDateField);
  PutLe16(b + 164, h.times_read);
  PutLe16(b + 166, static_cast<std::uint16_t>(h.dest_node));
  PutLe16(b + 168, static_cast<std::uint16_t>(h.orig_node));
  PutLe16(b + 170, h.cost);
  PutLe16(b + 172, static_cast<std::uint16_t>(h.orig_net));
  PutLe16(b + 174, static_cast<std::uint16_t>(h.dest_net));
  PutLe32(b + 176, h.date_written);
  PutLe32(b + 180, h.date_arrived);
  PutLe16(b + 184, h.reply_to);
  PutLe16(b + 186, h.attr);
  PutLe16(b + 188, h.next_reply);
}

}  // namespace lw::fido
