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
// Every field's offset is named once below (base_at, frame_at, msg_at,
// index_at), with the size of each field that is not a plain integer;
// Decode and Encode reach the fields only by those names, and the
// static_asserts tie the names to the record sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "msgbase/change_marker.h"
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

// Byte offsets of the base header's fields.
namespace base_at {
inline constexpr std::size_t kLen = 0;
inline constexpr std::size_t kRsvd1 = 2;
inline constexpr std::size_t kNumMsg = 4;
inline constexpr std::size_t kHighMsg = 8;
inline constexpr std::size_t kSkipMsg = 12;
inline constexpr std::size_t kHighWater = 16;
inline constexpr std::size_t kUid = 20;   // the next UMSGID
inline constexpr std::size_t kBase = 24;  // the base's path, NUL-ended
inline constexpr std::size_t kBaseSize = 80;
inline constexpr std::size_t kBeginFrame = kBase + kBaseSize;
inline constexpr std::size_t kLastFrame = 108;
inline constexpr std::size_t kFreeFrame = 112;
inline constexpr std::size_t kLastFreeFrame = 116;
inline constexpr std::size_t kEndFrame = 120;
inline constexpr std::size_t kMaxMsg = 124;
inline constexpr std::size_t kKeepDays = 128;
inline constexpr std::size_t kSzSqhdr = 130;
inline constexpr std::size_t kRsvd2 = 132;
inline constexpr std::size_t kRsvd2Size = 124;
static_assert(kBeginFrame == 104 && kLastFrame == kBeginFrame + 4 && kEndFrame == kLastFreeFrame + 4);
static_assert(kKeepDays == kMaxMsg + 4 && kSzSqhdr == kKeepDays + 2 && kRsvd2 == kSzSqhdr + 2);
static_assert(kRsvd2 + kRsvd2Size == kBaseHeaderSize);
}  // namespace base_at

// Byte offsets of the frame header's fields.
namespace frame_at {
inline constexpr std::size_t kId = 0;
inline constexpr std::size_t kNextFrame = 4;
inline constexpr std::size_t kPrevFrame = 8;
inline constexpr std::size_t kFrameLength = 12;  // bytes after the frame header
inline constexpr std::size_t kMsgLength = 16;    // message header, control info and text
inline constexpr std::size_t kClen = 20;
inline constexpr std::size_t kFrameType = 24;  // kMessageFrame or kFreeFrame
inline constexpr std::size_t kRsvd = 26;
static_assert(kRsvd + 2 == kFrameHeaderSize);
}  // namespace frame_at

// Byte offsets of the message header's fields.
namespace msg_at {
inline constexpr std::size_t kAttr = 0;
inline constexpr std::size_t kFrom = 4;
inline constexpr std::size_t kNameSize = 36;
inline constexpr std::size_t kTo = kFrom + kNameSize;
inline constexpr std::size_t kSubject = kTo + kNameSize;
inline constexpr std::size_t kSubjectSize = 72;
inline constexpr std::size_t kOrig = kSubject + kSubjectSize;  // zone, net, node, point: 2 bytes each
inline constexpr std::size_t kDest = kOrig + 8;
inline constexpr std::size_t kDateWritten = kDest + 8;  // date word, then time word
inline constexpr std::size_t kDateArrived = kDateWritten + 4;
inline constexpr std::size_t kUtcOfs = kDateArrived + 4;
inline constexpr std::size_t kReplyTo = kUtcOfs + 2;
inline constexpr std::size_t kReplies = kReplyTo + 4;  // nine 4-byte links
inline constexpr std::size_t kReplyCount = 9;
inline constexpr std::size_t kUmsgid = kReplies + 4 * kReplyCount;
inline constexpr std::size_t kFtscDate = kUmsgid + 4;  // text, NUL-ended
inline constexpr std::size_t kFtscDateSize = 20;
static_assert(kOrig == 148 && kDateWritten == 164 && kReplyTo == 174 && kUmsgid == 214 && kFtscDate == 218);
static_assert(kFtscDate + kFtscDateSize == kMsgHeaderSize);
}  // namespace msg_at

// Byte offsets of the index record's fields.
namespace index_at {
inline constexpr std::size_t kOfs = 0;  // of the message's frame
inline constexpr std::size_t kUmsgid = 4;
inline constexpr std::size_t kHash = 8;
static_assert(kHash + 4 == kIndexRecordSize);
}  // namespace index_at

struct BaseHeader {
  std::uint16_t len = kBaseHeaderSize;
  std::uint16_t rsvd1 = 0;
  std::uint32_t num_msg = 0;
  std::uint32_t high_msg = 0;
  std::uint32_t skip_msg = 0;
  std::uint32_t high_water = 0;
  std::uint32_t uid = 1;
  char base[base_at::kBaseSize] = {};
  std::uint32_t begin_frame = 0;
  std::uint32_t last_frame = 0;
  std::uint32_t free_frame = 0;
  std::uint32_t last_free_frame = 0;
  std::uint32_t end_frame = kBaseHeaderSize;
  std::uint32_t max_msg = 65535;
  std::uint16_t keep_days = 32767;
  std::uint16_t sz_sqhdr = kFrameHeaderSize;
  std::uint8_t rsvd2[base_at::kRsvd2Size] = {};
};

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

