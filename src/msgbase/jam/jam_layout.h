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
// Fixed header                Message header              Subfield
//   0  4 Signature "JAM\0"      0  4 Signature "JAM\0"       0 2 LoID
//   4  4 DateCreated            4  2 Revision (1)            2 2 HiID (0)
//   8  4 ModCounter             6  2 ReservedWord            4 4 DatLen
//  12  4 ActiveMsgs             8  4 SubfieldLen             8 . data
//  16  4 PasswordCRC           12  4 TimesRead
//  20  4 BaseMsgNum            16  4 MSGIDcrc               Index record
//  24 1000 reserved            20  4 REPLYcrc                 0 4 UserCRC
//                              24  4 ReplyTo                  4 4 HdrOffset
// Lastread record              28  4 Reply1st
//   0  4 UserCRC               32  4 ReplyNext
//   4  4 UserID                36  4 DateWritten (Unix seconds, local)
//   8  4 LastReadMsg           40  4 DateReceived
//  12  4 HighReadMsg           44  4 DateProcessed
//                              48  4 MessageNumber
//                              52  4 Attribute      56 4 Attribute2
//                              60  4 Offset (in .jdt) 64 4 TxtLen
//                              68  4 PasswordCRC    72 4 Cost
#pragma once

#include <cstdint>
#include <cstring>

#include "msgbase/le_bytes.h"

namespace lw::jam {

inline constexpr int kFixedHeaderSize = 1024;
inline constexpr int kMsgHeaderSize = 76;
inline constexpr int kSubfieldHeaderSize = 8;
inline constexpr int kIndexRecordSize = 8;
inline constexpr int kLastReadSize = 16;
inline constexpr std::uint8_t kSignature[4] = {'J', 'A', 'M', 0};
inline constexpr std::uint32_t kNone = 0xFFFFFFFFu;  // no CRC, no password, deleted record
inline constexpr std::uint32_t kAttrDeleted = 0x80000000u;

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
  std::uint8_t signature[4] = {'J', 'A', 'M', 0};
  std::uint32_t date_created = 0;
  std::uint32_t mod_counter = 0;
  std::uint32_t active_msgs = 0;
  std::uint32_t password_crc = kNone;
  std::uint32_t base_msg_num = 1;
  std::uint8_t reserved[1000] = {};
};
static_assert(4 + 4 * 5 + 1000 == kFixedHeaderSize);

struct MsgHeader {
  std::uint8_t signature[4] = {'J', 'A', 'M', 0};
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
static_assert(4 + 2 + 2 + 4 * 17 == kMsgHeaderSize);

struct IndexRecord {
  std::uint32_t user_crc = kNone;
  std::uint32_t hdr_offset = kNone;
};
static_assert(4 + 4 == kIndexRecordSize);

struct LastRead {
  std::uint32_t user_crc = 0;
  std::uint32_t user_id = 0;
  std::uint32_t last_read_msg = 0;
  std::uint32_t high_read_msg = 0;
};
static_assert(4 * 4 == kLastReadSize);

inline void Decode(const std::uint8_t* b, FixedHeader& h) {
  std::memcpy(h.signature, b, 4);
  h.date_created = GetLe32(b + 4);
  h.mod_counter = GetLe32(b + 8);
  h.active_msgs = GetLe32(b + 12);
  h.password_crc = GetLe32(b + 16);
  h.base_msg_num = GetLe32(b + 20);
  std::memcpy(h.reserved, b + 24, 1000);
}

inline void Encode(const FixedHeader& h, std::uint8_t* b) {
  std::memcpy(b, h.signature, 4);
  PutLe32(b + 4, h.date_created);
  PutLe32(b + 8, h.mod_counter);
  PutLe32(b + 12, h.active_msgs);
  PutLe32(b + 16, h.password_crc);
  PutLe32(b + 20, h.base_msg_num);
  std::memcpy(b + 24, h.reserved, 1000);
}

inline void Decode(const std::uint8_t* b, MsgHeader& h) {
  std::memcpy(h.signature, b, 4);
  h.revision = GetLe16(b + 4);
  h.reserved_word = GetLe16(b + 6);
  std::uint32_t* fields[] = {&h.subfield_len,   &h.times_read, &h.msgid_crc,    &h.reply_crc,     &h.reply_to,
                             &h.reply_1st,      &h.reply_next, &h.date_written, &h.date_received, &h.date_processed,
                             &h.message_number, &h.attribute,  &h.attribute2,   &h.offset,        &h.txt_len,
                             &h.password_crc,   &h.cost};
  for (int i = 0; i < 17; ++i) *fields[i] = GetLe32(b + 8 + 4 * i);
}

inline void Encode(const MsgHeader& h, std::uint8_t* b) {
  std::memcpy(b, h.signature, 4);
  PutLe16(b + 4, h.revision);
  PutLe16(b + 6, h.reserved_word);
  const std::uint32_t fields[] = {h.subfield_len,   h.times_read, h.msgid_crc,    h.reply_crc,     h.reply_to,
                                  h.reply_1st,      h.reply_next, h.date_written, h.date_received, h.date_processed,
                                  h.message_number, h.attribute,  h.attribute2,   h.offset,        h.txt_len,
                                  h.password_crc,   h.cost};
  for (int i = 0; i < 17; ++i) PutLe32(b + 8 + 4 * i, fields[i]);
}

inline constexpr int kAttributeOffset = 52;  // of the message header

inline void Decode(const std::uint8_t* b, IndexRecord& r) {
  r.user_crc = GetLe32(b);
  r.hdr_offset = GetLe32(b + 4);
}

inline void Encode(const IndexRecord& r, std::uint8_t* b) {
  PutLe32(b, r.user_crc);
  PutLe32(b + 4, r.hdr_offset);
}

inline void Decode(const std::uint8_t* b, LastRead& r) {
  r.user_crc = GetLe32(b);
  r.user_id = GetLe32(b + 4);
  r.last_read_msg = GetLe32(b + 8);
  r.high_read_msg = GetLe32(b + 12);
}

inline void Encode(const LastRead& r, std::uint8_t* b) {
  PutLe32(b, r.user_crc);
  PutLe32(b + 4, r.user_id);
  PutLe32(b + 8, r.last_read_msg);
  PutLe32(b + 12, r.high_read_msg);
}

}  // namespace lw::jam
