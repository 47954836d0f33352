// On-disk layout of a *.MSG message file: a 190-byte header, the text,
// and one NUL byte.  All integers little-endian.
//
// Every field's offset is named once below, with the size of each text
// field; Decode and Encode reach the fields only by those names, and the
// static_asserts tie the names to the header's size.
//
// The "lastread" file beside the messages is an array of 16-bit message
// numbers indexed by user number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "msgbase/le_bytes.h"

namespace lw::fido {

// Sizes of the text fields.
inline constexpr std::size_t kNameField = 36;
inline constexpr std::size_t kSubjectField = 72;
inline constexpr std::size_t kDateField = 20;

// Where each header field starts.
inline constexpr std::size_t kFromUserOffset = 0;     // sender, NUL-ended (at most 35 characters)
inline constexpr std::size_t kToUserOffset = 36;      // addressee, NUL-ended
inline constexpr std::size_t kSubjectOffset = 72;     // NUL-ended (at most 71 characters)
inline constexpr std::size_t kDateTimeOffset = 144;   // date and time as text, NUL-ended
inline constexpr std::size_t kTimesReadOffset = 164;  // kept as read
inline constexpr std::size_t kDestNodeOffset = 166;   // signed, as the other address fields
inline constexpr std::size_t kOrigNodeOffset = 168;
inline constexpr std::size_t kCostOffset = 170;  // kept as read
inline constexpr std::size_t kOrigNetOffset = 172;
inline constexpr std::size_t kDestNetOffset = 174;
inline constexpr std::size_t kDateWrittenOffset = 176;  // packed stamp: date low word, time high word
inline constexpr std::size_t kDateArrivedOffset = 180;  // packed stamp
inline constexpr std::size_t kReplyToOffset = 184;      // kept as read
inline constexpr std::size_t kAttrOffset = 186;         // attribute bits
inline constexpr std::size_t kNextReplyOffset = 188;    // kept as read
inline constexpr std::size_t kMsgHeaderSize = 190;

// The same size as a signed count, for code that measures files with one.
inline constexpr int kHeaderSize = static_cast<int>(kMsgHeaderSize);

// Each field starts where the one before it ends, and the last one ends
// the header.
static_assert(kFromUserOffset == 0);
static_assert(kToUserOffset == kFromUserOffset + kNameField);
static_assert(kSubjectOffset == kToUserOffset + kNameField);
static_assert(kDateTimeOffset == kSubjectOffset + kSubjectField);
static_assert(kTimesReadOffset == kDateTimeOffset + kDateField);
static_assert(kDestNodeOffset == kTimesReadOffset + 2);
static_assert(kOrigNodeOffset == kDestNodeOffset + 2);
static_assert(kCostOffset == kOrigNodeOffset + 2);
static_assert(kOrigNetOffset == kCostOffset + 2);
static_assert(kDestNetOffset == kOrigNetOffset + 2);
static_assert(kDateWrittenOffset == kDestNetOffset + 2);
static_assert(kDateArrivedOffset == kDateWrittenOffset + 4);
static_assert(kReplyToOffset == kDateArrivedOffset + 4);
static_assert(kAttrOffset == kReplyToOffset + 2);
static_assert(kNextReplyOffset == kAttrOffset + 2);
static_assert(kMsgHeaderSize == kNextReplyOffset + 2);

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

using HeaderBytes = std::span<const std::uint8_t, kMsgHeaderSize>;
using MutableHeaderBytes = std::span<std::uint8_t, kMsgHeaderSize>;

// The header the 190 bytes of `b` hold; every byte pattern is a header.
inline MsgHeader Decode(HeaderBytes b) {
  MsgHeader h;
  const std::uint8_t* p = b.data();
  std::memcpy(h.from, p + kFromUserOffset, kNameField);
  std::memcpy(h.to, p + kToUserOffset, kNameField);
  std::memcpy(h.subject, p + kSubjectOffset, kSubjectField);
  std::memcpy(h.date_time, p + kDateTimeOffset, kDateField);
  h.times_read = GetLe16(p + kTimesReadOffset);
  h.dest_node = static_cast<std::int16_t>(GetLe16(p + kDestNodeOffset));
  h.orig_node = static_cast<std::int16_t>(GetLe16(p + kOrigNodeOffset));
  h.cost = GetLe16(p + kCostOffset);
  h.orig_net = static_cast<std::int16_t>(GetLe16(p + kOrigNetOffset));
  h.dest_net = static_cast<std::int16_t>(GetLe16(p + kDestNetOffset));
  h.date_written = GetLe32(p + kDateWrittenOffset);
  h.date_arrived = GetLe32(p + kDateArrivedOffset);
  h.reply_to = GetLe16(p + kReplyToOffset);
  h.attr = GetLe16(p + kAttrOffset);
  h.next_reply = GetLe16(p + kNextReplyOffset);
  return h;
}

// Writes `h` over all 190 bytes of `b`.
inline void Encode(const MsgHeader& h, MutableHeaderBytes b) {
  std::uint8_t* p = b.data();
  std::memcpy(p + kFromUserOffset, h.from, kNameField);
  std::memcpy(p + kToUserOffset, h.to, kNameField);
  std::memcpy(p + kSubjectOffset, h.subject, kSubjectField);
  std::memcpy(p + kDateTimeOffset, h.date_time, kDateField);
  PutLe16(p + kTimesReadOffset, h.times_read);
  PutLe16(p + kDestNodeOffset, static_cast<std::uint16_t>(h.dest_node));
  PutLe16(p + kOrigNodeOffset, static_cast<std::uint16_t>(h.orig_node));
  PutLe16(p + kCostOffset, h.cost);
  PutLe16(p + kOrigNetOffset, static_cast<std::uint16_t>(h.orig_net));
  PutLe16(p + kDestNetOffset, static_cast<std::uint16_t>(h.dest_net));
  PutLe32(p + kDateWrittenOffset, h.date_written);
  PutLe32(p + kDateArrivedOffset, h.date_arrived);
  PutLe16(p + kReplyToOffset, h.reply_to);
  PutLe16(p + kAttrOffset, h.attr);
  PutLe16(p + kNextReplyOffset, h.next_reply);
}

}  // namespace lw::fido