struct MsgHeader {
  std::uint32_t attr = 0;
  char from[msg_at::kNameSize] = {};
  char to[msg_at::kNameSize] = {};
  char subject[msg_at::kSubjectSize] = {};
  std::int16_t orig[4] = {};  // zone, net, node, point
  std::int16_t dest[4] = {};
  std::uint16_t written_date = 0, written_time = 0;
  std::uint16_t arrived_date = 0, arrived_time = 0;
  std::int16_t utc_ofs = 0;
  std::uint32_t replyto = 0;
  std::uint32_t replies[msg_at::kReplyCount] = {};
  std::uint32_t umsgid = 0;
  char ftsc_date[msg_at::kFtscDateSize] = {};
};

struct IndexRecord {
  std::uint32_t ofs = 0;
  std::uint32_t umsgid = 0;
  std::uint32_t hash = 0;
};

// Where the change marker (change_marker.h) lies: the last four bytes of
// rsvd2.  Every update already writes and syncs the base header before and
// after the steps an open cannot check cheaply, so the marker costs no
// extra write or sync, and the whole header lies in one sector.  Another
// program that rewrites the header may clear it; what such a change left
// lagging is still caught by the other cheap checks of the open.
inline constexpr std::size_t kChangeMarkerAt = base_at::kRsvd2Size - 4;
using lw::kChangeMarker;

inline bool HasChangeMarker(const BaseHeader& h) { return HoldsChangeMarker(h.rsvd2, {kChangeMarkerAt}); }

// `h` with the marker set (`on`) or taken out.
inline BaseHeader WithChangeMarker(BaseHeader h, bool on) {
  if (on) {
    SetChangeMarker(h.rsvd2, kChangeMarkerAt);
  } else {
    ClearChangeMarker(h.rsvd2, {kChangeMarkerAt});
  }
  return h;
}

using BaseHeaderBytes = std::span<const std::uint8_t, kBaseHeaderSize>;
using FrameHeaderBytes = std::span<const std::uint8_t, kFrameHeaderSize>;
using MsgHeaderBytes = std::span<const std::uint8_t, kMsgHeaderSize>;
using IndexRecordBytes = std::span<const std::uint8_t, kIndexRecordSize>;

inline void Decode(BaseHeaderBytes b, BaseHeader& h) {
  using namespace base_at;
  h.len = GetLe16(&b[kLen]);
  h.rsvd1 = GetLe16(&b[kRsvd1]);
  h.num_msg = GetLe32(&b[kNumMsg]);
  h.high_msg = GetLe32(&b[kHighMsg]);
  h.skip_msg = GetLe32(&b[kSkipMsg]);
  h.high_water = GetLe32(&b[kHighWater]);
  h.uid = GetLe32(&b[kUid]);
  std::memcpy(h.base, &b[kBase], kBaseSize);
  h.begin_frame = GetLe32(&b[kBeginFrame]);
  h.last_frame = GetLe32(&b[kLastFrame]);
  h.free_frame = GetLe32(&b[base_at::kFreeFrame]);
  h.last_free_frame = GetLe32(&b[kLastFreeFrame]);
  h.end_frame = GetLe32(&b[kEndFrame]);
  h.max_msg = GetLe32(&b[kMaxMsg]);
  h.keep_days = GetLe16(&b[kKeepDays]);
  h.sz_sqhdr = GetLe16(&b[kSzSqhdr]);
  std::memcpy(h.rsvd2, &b[kRsvd2], kRsvd2Size);
}

inline void Encode(const BaseHeader& h, std::span<std::uint8_t, kBaseHeaderSize> b) {
  using namespace base_at;
  PutLe16(&b[kLen], h.len);
  PutLe16(&b[kRsvd1], h.rsvd1);
  PutLe32(&b[kNumMsg], h.num_msg);
  PutLe32(&b[kHighMsg], h.high_msg);
  PutLe32(&b[kSkipMsg], h.skip_msg);
  PutLe32(&b[kHighWater], h.high_water);
  PutLe32(&b[kUid], h.uid);
  std::memcpy(&b[kBase], h.base, kBaseSize);
  PutLe32(&b[kBeginFrame], h.begin_frame);
  PutLe32(&b[kLastFrame], h.last_frame);
  PutLe32(&b[base_at::kFreeFrame], h.free_frame);
  PutLe32(&b[kLastFreeFrame], h.last_free_frame);
  PutLe32(&b[kEndFrame], h.end_frame);
  PutLe32(&b[kMaxMsg], h.max_msg);
  PutLe16(&b[kKeepDays], h.keep_days);
  PutLe16(&b[kSzSqhdr], h.sz_sqhdr);
  std::memcpy(&b[kRsvd2], h.rsvd2, kRsvd2Size);
}

