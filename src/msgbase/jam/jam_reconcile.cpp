// The open's check of a JAM base and the repair of what an interrupted
// change (of this program or another) left behind.
//
// Open (OpenMsgBase), when the marker or the cheap test asks for the
// whole check:
//   index records pointing past .jhr, into the fixed header, or at bytes
//   without the header signature belong to messages never finished: they
//   are marked deleted (synced) so that a later append cannot make them
//   point at someone else's header; so are records of headers whose
//   subfields or body run past the end of .jhr or .jdt, for the same
//   reason.
//   ActiveMsgs is recounted from the index and the headers' deleted
//   attribute and written back (synced) when it differs or the marker is
//   to be taken out.
#include "msgbase/jam/jam_msg_base.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace lw {

namespace {

using jam::kFixedHeaderSize;
using jam::kIndexRecordSize;
using jam::kMsgHeaderSize;
using jam::kMaxMsgNum;
using jam::kEmptyRecord;
using jam::RecordAt;

constexpr std::int64_t kIndexChunk = 512;   // index records read at a time
constexpr std::int64_t kScanChunk = 65536;  // index records the open's check reads at a time

}  // namespace

// A creation stopped before its fixed header was whole leaves a header file
// shorter than one (or still zeros) beside an empty index and body.
bool JamMsgBase::IsUnfinishedCreation(std::int64_t jhr_size) {
  std::int64_t jdx_size = 0;
  std::int64_t jdt_size = 0;
  if (jhr_size > kFixedHeaderSize || !jdx_.Size(jdx_size) || !jdt_.Size(jdt_size) || jdx_size != 0 || jdt_size != 0) {
    return false;
  }
  std::uint8_t start[jam::kSignatureSize] = {};
  const std::size_t have = static_cast<std::size_t>(std::min<std::int64_t>(jhr_size, jam::kSignatureSize));
  if (!jhr_.ReadAt(0, start, have)) return false;
  const std::uint8_t zeros[jam::kSignatureSize] = {};
  return std::memcmp(start, jam::kSignature, have) == 0 || std::memcmp(start, zeros, have) == 0;
}

std::int32_t JamMsgBase::ReadOrCompleteFixedHeader() {
  std::int64_t jhr_size = 0;
  if (!jhr_.Size(jhr_size)) return kCannotOpenHeader;
  if (jhr_size >= kFixedHeaderSize) {
    std::array<std::uint8_t, kFixedHeaderSize> raw;
    if (!jhr_.ReadAt(0, raw.data(), raw.size())) return kCannotOpenHeader;
    jam::Decode(raw, fixed_);
    // The marker lives on disk only: every fixed header written from
    // memory is one without it.
    marker_found_ = jam::HasChangeMarker(fixed_);
    fixed_ = jam::WithChangeMarker(fixed_, false);
    if (std::memcmp(fixed_.signature, jam::kSignature, jam::kSignatureSize) == 0) {
      // Numbers from BaseMsgNum on must be positive.
      return fixed_.base_msg_num >= 1 && fixed_.base_msg_num <= kMaxMsgNum ? 0 : kCannotOpenHeader;
    }
  }
  if (!IsUnfinishedCreation(jhr_size)) return kCannotOpenHeader;
  fixed_ = jam::FixedHeader{};
  MsgDateTime now;
  GetNow(now);
  fixed_.date_created = static_cast<std::uint32_t>(DateTimeToUnix(now));
  return WriteFixedHeader() ? 0 : kCannotCreateHeader;
}

namespace {

// Whether the subfields and the body of the header at `hdr_offset` lie
// inside .jhr and .jdt.
bool HeaderFitsFiles(std::uint32_t hdr_offset, const jam::MsgHeader& header, std::int64_t jhr_size,
                     std::int64_t jdt_size) {
  return std::int64_t{hdr_offset} + kMsgHeaderSize + header.subfield_len <= jhr_size &&
         std::int64_t{header.offset} + header.txt_len <= jdt_size;
}

}  // namespace

