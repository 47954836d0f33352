#include "msgbase/squish/squish_io.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace lw::squish {

namespace {

bool PositionFits(std::uint32_t ofs, std::int32_t count) {
  return count >= 0 && static_cast<std::int64_t>(ofs) + count <= INT32_MAX;
}

}  // namespace

std::int64_t SizeOf(Stream& s) {
  s.ResetStatus();
  std::int32_t size = s.GetSize();
  return s.Status == kStreamOk && size >= 0 ? size : -1;
}

bool ReadAt(Stream& s, std::uint32_t ofs, void* buf, std::int32_t count) {
  if (!PositionFits(ofs, count)) return false;
  s.ResetStatus();
  s.ReadAt(static_cast<std::int32_t>(ofs), buf, count);
  return s.Status == kStreamOk;
}

bool WriteAt(Stream& s, std::uint32_t ofs, const void* buf, std::int32_t count) {
  if (!PositionFits(ofs, count)) return false;
  s.ResetStatus();
  s.WriteAt(static_cast<std::int32_t>(ofs), buf, count);
  return s.Status == kStreamOk;
}

bool Sync(Stream& s) {
  s.ResetStatus();
  s.Flush();
  return s.Status == kStreamOk;
}

bool TruncateTo(Stream& s, std::uint32_t size) {
  if (size > INT32_MAX) return false;
  s.ResetStatus();
  s.Seek(static_cast<std::int32_t>(size));
  s.Truncate();
  return s.Status == kStreamOk;
}

bool CloseChecked(Stream& s) {
  s.ResetStatus();
  s.Close();
  return s.Status == kStreamOk;
}

bool ReadBaseHeader(Stream& sqd, BaseHeader& h) {
  std::uint8_t raw[kBaseHeaderSize];
  if (!ReadAt(sqd, 0, raw, kBaseHeaderSize)) return false;
  Decode(raw, h);
  return true;
}

bool WriteBaseHeader(Stream& sqd, const BaseHeader& h) {
  std::uint8_t raw[kBaseHeaderSize];
  Encode(h, raw);
  return WriteAt(sqd, 0, raw, kBaseHeaderSize);
}

bool WriteFrameHeader(Stream& sqd, std::uint32_t ofs, const FrameHeader& f) {
  std::uint8_t raw[kFrameHeaderSize];
  Encode(f, raw);
  return WriteAt(sqd, ofs, raw, kFrameHeaderSize);
}

bool ReadIndexRecords(Stream& sqi, std::vector<IndexRecord>& records) {
  records.clear();
  const std::int64_t size = SizeOf(sqi);
  if (size < 0) return false;
  const std::size_t count = static_cast<std::size_t>(size / kIndexRecordSize);
  // The file's bytes go straight into the records' memory, each record then
  // decoded where it lies: a large index is held once, not twice.  Room
  // for a few appends is kept, so a run adding a handful of messages never
  // moves the whole index.
  static_assert(sizeof(IndexRecord) == kIndexRecordSize);
  records.reserve(count + kIndexHeadroom);
  records.resize(count);
  auto* raw = reinterpret_cast<std::uint8_t*>(records.data());
  if (count != 0 && !ReadAt(sqi, 0, raw, static_cast<std::int32_t>(count * kIndexRecordSize))) {
    records.clear();
    return false;
  }
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t bytes[kIndexRecordSize];
    std::memcpy(bytes, raw + i * kIndexRecordSize, kIndexRecordSize);
    Decode(IndexRecordBytes(bytes, kIndexRecordSize), records[i]);
  }
  return true;
}

bool WriteIndexRecords(Stream& sqi, std::uint32_t pos, std::span<const IndexRecord> records) {
  if (records.empty()) return true;
  std::vector<std::uint8_t> raw(records.size() * kIndexRecordSize);
  for (std::size_t i = 0; i < records.size(); ++i) {
    Encode(records[i], std::span<std::uint8_t, kIndexRecordSize>(raw.data() + i * kIndexRecordSize, kIndexRecordSize));
  }
  if (raw.size() > INT32_MAX) return false;
  return WriteAt(sqi, pos, raw.data(), static_cast<std::int32_t>(raw.size()));
}