inline void Decode(FrameHeaderBytes b, FrameHeader& f) {
  using namespace frame_at;
  f.id = GetLe32(&b[kId]);
  f.next_frame = GetLe32(&b[kNextFrame]);
  f.prev_frame = GetLe32(&b[kPrevFrame]);
  f.frame_length = GetLe32(&b[kFrameLength]);
  f.msg_length = GetLe32(&b[kMsgLength]);
  f.clen = GetLe32(&b[kClen]);
  f.frame_type = GetLe16(&b[kFrameType]);
  f.rsvd = GetLe16(&b[kRsvd]);
}

inline void Encode(const FrameHeader& f, std::span<std::uint8_t, kFrameHeaderSize> b) {
  using namespace frame_at;
  PutLe32(&b[kId], f.id);
  PutLe32(&b[kNextFrame], f.next_frame);
  PutLe32(&b[kPrevFrame], f.prev_frame);
  PutLe32(&b[kFrameLength], f.frame_length);
  PutLe32(&b[kMsgLength], f.msg_length);
  PutLe32(&b[kClen], f.clen);
  PutLe16(&b[kFrameType], f.frame_type);
  PutLe16(&b[kRsvd], f.rsvd);
}

inline void Decode(MsgHeaderBytes b, MsgHeader& m) {
  using namespace msg_at;
  m.attr = GetLe32(&b[kAttr]);
  std::memcpy(m.from, &b[kFrom], kNameSize);
  std::memcpy(m.to, &b[kTo], kNameSize);
  std::memcpy(m.subject, &b[kSubject], kSubjectSize);
  for (std::size_t i = 0; i < 4; ++i) {
    m.orig[i] = static_cast<std::int16_t>(GetLe16(&b[kOrig + 2 * i]));
    m.dest[i] = static_cast<std::int16_t>(GetLe16(&b[kDest + 2 * i]));
  }
  m.written_date = GetLe16(&b[kDateWritten]);
  m.written_time = GetLe16(&b[kDateWritten + 2]);
  m.arrived_date = GetLe16(&b[kDateArrived]);
  m.arrived_time = GetLe16(&b[kDateArrived + 2]);
  m.utc_ofs = static_cast<std::int16_t>(GetLe16(&b[kUtcOfs]));
  m.replyto = GetLe32(&b[kReplyTo]);
  for (std::size_t i = 0; i < kReplyCount; ++i) m.replies[i] = GetLe32(&b[kReplies + 4 * i]);
  m.umsgid = GetLe32(&b[kUmsgid]);
  std::memcpy(m.ftsc_date, &b[kFtscDate], kFtscDateSize);
}

inline void Encode(const MsgHeader& m, std::span<std::uint8_t, kMsgHeaderSize> b) {
  using namespace msg_at;
  PutLe32(&b[kAttr], m.attr);
  std::memcpy(&b[kFrom], m.from, kNameSize);
  std::memcpy(&b[kTo], m.to, kNameSize);
  std::memcpy(&b[kSubject], m.subject, kSubjectSize);
  for (std::size_t i = 0; i < 4; ++i) {
    PutLe16(&b[kOrig + 2 * i], static_cast<std::uint16_t>(m.orig[i]));
    PutLe16(&b[kDest + 2 * i], static_cast<std::uint16_t>(m.dest[i]));
  }
  PutLe16(&b[kDateWritten], m.written_date);
  PutLe16(&b[kDateWritten + 2], m.written_time);
  PutLe16(&b[kDateArrived], m.arrived_date);
  PutLe16(&b[kDateArrived + 2], m.arrived_time);
  PutLe16(&b[kUtcOfs], static_cast<std::uint16_t>(m.utc_ofs));
  PutLe32(&b[kReplyTo], m.replyto);
  for (std::size_t i = 0; i < kReplyCount; ++i) PutLe32(&b[kReplies + 4 * i], m.replies[i]);
  PutLe32(&b[kUmsgid], m.umsgid);
  std::memcpy(&b[kFtscDate], m.ftsc_date, kFtscDateSize);
}

inline void Decode(IndexRecordBytes b, IndexRecord& r) {
  using namespace index_at;
  r.ofs = GetLe32(&b[kOfs]);
  r.umsgid = GetLe32(&b[kUmsgid]);
  r.hash = GetLe32(&b[kHash]);
}

inline void Encode(const IndexRecord& r, std::span<std::uint8_t, kIndexRecordSize> b) {
  using namespace index_at;
  PutLe32(&b[kOfs], r.ofs);
  PutLe32(&b[kUmsgid], r.umsgid);
  PutLe32(&b[kHash], r.hash);
}

// For callers holding a pointer into a buffer they have checked holds the
// whole structure at `p`.
inline void Decode(const std::uint8_t* p, BaseHeader& h) { Decode(BaseHeaderBytes(p, kBaseHeaderSize), h); }
inline void Decode(const std::uint8_t* p, FrameHeader& f) { Decode(FrameHeaderBytes(p, kFrameHeaderSize), f); }
inline void Decode(const std::uint8_t* p, MsgHeader& m) { Decode(MsgHeaderBytes(p, kMsgHeaderSize), m); }
inline void Decode(const std::uint8_t* p, IndexRecord& r) { Decode(IndexRecordBytes(p, kIndexRecordSize), r); }

}  // namespace lw::squish