// The base looks sound when it carries no change marker, every index
// record is empty or points between the fixed header and the end of .jhr
// (a record pointing past it would come to name the header a later append
// puts there), ActiveMsgs is no more than the records that are not empty,
// and the last record leads to nothing or to a header whose subfields and
// body lie inside .jhr and .jdt: what an append builds on.  The index is
// read in chunks of kScanChunk records, so a base of up to that many
// messages costs the same few reads, whatever it holds; no header but the
// last is read.
std::int32_t JamMsgBase::CheckEnds(bool& sound) {
  sound = false;
  std::int64_t jhr_size = 0;
  std::int64_t jdt_size = 0;
  if (!jhr_.Size(jhr_size)) return kCannotOpenHeader;
  if (!jdt_.Size(jdt_size)) return kCannotOpenText;
  const std::int64_t records = IndexRecords();
  if (records < 0) return kCannotOpenIndex;
  if (marker_found_) return 0;
  std::vector<std::uint8_t> chunk;
  std::int64_t named = 0;  // records that are not empty
  jam::IndexRecord rec{jam::kNone, jam::kNone};
  for (std::int64_t first = 0; first < records; first += kScanChunk) {
    const std::int64_t n = std::min(records - first, kScanChunk);
    chunk.resize(static_cast<std::size_t>(n * kIndexRecordSize));
    if (!jdx_.ReadAt(first * kIndexRecordSize, chunk.data(), chunk.size())) return kCannotOpenIndex;
    for (std::int64_t i = 0; i < n; ++i) {
      jam::Decode(RecordAt<kIndexRecordSize>(std::as_const(chunk), i), rec);
      if (rec.hdr_offset == jam::kNone) continue;
      if (rec.hdr_offset < static_cast<std::uint32_t>(kFixedHeaderSize) ||
          std::int64_t{rec.hdr_offset} + kMsgHeaderSize > jhr_size) {
        return 0;
      }
      ++named;
    }
  }
  if (fixed_.active_msgs > named) return 0;
  if (rec.hdr_offset == jam::kNone) {
    sound = true;
    return 0;
  }
  std::uint32_t attribute = 0;
  jam::MsgHeader header;
  switch (ProbeHeader(rec.hdr_offset, jhr_size, attribute, &header)) {
    case HeaderState::kUnreadable: return kCannotOpenHeader;
    case HeaderState::kMissing: return 0;
    case HeaderState::kLive:
    case HeaderState::kDeleted: break;
  }
  sound = HeaderFitsFiles(rec.hdr_offset, header, jhr_size, jdt_size);
  return 0;
}

// Marks the records of messages never finished deleted and recounts
// ActiveMsgs; each is written back, synced, only when it changed (the
// fixed header also when `rewrite_fixed` asks, to take a change marker
// out).  A header whose subfields or body run past the end of their file
// (cut short by a crash or another program) is a message never finished
// too: it could never be read whole, and what a later append puts there
// would show up as part of it.  `found` tells what was mended.
std::int32_t JamMsgBase::RepairIndexAndCount(bool rewrite_fixed, RepairFindings* found) {
  RepairFindings local;
  RepairFindings& f = found != nullptr ? *found : local;
  std::int64_t jhr_size = 0;
  std::int64_t jdt_size = 0;
  if (!jhr_.Size(jhr_size)) return kCannotOpenHeader;
  if (!jdt_.Size(jdt_size)) return kCannotOpenText;
  const std::int64_t records = IndexRecords();
  if (records < 0) return kCannotOpenIndex;
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(kIndexChunk * kIndexRecordSize));
  std::uint32_t active = 0;
  bool index_repaired = false;
  for (std::int64_t first = 0; first < records; first += kIndexChunk) {
    const std::int64_t n = std::min(records - first, kIndexChunk);
    const std::int64_t pos = first * kIndexRecordSize;
    const std::size_t bytes = static_cast<std::size_t>(n * kIndexRecordSize);
    if (!jdx_.ReadAt(pos, chunk.data(), bytes)) return kCannotOpenIndex;
    bool chunk_changed = false;
    for (std::int64_t i = 0; i < n; ++i) {
      jam::IndexRecord rec;
      jam::Decode(RecordAt<kIndexRecordSize>(std::as_const(chunk), i), rec);
      if (rec.hdr_offset == jam::kNone) continue;
      std::uint32_t attribute = 0;
      jam::MsgHeader header;
      const HeaderState state = ProbeHeader(rec.hdr_offset, jhr_size, attribute, &header);
      if (state == HeaderState::kUnreadable) return kCannotOpenHeader;
      if (state == HeaderState::kMissing || !HeaderFitsFiles(rec.hdr_offset, header, jhr_size, jdt_size)) {
        jam::Encode(kEmptyRecord, RecordAt<kIndexRecordSize>(chunk, i));
        chunk_changed = true;
        ++f.records_emptied;
        continue;
      }
      if (state == HeaderState::kLive) ++active;
    }
    if (chunk_changed && !jdx_.WriteAt(pos, chunk.data(), bytes)) return kCannotOpenIndex;
    index_repaired = index_repaired || chunk_changed;
  }
  if (index_repaired && !jdx_.Sync()) return kCannotOpenIndex;
  f.count_was = fixed_.active_msgs;
  f.count_now = active;
  if (active == fixed_.active_msgs && !rewrite_fixed) return 0;
  fixed_.active_msgs = active;
  f.header_written = true;
  return WriteFixedHeader() ? 0 : kCannotOpenHeader;
}

std::int32_t JamMsgBase::CheckOnOpen() {
  bool sound = false;
  if (!TakeCheckWhole()) {
    const std::int32_t fail = CheckEnds(sound);
    if (fail != 0) return fail;
  }
  if (sound) return 0;
  repaired_ = true;
  return RepairIndexAndCount(marker_found_, &findings_);
}

std::vector<std::string> JamMsgBase::RepairsOnOpen() const {
  std::vector<std::string> said;
  if (!repaired_) return said;
  if (marker_found_) said.emplace_back("a change had stopped part way");
  if (findings_.records_emptied != 0) {
    said.push_back(std::to_string(findings_.records_emptied) + " index record(s) led to no whole message: emptied");
  }
  if (findings_.count_was != findings_.count_now) {
    said.push_back("ActiveMsgs was " + std::to_string(findings_.count_was) + ", now " +
                   std::to_string(findings_.count_now));
  }
  return said;
}

}  // namespace lw