bool FrameHeaderFits(std::uint32_t ofs, std::int64_t file_size) {
  return ofs >= static_cast<std::uint32_t>(kBaseHeaderSize) &&
         static_cast<std::int64_t>(ofs) + kFrameHeaderSize <= file_size;
}

bool FrameFits(std::uint32_t ofs, const FrameHeader& f, std::int64_t file_size) {
  return FrameHeaderFits(ofs, file_size) &&
         static_cast<std::int64_t>(ofs) + kFrameHeaderSize + f.frame_length <= file_size;
}

bool HoldsWholeMessage(std::uint32_t ofs, const FrameHeader& f, std::int64_t file_size) {
  const std::uint64_t used = static_cast<std::uint64_t>(kMsgHeaderSize) + f.clen;
  return f.id == kFrameId && f.clen + 1ull < kMaxControlInfo && f.msg_length >= used &&
         f.msg_length <= f.frame_length && FrameFits(ofs, f, file_size);
}

bool FrameEdits::Get(std::uint32_t ofs, FrameHeader& f) {
  for (const auto& [at, edited] : edits_) {
    if (at == ofs) {
      f = edited;
      return true;
    }
  }
  if (!FrameHeaderFits(ofs, file_size_)) return false;
  std::uint8_t raw[kFrameHeaderSize];
  if (!ReadAt(sqd_, ofs, raw, kFrameHeaderSize)) return false;
  Decode(raw, f);
  return f.id == kFrameId;
}

void FrameEdits::Put(std::uint32_t ofs, const FrameHeader& f) {
  for (auto& [at, edited] : edits_) {
    if (at == ofs) {
      edited = f;
      return;
    }
  }
  edits_.emplace_back(ofs, f);
}

bool FrameEdits::WriteAll() {
  return WriteIf([](std::uint32_t) { return true; });
}

bool FrameEdits::WriteIf(const std::function<bool(std::uint32_t ofs)>& chosen) {
  for (const auto& [at, f] : edits_) {
    if (chosen(at) && !WriteFrameHeader(sqd_, at, f)) return false;
  }
  return true;
}

bool FrameEdits::AnyIf(const std::function<bool(std::uint32_t ofs)>& chosen) const {
  return std::any_of(edits_.begin(), edits_.end(), [&chosen](const auto& edit) { return chosen(edit.first); });
}

bool FrameEdits::Edited(std::uint32_t ofs) const {
  return std::any_of(edits_.begin(), edits_.end(), [ofs](const auto& edit) { return edit.first == ofs; });
}

bool UnlinkFrame(FrameEdits& edits, ChainEnds ends, std::uint32_t ofs, const FrameHeader& f, std::uint16_t type) {
  FrameHeader prev;
  FrameHeader next;
  if (f.prev_frame != 0 && !(edits.Get(f.prev_frame, prev) && prev.frame_type == type && prev.next_frame == ofs)) {
    return false;
  }
  if (f.next_frame != 0 && !(edits.Get(f.next_frame, next) && next.frame_type == type && next.prev_frame == ofs)) {
    return false;
  }
  if (f.prev_frame != 0) {
    prev.next_frame = f.next_frame;
    edits.Put(f.prev_frame, prev);
  } else {
    *ends.first = f.next_frame;
  }
  if (f.next_frame != 0) {
    next.prev_frame = f.prev_frame;
    edits.Put(f.next_frame, next);
  } else {
    *ends.last = f.prev_frame;
  }
  return true;
}

bool AppendFreeFrame(FrameEdits& edits, BaseHeader& h, std::uint32_t ofs, FrameHeader f) {
  f.frame_type = kFreeFrame;
  f.next_frame = 0;
  f.prev_frame = h.last_free_frame;
  if (h.last_free_frame != 0) {
    FrameHeader last;
    if (!edits.Get(h.last_free_frame, last) || last.frame_type != kFreeFrame) return false;
    last.next_frame = ofs;
    edits.Put(h.last_free_frame, last);
  } else {
    h.free_frame = ofs;
  }
  h.last_free_frame = ofs;
  edits.Put(ofs, f);
  return true;
}

}  // namespace lw::squish
