// Checked reads and writes of the Squish structures.  Every call returns
// false when the stream refused it or came back short; the stream's Status
// is reset first, so one failure never hides the next call's outcome.
// Reads and writes are positioned: one call to the system each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

#include "msgbase/squish/squish_layout.h"
#include "stream/stream.h"

namespace lw::squish {

// The stream's size in bytes, or -1 when the query failed.
std::int64_t SizeOf(Stream& s);
// Reads exactly `count` bytes at `ofs`.
bool ReadAt(Stream& s, std::uint32_t ofs, void* buf, std::int32_t count);
// Writes exactly `count` bytes at `ofs`.
bool WriteAt(Stream& s, std::uint32_t ofs, const void* buf, std::int32_t count);
// Hands what was written to stable storage.
bool Sync(Stream& s);
// Cuts the stream to `size` bytes.
bool TruncateTo(Stream& s, std::uint32_t size);
// Closes the stream's file; false when the close failed.
bool CloseChecked(Stream& s);

bool ReadBaseHeader(Stream& sqd, BaseHeader& h);
bool WriteBaseHeader(Stream& sqd, const BaseHeader& h);
bool WriteFrameHeader(Stream& sqd, std::uint32_t ofs, const FrameHeader& f);
// Index records a read of the index leaves room for beyond those it read.
inline constexpr std::size_t kIndexHeadroom = 64;

// Every whole index record, read in one call; a torn record at the end is
// left out.
bool ReadIndexRecords(Stream& sqi, std::vector<IndexRecord>& records);
// Writes `records` from byte `pos` of the index in one write.
bool WriteIndexRecords(Stream& sqi, std::uint32_t pos, std::span<const IndexRecord> records);

// Whether a frame header at `ofs` lies after the base header and inside a
// data file of `file_size` bytes.
bool FrameHeaderFits(std::uint32_t ofs, std::int64_t file_size);
// Whether the whole frame (header and frame_length bytes) lies in the file.
bool FrameFits(std::uint32_t ofs, const FrameHeader& f, std::int64_t file_size);
// Whether a frame carries a message header, control info and text of
// consistent lengths, all inside its frame and the file.
bool HoldsWholeMessage(std::uint32_t ofs, const FrameHeader& f, std::int64_t file_size);

// Frame headers changed in memory and written together later, so that an
// operation reads every neighbour it needs before it writes anything.
class FrameEdits {
 public:
  FrameEdits(Stream& sqd, std::int64_t file_size) : sqd_(sqd), file_size_(file_size) {}
  // The frame header at `ofs` as edited so far, else as on disk; false when
  // it does not fit the file, lacks the frame id or could not be read.
  bool Get(std::uint32_t ofs, FrameHeader& f);
  void Put(std::uint32_t ofs, const FrameHeader& f);
  // Whether the header at `ofs` was edited.
  bool Edited(std::uint32_t ofs) const;
  bool Empty() const { return edits_.empty(); }
  std::size_t Count() const { return edits_.size(); }
  // The data file grew (a frame was appended): headers up to `file_size`
  // may be read.
  void SetFileSize(std::int64_t file_size) { file_size_ = file_size; }
  // Writes every edited header (not synced), in the order they were first
  // edited.
  bool WriteAll();
  // Writes the edited headers whose offset `chosen` picks (not synced), in
  // the same order.
  bool WriteIf(const std::function<bool(std::uint32_t ofs)>& chosen);
  // Whether `chosen` picks any edited header.
  bool AnyIf(const std::function<bool(std::uint32_t ofs)>& chosen) const;
  void Clear() { edits_.clear(); }

 private:
  Stream& sqd_;
  std::int64_t file_size_;
  std::vector<std::pair<std::uint32_t, FrameHeader>> edits_;
};

// The two ends of a chain in a base header.
struct ChainEnds {
  std::uint32_t* first;
  std::uint32_t* last;
};

// Takes the frame at `ofs` (header `f`) out of its chain: its neighbours,
// which must be readable frames of `type`, or the chain's ends in the base
// header, are pointed past it.
bool UnlinkFrame(FrameEdits& edits, ChainEnds ends, std::uint32_t ofs, const FrameHeader& f, std::uint16_t type);
// Marks the frame at `ofs` free and puts it at the end of the free chain.
bool AppendFreeFrame(FrameEdits& edits, BaseHeader& h, std::uint32_t ofs, FrameHeader f);

}  // namespace lw::squish
