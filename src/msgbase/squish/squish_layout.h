// On-disk layout of a Squish message base.  All integers little-endian.
//
// <base>.sqd: a 256-byte base header, then frames.  Every frame starts with
//   a 28-byte frame header; a message frame then holds the 238-byte message
//   header, the control info (clen bytes, kludges run together, NUL at the
//   end) and the text (closed by a NUL).  Message frames form one doubly
//   linked chain (begin_frame .. last_frame), free frames another
//   (free_frame .. last_free_frame).
// <base>.sqi: one 12-byte index record per message, in message order.
// <base>.sql: one 32-bit lastread value (a UMSGID) per user number.
//
// Base header                      Frame header
//   0  2 len (256)                   0  4 id (0xAFAE4453)
//   2  2 rsvd1                       4  4 next_frame
//   4  4 num_msg                     8  4 prev_frame
//   8  4 high_msg                   12  4 frame_length (bytes after this header)
//  12  4 skip_msg                   16  4 msg_length (header + control + text)
//  16  4 high_water                 20  4 clen
//  20  4 uid (next UMSGID)          24  2 frame_type (0 message, 1 free)
//  24 80 base (path, NUL-ended)     26  2 rsvd
// 104  4 begin_frame
// 108  4 last_frame                Message header
// 112  4 free_frame                  0  4 attr
// 116  4 last_free_frame             4 36 from        40 36 to
// 120  4 end_frame                  76 72 subject
// 124  4 max_msg                   148  8 orig (zone, net, node, point)
// 128  2 keep_days                 156  8 dest
// 130  2 sz_sqhdr (28)             164  4 date_written (date word, time word)
// 132 124 rsvd2                    168  4 date_arrived
//                                  172  2 utc_ofs     174  4 replyto
// Index record                     178 36 replies (nine links)
//   0  4 ofs (frame offset)        214  4 umsgid
//   4  4 umsgid                    218 20 ftsc_date (text, NUL-ended)
//   8  4 hash (recipient name)
#pragma once

#include <cstdint>
#include <cstring>

#include "msgbase/le_bytes.h"

