// On-disk layout of a JAM message base.  All integers little-endian.
//
// <base>.jhr: a 1024-byte fixed header, then one message header (76 bytes
//   followed by SubfieldLen bytes of subfields) per stored message.
// <base>.jdx: one 8-byte index record per message number; the record of
//   message n lies at (n - BaseMsgNum) * 8.  A deleted message keeps its
//   record with both fields 0xFFFFFFFF, so numbers never change.
// <base>.jdt: the message bodies.
// <base>.jlr: 16-byte lastread records, in any order.
//
// Every field's offset is named once below (fixed_at, header_at,
// subfield_at, index_at, lastread_at); Decode and Encode take buffers of
// exactly one record and reach the fields only by those names, and the
// static_asserts tie the names to the record sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "msgbase/le_bytes.h"

namespace lw::jam {

inline constexpr int kFixedHeaderSize = 1024;
inline constexpr int kMsgHeaderSize = 76;
inline constexpr int kSubfieldHeaderSize = 8;
inline constexpr int kIndexRecordSize = 8;
inline constexpr int kLastReadSize = 16;
inline constexpr std::size_t kSignatureSize = 4;
inline constexpr std::uint8_t kSignature[kSignatureSize] = {'J', 'A', 'M', 0};
inline constexpr std::uint32_t kNone = 0xFFFFFFFFu;  // no CRC, no password, deleted record
inline constexpr std::uint32_t kAttrDeleted = 0x80000000u;

// Fixed header at the start of .jhr.
namespace fixed_at {
inline constexpr std::size_t kSignature = 0;
inline constexpr std::size_t kDateCreated = 4;
inline constexpr std::size_t kModCounter = 8;
inline constexpr std::size_t kActiveMsgs = 12;
inline constexpr std::size_t kPasswordCrc = 16;
inline constexpr std::size_t kBaseMsgNum = 20;
inline constexpr std::size_t kReserved = 24;
inline constexpr std::size_t kReservedSize = 1000;
}  // namespace fixed_at
static_assert(fixed_at::kReserved + fixed_at::kReservedSize == kFixedHeaderSize);

// Message header in .jhr; its subfields follow it.
namespace header_at {
inline constexpr std::size_t kSignature = 0;
inline constexpr std::size_t kRevision = 4;
inline constexpr std::size_t kReservedWord = 6;
inline constexpr std::size_t kSubfieldLen = 8;
inline constexpr std::size_t kTimesRead = 12;
inline constexpr std::size_t kMsgIdCrc = 16;
inline constexpr std::size_t kReplyCrc = 20;
inline constexpr std::size_t kReplyTo = 24;
inline constexpr std::size_t kReply1st = 28;
inline constexpr std::size_t kReplyNext = 32;
inline constexpr std::size_t kDateWritten = 36;
inline constexpr std::size_t kDateReceived = 40;
inline constexpr std::size_t kDateProcessed = 44;
inline constexpr std::size_t kMessageNumber = 48;
inline constexpr std::size_t kAttribute = 52;
inline constexpr std::size_t kAttribute2 = 56;
inline constexpr std::size_t kOffset = 60;  // of the body in .jdt
inline constexpr std::size_t kTxtLen = 64;
inline constexpr std::size_t kPasswordCrc = 68;
inline constexpr std::size_t kCost = 72;
}  // namespace header_at
static_assert(header_at::kCost + 4 == kMsgHeaderSize);

// Subfield header; DatLen bytes of data follow it.
namespace subfield_at {
inline constexpr std::size_t kLoId = 0;
inline constexpr std::size_t kHiId = 2;
inline constexpr std::size_t kDatLen = 4;
}  // namespace subfield_at
static_assert(subfield_at::kDatLen + 4 == kSubfieldHeaderSize);

// Index record in .jdx.
namespace index_at {
inline constexpr std::size_t kUserCrc = 0;
inline constexpr std::size_t kHdrOffset = 4;
}  // namespace index_at
static_assert(index_at::kHdrOffset + 4 == kIndexRecordSize);

// Lastread record in .jlr.
namespace lastread_at {
inline constexpr std::size_t kUserCrc = 0;
inline constexpr std::size_t kUserId = 4;
inline constexpr std::size_t kLastReadMsg = 8;
inline constexpr std::size_t kHighReadMsg = 12;
}  // namespace lastread_at
static_assert(lastread_at::kHighReadMsg + 4 == kLastReadSize);

enum SubfieldId : std::uint16_t {
  kOAddress = 0,
  kDAddress = 1,
  kSenderName = 2,
  kReceiverName = 3,
  kMsgId = 4,
  kReplyId = 5,
  kSubject = 6,
  kPid = 7,
  kTraceVia = 8,
  kEnclosedFile = 9,
  kEnclosedFreq = 11,
  kFtsKludge = 2000,
  kSeenBy2D = 2001,
  kPath2D = 2002,
  kFlags = 2003,
};

struct FixedHeader {
  std::uint8_t signature[kSignatureSize] = {'J', 'A', 'M', 0};
  std::uint32_t date_created = 0;
  std::uint32_t mod_counter = 0;
  std::uint32_t active_msgs = 0;
  std::uint32_t password_crc = kNone;
  std::uint32_t base_msg_num = 1;
  std::uint8_t reserved[fixed_at::kReservedSize] = {};
};

// The change-in-progress marker: four bytes of the fixed header's reserved
// area hold it from the first fixed header a multi-step change writes
// until the one that completes it.  A reserved field rather than a file
// beside the base: the changes write and sync the fixed header anyway (or
// sync .jhr, where it lies, before the steps an open cannot check
// cheaply), so the marker needs no folder entry and no sync of its own and
// is durable exactly when it must be; other programs keep or ignore
// reserved bytes, so the base stays valid for them.  It ends the first
// 512-byte sector, beside ActiveMsgs: a disk that tears the fixed header's
// write at a sector keeps the count and the marker together or neither.
// Earlier builds kept it at the end of the reserved area, in the second
// sector; a base one of them left in the middle of a change carries it
// there, so it is looked for there too and taken out of both places.
inline constexpr std::size_t kChangeMarkerAt = 512 - fixed_at::kReserved - 4;
inline constexpr std::size_t kEarlierChangeMarkerAt = fixed_at::kReservedSize - 4;
inline constexpr std::uint8_t kChangeMarker[4] = {'L', 'w', 'C', 'h'};
static_assert(fixed_at::kReserved + kChangeMarkerAt + sizeof kChangeMarker <= 512);

inline bool HasChangeMarker(const FixedHeader& h) {
  return std::memcmp(h.reserved + kChangeMarkerAt, kChangeMarker, sizeof kChangeMarker) == 0 ||
         std::memcmp(h.reserved + kEarlierChangeMarkerAt, kChangeMarker, sizeof kChangeMarker) == 0;
}

// `h` with the marker set (`on`) or taken out; bytes that are not the
// marker are left as another program wrote them.
inline FixedHeader WithChangeMarker(FixedHeader h, bool on) {
  if (on) {
    std::memcpy(h.reserved + kChangeMarkerAt, kChangeMarker, sizeof kChangeMarker);
    return h;
  }
  for (std::size_t at : {kChangeMarkerAt, kEarlierChangeMarkerAt}) {
    if (std::memcmp(h.reserved + at, kChangeMarker, sizeof kChangeMarker) == 0) {
      std::memset(h.reserved + at, 0, sizeof kChangeMarker);
    }
  }
  return h;
}

struct MsgHeader {
  std::uint8_t signature[kSignatureSize] = {'J', 'A', 'M', 0};
  std::uint16_t revision = 1;
  std::uint16_t reserved_word = 0;
  std::uint32_t subfield_len = 0;
  std::uint32_t times_read = 0;
  std::uint32_t msgid_crc = kNone;
  std::uint32_t reply_crc = kNone;
  std::uint32_t reply_to = 0;
  std::uint32_t reply_1st = 0;
  std::uint32_t reply_next = 0;
  std::uint32_t date_written = 0;
  std::uint32_t date_received = 0;
  std::uint32_t date_processed = 0;
  std::uint32_t message_number = 0;
  std::uint32_t attribute = 0;
  std::uint32_t attribute2 = 0;
  std::uint32_t offset = 0;
  std::uint32_t txt_len = 0;
  std::uint32_t password_crc = kNone;
  std::uint32_t cost = 0;
};

struct IndexRecord {
  std::uint32_t user_crc = kNone;
  std::uint32_t hdr_offset = kNone;
};

struct LastRead {
  std::uint32_t user_crc = 0;
  std::uint32_t user_id = 0;
  std::uint32_t last_read_msg = 0;
  std::uint32_t high_read_msg = 0;
};

// One record's bytes, read-only and writable.
template <int kSize>
using RecordIn = std::span<const std::uint8_t, static_cast<std::size_t>(kSize)>;
template <int kSize>
using RecordOut = std::span<std::uint8_t, static_cast<std::size_t>(kSize)>;

// The field at `kAt` of a record; the bounds are checked when compiling.
template <std::size_t kAt, std::size_t kSize>
std::uint32_t Get32(std::span<const std::uint8_t, kSize> b) {
  static_assert(kAt + 4 <= kSize);
  return GetLe32(b.data() + kAt);
}
template <std::size_t kAt, std::size_t kSize>
std::uint16_t Get16(std::span<const std::uint8_t, kSize> b) {
  static_assert(kAt + 2 <= kSize);
  return GetLe16(b.data() + kAt);
}
template <std::size_t kAt, std::size_t kSize>
void Put32(std::span<std::uint8_t, kSize> b, std::uint32_t v) {
  static_assert(kAt + 4 <= kSize);
  PutLe32(b.data() + kAt, v);
}
template <std::size_t kAt, std::size_t kSize>
void Put16(std::span<std::uint8_t, kSize> b, std::uint16_t v) {
  static_assert(kAt + 2 <= kSize);
  PutLe16(b.data() + kAt, v);
}

inline void Decode(RecordIn<kFixedHeaderSize> b, FixedHeader& h) {
  std::memcpy(h.signature, b.data() + fixed_at::kSignature, kSignatureSize);
  h.date_created = Get32<fixed_at::kDateCreated>(b);
  h.mod_counter = Get32<fixed_at::kModCounter>(b);
  h.active_msgs = Get32<fixed_at::kActiveMsgs>(b);
  h.password_crc = Get32<fixed_at::kPasswordCrc>(b);
  h.base_msg_num = Get32<fixed_at::kBaseMsgNum>(b);
  std::memcpy(h.reserved, b.data() + fixed_at::kReserved, fixed_at::kReservedSize);
}

inline void Encode(const FixedHeader& h, RecordOut<kFixedHeaderSize> b) {
  std::memcpy(b.data() + fixed_at::kSignature, h.signature, kSignatureSize);
  Put32<fixed_at::kDateCreated>(b, h.date_created);
  Put32<fixed_at::kModCounter>(b, h.mod_counter);
  Put32<fixed_at::kActiveMsgs>(b, h.active_msgs);
  Put32<fixed_at::kPasswordCrc>(b, h.password_crc);
  Put32<fixed_at::kBaseMsgNum>(b, h.base_msg_num);
  std::memcpy(b.data() + fixed_at::kReserved, h.reserved, fixed_at::kReservedSize);
}

inline void Decode(RecordIn<kMsgHeaderSize> b, MsgHeader& h) {
  using namespace header_at;
  std::memcpy(h.signature, b.data() + header_at::kSignature, kSignatureSize);
  h.revision = Get16<kRevision>(b);
  h.reserved_word = Get16<kReservedWord>(b);
  h.subfield_len = Get32<kSubfieldLen>(b);
  h.times_read = Get32<kTimesRead>(b);
  h.msgid_crc = Get32<kMsgIdCrc>(b);
  h.reply_crc = Get32<kReplyCrc>(b);
  h.reply_to = Get32<kReplyTo>(b);
  h.reply_1st = Get32<kReply1st>(b);
  h.reply_next = Get32<kReplyNext>(b);
  h.date_written = Get32<kDateWritten>(b);
  h.date_received = Get32<kDateReceived>(b);
  h.date_processed = Get32<kDateProcessed>(b);
  h.message_number = Get32<kMessageNumber>(b);
  h.attribute = Get32<kAttribute>(b);
  h.attribute2 = Get32<kAttribute2>(b);
  h.offset = Get32<kOffset>(b);
  h.txt_len = Get32<kTxtLen>(b);
  h.password_crc = Get32<kPasswordCrc>(b);
  h.cost = Get32<kCost>(b);
}

inline void Encode(const MsgHeader& h, RecordOut<kMsgHeaderSize> b) {
  using namespace header_at;
  std::memcpy(b.data() + header_at::kSignature, h.signature, kSignatureSize);
  Put16<kRevision>(b, h.revision);
  Put16<kReservedWord>(b, h.reserved_word);
  Put32<kSubfieldLen>(b, h.subfield_len);
  Put32<kTimesRead>(b, h.times_read);
  Put32<kMsgIdCrc>(b, h.msgid_crc);
  Put32<kReplyCrc>(b, h.reply_crc);
  Put32<kReplyTo>(b, h.reply_to);
  Put32<kReply1st>(b, h.reply_1st);
  Put32<kReplyNext>(b, h.reply_next);
  Put32<kDateWritten>(b, h.date_written);
  Put32<kDateReceived>(b, h.date_received);
  Put32<kDateProcessed>(b, h.date_processed);
  Put32<kMessageNumber>(b, h.message_number);
  Put32<kAttribute>(b, h.attribute);
  Put32<kAttribute2>(b, h.attribute2);
  Put32<kOffset>(b, h.offset);
  Put32<kTxtLen>(b, h.txt_len);
  Put32<kPasswordCrc>(b, h.password_crc);
  Put32<kCost>(b, h.cost);
}

inline void Decode(RecordIn<kIndexRecordSize> b, IndexRecord& r) {
  r.user_crc = Get32<index_at::kUserCrc>(b);
  r.hdr_offset = Get32<index_at::kHdrOffset>(b);
}

inline void Encode(const IndexRecord& r, RecordOut<kIndexRecordSize> b) {
  Put32<index_at::kUserCrc>(b, r.user_crc);
  Put32<index_at::kHdrOffset>(b, r.hdr_offset);
}

inline void Decode(RecordIn<kLastReadSize> b, LastRead& r) {
  r.user_crc = Get32<lastread_at::kUserCrc>(b);
  r.user_id = Get32<lastread_at::kUserId>(b);
  r.last_read_msg = Get32<lastread_at::kLastReadMsg>(b);
  r.high_read_msg = Get32<lastread_at::kHighReadMsg>(b);
}

inline void Encode(const LastRead& r, RecordOut<kLastReadSize> b) {
  Put32<lastread_at::kUserCrc>(b, r.user_crc);
  Put32<lastread_at::kUserId>(b, r.user_id);
  Put32<lastread_at::kLastReadMsg>(b, r.last_read_msg);
  Put32<lastread_at::kHighReadMsg>(b, r.high_read_msg);
}

// For callers that hold a record inside a larger buffer: `b` must point at
// a whole record (the caller has checked it lies inside its buffer).
inline void Decode(const std::uint8_t* b, FixedHeader& h) {
  Decode(RecordIn<kFixedHeaderSize>(b, kFixedHeaderSize), h);
}
inline void Decode(const std::uint8_t* b, MsgHeader& h) { Decode(RecordIn<kMsgHeaderSize>(b, kMsgHeaderSize), h); }
inline void Decode(const std::uint8_t* b, IndexRecord& r) {
  Decode(RecordIn<kIndexRecordSize>(b, kIndexRecordSize), r);
}

}  // namespace lw::jam