namespace lw::squish {

inline constexpr int kBaseHeaderSize = 256;
inline constexpr int kFrameHeaderSize = 28;
inline constexpr int kMsgHeaderSize = 238;
inline constexpr int kIndexRecordSize = 12;
inline constexpr std::uint32_t kFrameId = 0xAFAE4453u;
inline constexpr std::uint16_t kMessageFrame = 0;
inline constexpr std::uint16_t kFreeFrame = 1;
inline constexpr std::uint32_t kUmsgidValid = 0x00020000u;  // attr bit: umsgid is valid
inline constexpr std::uint32_t kMaxControlInfo = 65521;     // clen + 1 stays below this

struct BaseHeader {
  std::uint16_t len = kBaseHeaderSize;
  std::uint16_t rsvd1 = 0;
  std::uint32_t num_msg = 0;
  std::uint32_t high_msg = 0;
  std::uint32_t skip_msg = 0;
  std::uint32_t high_water = 0;
  std::uint32_t uid = 1;
  char base[80] = {};
  std::uint32_t begin_frame = 0;
  std::uint32_t last_frame = 0;
  std::uint32_t free_frame = 0;
  std::uint32_t last_free_frame = 0;
  std::uint32_t end_frame = kBaseHeaderSize;
  std::uint32_t max_msg = 65535;
  std::uint16_t keep_days = 32767;
  std::uint16_t sz_sqhdr = kFrameHeaderSize;
  std::uint8_t rsvd2[124] = {};
};
static_assert(2 + 2 + 4 * 5 + 80 + 4 * 6 + 2 + 2 + 124 == kBaseHeaderSize);

struct FrameHeader {
  std::uint32_t id = kFrameId;
  std::uint32_t next_frame = 0;
  std::uint32_t prev_frame = 0;
  std::uint32_t frame_length = 0;
  std::uint32_t msg_length = 0;
  std::uint32_t clen = 0;
  std::uint16_t frame_type = kMessageFrame;
  std::uint16_t rsvd = 0;
};
static_assert(4 * 6 + 2 + 2 == kFrameHeaderSize);

struct MsgHeader {
  std::uint32_t attr = 0;
  char from[36] = {};
  char to[36] = {};
  char subject[72] = {};
  std::int16_t orig[4] = {};  // zone, net, node, point
  std::int16_t dest[4] = {};
  std::uint16_t written_date = 0, written_time = 0;
  std::uint16_t arrived_date = 0, arrived_time = 0;
  std::int16_t utc_ofs = 0;
  std::uint32_t replyto = 0;
  std::uint32_t replies[9] = {};
  std::uint32_t umsgid = 0;
  char ftsc_date[20] = {};
};
static_assert(4 + 36 + 36 + 72 + 8 + 8 + 4 + 4 + 2 + 4 + 36 + 4 + 20 == kMsgHeaderSize);

struct IndexRecord {
  std::uint32_t ofs = 0;
  std::uint32_t umsgid = 0;
  std::uint32_t hash = 0;
};
static_assert(4 * 3 == kIndexRecordSize);

inline void Decode(const std::uint8_t* b, BaseHeader& h) {
  h.len = GetLe16(b + 0);
  h.rsvd1 = GetLe16(b + 2);
  h.num_msg = GetLe32(b + 4);
  h.high_msg = GetLe32(b + 8);
  h.skip_msg = GetLe32(b + 12);
  h.high_water = GetLe32(b + 16);
  h.uid = GetLe32(b + 20);
  std::memcpy(h.base, b + 24, 80);
  h.begin_frame = GetLe32(b + 104);
  h.last_frame = GetLe32(b + 108);
  h.free_frame = GetLe32(b + 112);
  h.last_free_frame = GetLe32(b + 116);
  h.end_frame = GetLe32(b + 120);
  h.max_msg = GetLe32(b + 124);
  h.keep_days = GetLe16(b + 128);
  h.sz_sqhdr = GetLe16(b + 130);
  std::memcpy(h.rsvd2, b + 132, 124);
}

inline void Encode(const BaseHeader& h, std::uint8_t* b) {
  PutLe16(b + 0, h.len);
  PutLe16(b + 2, h.rsvd1);
  PutLe32(b + 4, h.num_msg);
  PutLe32(b + 8, h.high_msg);
  PutLe32(b + 12, h.skip_msg);
  PutLe32(b + 16, h.high_water);
  PutLe32(b + 20, h.uid);
  std::memcpy(b + 24, h.base, 80);
  PutLe32(b + 104, h.begin_frame);
  PutLe32(b + 108, h.last_frame);
  PutLe32(b + 112, h.free_frame);
  PutLe32(b + 116, h.last_free_frame);
  PutLe32(b + 120, h.end_frame);
  PutLe32(b + 124, h.max_msg);
  PutLe16(b + 128, h.keep_days);
  PutLe16(b + 130, h.sz_sqhdr);
  std::memcpy(b + 132, h.rsvd2, 124);
}

inline void Decode(const std::uint8_t* b, FrameHeader& f) {
  f.id = GetLe32(b + 0);
  f.next_frame = GetLe32(b + 4);
  f.prev_frame = GetLe32(b + 8);
  f.frame_length = GetLe32(b + 12);
  f.msg_length = GetLe32(b + 16);
  f.clen = GetLe32(b + 20);
  f.frame_type = GetLe16(b + 24);
  f.rsvd = GetLe16(b + 26);
}

inline void Encode(const FrameHeader& f, std::uint8_t* b) {
  PutLe32(b + 0, f.id);
  PutLe32(b + 4, f.next_frame);
  PutLe32(b + 8, f.prev_frame);
  PutLe32(b + 12, f.frame_length);
  PutLe32(b + 16, f.msg_length);
  PutLe32(b + 20, f.clen);
  PutLe16(b + 24, f.frame_type);
  PutLe16(b + 26, f.rsvd);
}

inline void Decode(const std::uint8_t* b, MsgHeader& m) {
  m.attr = GetLe32(b + 0);
  std::memcpy(m.from, b + 4, 36);
  std::memcpy(m.to, b + 40, 36);
  std::memcpy(m.subject, b + 76, 72);
  for (int i = 0; i < 4; ++i) {
    m.orig[i] = static_cast<std::int16_t>(GetLe16(b + 148 + 2 * i));
    m.dest[i] = static_cast<std::int16_t>(GetLe16(b + 156 + 2 * i));
  }
  m.written_date = GetLe16(b + 164);
  m.written_time = GetLe16(b + 166);
  m.arrived_date = GetLe16(b + 168);
  m.arrived_time = GetLe16(b + 170);
  m.utc_ofs = static_cast<std::int16_t>(GetLe16(b + 172));
  m.replyto = GetLe32(b + 174);
  for (int i = 0; i < 9; ++i) m.replies[i] = GetLe32(b + 178 + 4 * i);
  m.umsgid = GetLe32(b + 214);
  std::memcpy(m.ftsc_date, b + 218, 20);
}

inline void Encode(const MsgHeader& m, std::uint8_t* b) {
  PutLe32(b + 0, m.attr);
  std::memcpy(b + 4, m.from, 36);
  std::memcpy(b + 40, m.to, 36);
  std::memcpy(b + 76, m.subject, 72);
  for (int i = 0; i < 4; ++i) {
    PutLe16(b + 148 + 2 * i, static_cast<std::uint16_t>(m.orig[i]));
    PutLe16(b + 156 + 2 * i, static_cast<std::uint16_t>(m.dest[i]));
  }
  PutLe16(b + 164, m.written_date);
  PutLe16(b + 166, m.written_time);
  PutLe16(b + 168, m.arrived_date);
  PutLe16(b + 170, m.arrived_time);
  PutLe16(b + 172, static_cast<std::uint16_t>(m.utc_ofs));
  PutLe32(b + 174, m.replyto);
  for (int i = 0; i < 9; ++i) PutLe32(b + 178 + 4 * i, m.replies[i]);
  PutLe32(b + 214, m.umsgid);
  std::memcpy(b + 218, m.ftsc_date, 20);
}

inline void Decode(const std::uint8_t* b, IndexRecord& r) {
  r.ofs = GetLe32(b + 0);
  r.umsgid = GetLe32(b + 4);
  r.hash = GetLe32(b + 8);
}

inline void Encode(const IndexRecord& r, std::uint8_t* b) {
  PutLe32(b + 0, r.ofs);
  PutLe32(b + 4, r.umsgid);
  PutLe32(b + 8, r.hash);
}

}  // namespace lw::squish
