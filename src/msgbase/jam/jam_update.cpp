// Order of every change to a JAM base, and why.
//
// The change marker (jam_layout.h) is in the fixed header on disk from the
// first step an open cannot check cheaply until the change is whole; an
// open that finds it, or finds the count, the last index record or the
// header it leads to out of line with the files, checks the whole base.
// Append (WriteMsg):
//   1. the body is appended to .jdt and synced;
//   2. the message header with its subfields is appended to .jhr and the
//      fixed header written with the change marker, both synced;
//   3. the index record is written to .jdx, synced: only now does the
//      message exist, and what it points at is already on stable storage;
//   4. the fixed header (ActiveMsgs, ModCounter) is written and synced.
//   A crash before 3 leaves unreferenced bytes at the ends of .jdt and
//   .jhr, which no reader sees; a crash before 4 leaves ActiveMsgs one
//   short, which the next open recounts.  When 1, 2 or 3 fails, what it
//   appended is cut off again; when 4 fails, the message is stored and the
//   fixed header is written again at close.
// Delete (DeleteMsg):
//   1. the fixed header, ActiveMsgs one lower, is written with the change
//      marker and synced;
//   2. the header's deleted attribute is set, synced;
//   3. the index record becomes (FFFFFFFF, FFFFFFFF), synced;
//   4. the fixed header is written without the marker and synced.
//   ActiveMsgs goes down first because a reader tolerates a count behind
//   the live messages (the next open recounts it) but one ahead of them
//   makes it look for a message that is not there.  A crash after 2
//   leaves a header other programs and we already read as deleted.  When
//   2 or 3 fails, what was written is put back, so a failed delete leaves
//   the message; the count is written again at close.
// Batch (BeginBatch ... CommitBatch):
//   WriteMsg appends the body to .jdt unsynced; its header, its index
//   record, ActiveMsgs and ModCounter stay in memory, where this object's
//   walk and reads find them.  DeleteMsg keeps the deleted attribute, the
//   emptied index record and the count in memory.
//   CommitBatch (and CloseMsgBase for a batch still open):
//   1. syncs .jdt when the batch appended bodies;
//   2. appends the new headers to .jhr in one write, then writes the fixed
//      header with the change marker and ActiveMsgs lowered by the
//      deletions only; syncs .jhr;
//   3. writes the deleted attributes and the pending index records, one
//      write per run of consecutive numbers (the appended records make one
//      run); syncs .jdx and .jhr in one call;
//   4. writes the fixed header, without the marker, and syncs .jhr.
//   Four syncs for a batch of appends, three for one of deletions, however
//   many messages it holds.  ActiveMsgs never counts more than the live
//   messages the index names: it drops before a deletion shows and rises
//   after the records of new messages are durable.
//   Why any part of the unsynced writes of a step that reaches the disk
//   (in order or not, the last torn at a sector) leaves a base that a
//   program which never repairs reads right, and loses no message durable
//   before the batch: the batch writes over no byte such a message needs,
//   except the attribute and the index record of a message it deletes.
//   - During 1 only bodies past every header's text are written.
//   - During 2 a header reaches .jhr only with its body already durable,
//     and no record names it yet; the fixed header's count and marker lie
//     in its first sector, so they arrive together or not at all, and the
//     count they carry is no more than before.
//   - During 3 every record points at a header and body already durable;
//     a deleted attribute or an emptied record alone each make the message
//     read as deleted, and the lowered count is durable before either.  A
//     record whose bytes were lost after the file grew reads as zeros,
//     pointing into the fixed header, and the open empties it.  Records
//     are 8 bytes at multiples of 8, so no sector boundary cuts one.
//   - During 4 only ActiveMsgs, ModCounter and the marker are stale; the
//     open finds the marker and recounts.
//   A step that fails ends the batch: the records and headers still in
//   memory are dropped and the count is taken again from the files, so the
//   object sees what the next open will see, and CommitBatch reports
//   failure.
#include "msgbase/jam/jam_msg_base.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "fidoutil/helpers.h"
#include "platform/platform.h"

namespace lw {

namespace {

using jam::kFixedHeaderSize;
using jam::kIndexRecordSize;
using jam::kMsgHeaderSize;
using jam::kMaxMsgNum;
using jam::kMaxOffset;
using jam::kEmptyRecord;
using jam::RecordAt;

}  // namespace

bool JamMsgBase::WriteFixedHeader() {
  std::array<std::uint8_t, kFixedHeaderSize> raw;
  jam::Encode(fixed_, raw);
  fixed_dirty_ = !(jhr_.WriteAt(0, raw.data(), raw.size()) && jhr_.Sync());
  return !fixed_dirty_;
}

bool JamMsgBase::MarkChange(const jam::FixedHeader& on_disk) {
  std::array<std::uint8_t, kFixedHeaderSize> raw;
  jam::Encode(jam::WithChangeMarker(on_disk, true), raw);
  // Whatever the write did, the header on disk is to be written again
  // without the marker.
  fixed_dirty_ = true;
  return jhr_.WriteAt(0, raw.data(), raw.size());
}

// Writes index record number `record` (0 for BaseMsgNum) and syncs .jdx.
bool JamMsgBase::PutIndexRecord(std::int64_t record, const jam::IndexRecord& rec) {
  std::array<std::uint8_t, kIndexRecordSize> raw;
  jam::Encode(rec, raw);
  return jdx_.WriteAt(record * kIndexRecordSize, raw.data(), raw.size()) && jdx_.Sync();
}

// Writes the attribute of the header at `hdr_offset` and syncs .jhr (a
// batch writes its attributes at the commit instead).
bool JamMsgBase::PutAttribute(std::uint32_t hdr_offset, std::uint32_t attribute) {
  std::array<std::uint8_t, 4> raw;
  PutLe32(raw.data(), attribute);
  const std::int64_t at = static_cast<std::int64_t>(hdr_offset) + jam::header_at::kAttribute;
  return jhr_.WriteAt(at, raw.data(), raw.size()) && jhr_.Sync();
}

// Stores the current message in the order at the top of this file.  False
// when any step failed; what a failed step appended is cut off again where
// it can be, and nothing points at it either way.
bool JamMsgBase::WriteMsg() {
  if (!IsOpen || Text == nullptr) return Fail(kCannotWriteMessage, "no message is open");
  subfields_.clear();
  header_.msgid_crc = jam::kNone;
  header_.reply_crc = jam::kNone;
  GetAddrs(orig_, dest_);
  AddHeaderSubfields();
  std::string storage;
  const std::string_view text = AllBytes(*Text, storage);
  if (Text->Status != kStreamOk) return Fail(kCannotWriteMessage, "the text cannot be read");
  std::string body;
  SortTextIntoSubfields(text, body);
  SetAttr(0x01000000, TestFlag(kFlagEchomail));
  SetAttr(0x02000000, TestFlag(kFlagNetmail));
  SetAttr(0x00800000, TestFlag(kFlagLocal));
  if (subfields_.size() > kMaxSubfieldArea || body.size() > kMaxBody) {
    return Fail(kCannotWriteMessage, "the message is larger than a JAM base holds");
  }
  return AppendMessage(body) || Fail(kCannotWriteMessage);
}

// Numbers the message after the last index record and appends it.  In a
// batch the index record and the fixed header wait in memory.
bool JamMsgBase::AppendMessage(const std::string& body) {
  std::int64_t jhr_size = 0;
  std::int64_t jdt_size = 0;
  const std::int64_t records = IndexRecords();
  if (records < 0 || !HeaderFileSize(jhr_size) || !jdt_.Size(jdt_size)) return false;
  const std::int64_t header_len = kMsgHeaderSize + static_cast<std::int64_t>(subfields_.size());
  if (jhr_size < kFixedHeaderSize || fixed_.base_msg_num + records > kMaxMsgNum || jhr_size + header_len > kMaxOffset ||
      jdt_size + static_cast<std::int64_t>(body.size()) > kMaxOffset) {
    return false;
  }
  CurMsgNum = fixed_.base_msg_num + records;
  header_.message_number = static_cast<std::uint32_t>(CurMsgNum);
  header_.subfield_len = static_cast<std::uint32_t>(subfields_.size());
  header_.offset = static_cast<std::uint32_t>(jdt_size);
  header_.txt_len = static_cast<std::uint32_t>(body.size());
  if (!AppendBodyAndHeader(jdt_size, jhr_size, body)) return false;
  header_ofs_ = static_cast<std::uint32_t>(jhr_size);
  const jam::IndexRecord rec{JamCrc(to_), header_ofs_};
  if (in_batch_) {
    pending_index_[records] = rec;
  } else if (!PutIndexRecord(records, rec)) {
    // The header and body are synced, so a record that reached the disk
    // anyway points at a whole message; the next open counts it.
    jdx_.TruncateTo(records * kIndexRecordSize);
    return false;
  }
  fixed_.active_msgs += 1;
  fixed_.mod_counter += 1;
  if (in_batch_) {
    fixed_dirty_ = true;
    ++batch_appends_;
  }
  return in_batch_ || WriteFixedHeader();
}

// Appends the body to .jdt and the header with its subfields, in one
// write, to .jhr; each synced.  In a batch the body is written unsynced
// and the header kept in memory until the commit has synced the bodies.
// What a failed step appended is cut off again.
bool JamMsgBase::AppendBodyAndHeader(std::int64_t jdt_size, std::int64_t jhr_size, const std::string& body) {
  if (in_batch_) batch_data_unsynced_ = true;
  if (!jdt_.WriteAt(jdt_size, body.data(), body.size()) || !(in_batch_ || jdt_.Sync())) {
    jdt_.TruncateTo(jdt_size);
    return false;
  }
  std::string header(static_cast<std::size_t>(kMsgHeaderSize), '\0');
  jam::Encode(header_, jam::RecordOut<kMsgHeaderSize>(reinterpret_cast<std::uint8_t*>(header.data()), kMsgHeaderSize));
  header += subfields_;
  if (in_batch_) {
    if (staged_headers_.empty()) staged_headers_at_ = jhr_size;
    staged_headers_ += header;
    return true;
  }
  // The fixed header is marked with the same sync: the record and the
  // count that follow are a change in progress.
  if (!jhr_.WriteAt(jhr_size, header.data(), header.size()) || !MarkChange(fixed_) || !jhr_.Sync()) {
    jhr_.TruncateTo(jhr_size);
    jdt_.TruncateTo(jdt_size);
    return false;
  }
  return true;
}

bool JamMsgBase::WriteMsgHeader() {
  if (!IsOpen || header_ofs_ < static_cast<std::uint32_t>(kFixedHeaderSize)) {
    return Fail(kCannotWriteMessage, "no stored message is open");
  }
  std::int64_t jhr_size = 0;
  if (!HeaderFileSize(jhr_size)) return Fail(kCannotWriteMessage);
  if (static_cast<std::int64_t>(header_ofs_) + kMsgHeaderSize > jhr_size) {
    return Fail(kCannotWriteMessage, FileName("JHR") + ": the message header lies beyond the end of the file");
  }
  std::array<std::uint8_t, kMsgHeaderSize> raw;
  jam::Encode(header_, raw);
  if (IsStaged(header_ofs_)) {
    std::memcpy(staged_headers_.data() + (header_ofs_ - staged_headers_at_), raw.data(), raw.size());
    return true;
  }
  return (jhr_.WriteAt(header_ofs_, raw.data(), raw.size()) && jhr_.Sync()) || Fail(kCannotWriteMessage);
}

// Marks the current message deleted in place, as JAM programs do, in the
// order at the top of this file.  Nothing moves, so every other message
// keeps its number, and the open message's text stays in memory.  A step
// that fails takes back the steps before it where it can, so that a delete
// reported failed leaves the message as it was.
bool JamMsgBase::DeleteMsg() {
  if (!IsOpen) return Fail(kCannotWriteMessage, "the base is not open");
  jam::IndexRecord rec;
  if (!ReadIndexRecord(CurMsgNum, rec)) return Fail(kCannotWriteMessage);
  if (rec.hdr_offset == jam::kNone) return Fail(kCannotWriteMessage, "the message is deleted already");
  std::int64_t jhr_size = 0;
  if (!HeaderFileSize(jhr_size)) return Fail(kCannotWriteMessage);
  std::uint32_t attribute = 0;
  const HeaderState state = ProbeHeader(rec.hdr_offset, jhr_size, attribute);
  if (state == HeaderState::kUnreadable) return Fail(kCannotWriteMessage);
  const bool live = state == HeaderState::kLive;
  const std::int64_t record = CurMsgNum - fixed_.base_msg_num;
  const bool counted = live && fixed_.active_msgs > 0;
  if (counted) fixed_.active_msgs -= 1;
  if (in_batch_) {
    if (live) StageAttribute(rec.hdr_offset, attribute | jam::kAttrDeleted);
    pending_index_[record] = kEmptyRecord;
    fixed_dirty_ = true;
    return true;
  }
  // Failing from here on, the count is put back in memory and written
  // again at close (a lower count that reached the disk is tolerated).
  const auto undo_count = [this, counted] {
    if (counted) fixed_.active_msgs += 1;
    fixed_dirty_ = true;
    return Fail(kCannotWriteMessage);
  };
  if (counted && !(MarkChange(fixed_) && jhr_.Sync())) return undo_count();
  if (live && !PutAttribute(rec.hdr_offset, attribute | jam::kAttrDeleted)) {
    PutAttribute(rec.hdr_offset, attribute);
    return undo_count();
  }
  if (!PutIndexRecord(record, kEmptyRecord)) {
    PutIndexRecord(record, rec);
    if (live) PutAttribute(rec.hdr_offset, attribute);
    return undo_count();
  }
  // The marker comes out once the delete is whole (written again at close
  // when this write fails).
  return !counted || WriteFixedHeader();
}

void JamMsgBase::BeginBatch() {
  if (IsOpen) in_batch_ = true;
}

bool JamMsgBase::CommitBatch() {
  if (!in_batch_) return true;
  in_batch_ = false;
  if (CommitPending()) return true;
  ForgetPending();
  // What reached the files is known only to them now: take the count (and
  // any record left leading nowhere) from them, as the next open would.
  if (RepairIndexAndCount(true, nullptr) != 0) fixed_dirty_ = true;
  return Fail(kCannotWriteMessage);
}

// The four steps at the top of this file.  A fixed header that could not
// be written is written again at close, as outside a batch.
bool JamMsgBase::CommitPending() {
  if (staged_headers_.empty() && pending_attributes_.empty() && pending_index_.empty()) {
    return !fixed_dirty_ || WriteFixedHeader();
  }
  if (batch_data_unsynced_ && !jdt_.Sync()) return false;
  batch_data_unsynced_ = false;
  jam::FixedHeader lowered = fixed_;
  lowered.active_msgs -= std::min(lowered.active_msgs, batch_appends_);
  // The fixed header goes last: a disk that tears the last write keeps its
  // first sector, with count and marker, or none of it.
  if (!staged_headers_.empty() && !jhr_.WriteAt(staged_headers_at_, staged_headers_.data(), staged_headers_.size())) {
    return false;
  }
  staged_headers_.clear();
  if (!MarkChange(lowered) || !jhr_.Sync()) return false;
  batch_appends_ = 0;
  const bool attributes = !pending_attributes_.empty();
  for (const auto& [hdr_offset, attribute] : pending_attributes_) {
    std::array<std::uint8_t, 4> bytes;
    PutLe32(bytes.data(), attribute);
    if (!jhr_.WriteAt(std::int64_t{hdr_offset} + jam::header_at::kAttribute, bytes.data(), bytes.size())) return false;
  }
  pending_attributes_.clear();
  if (!WritePendingIndex()) return false;
  pending_index_.clear();
  if (!(attributes ? SyncIndexAndHeaders() : jdx_.Sync())) return false;
  return WriteFixedHeader();
}

bool JamMsgBase::SyncIndexAndHeaders() {
  const platform::FileHandle files[] = {jdx_.Handle(), jhr_.Handle()};
  return platform::Os().SyncFiles(files, std::size(files)) == platform::kOk;
}

bool JamMsgBase::IsStaged(std::uint32_t hdr_offset) const {
  return !staged_headers_.empty() && std::int64_t{hdr_offset} >= staged_headers_at_;
}

// A header still in memory takes the attribute there; one on disk gets it
// at the commit, once the lowered count is durable.
void JamMsgBase::StageAttribute(std::uint32_t hdr_offset, std::uint32_t attribute) {
  if (IsStaged(hdr_offset)) {
    PutLe32(reinterpret_cast<std::uint8_t*>(staged_headers_.data()) + (hdr_offset - staged_headers_at_) +
                jam::header_at::kAttribute,
            attribute);
    return;
  }
  pending_attributes_[hdr_offset] = attribute;
}

bool JamMsgBase::HeaderFileSize(std::int64_t& size) {
  if (!jhr_.Size(size)) return false;
  if (!staged_headers_.empty()) size = staged_headers_at_ + static_cast<std::int64_t>(staged_headers_.size());
  return true;
}

bool JamMsgBase::ReadHeaderFile(std::int64_t pos, void* buf, std::size_t count) {
  const std::int64_t end = pos + static_cast<std::int64_t>(count);
  if (staged_headers_.empty() || end <= staged_headers_at_) return jhr_.ReadAt(pos, buf, count);
  auto* out = static_cast<char*>(buf);
  if (pos < staged_headers_at_) {
    const auto on_disk = static_cast<std::size_t>(staged_headers_at_ - pos);
    if (!jhr_.ReadAt(pos, out, on_disk)) return false;
    out += on_disk;
    pos = staged_headers_at_;
  }
  const auto from = static_cast<std::size_t>(pos - staged_headers_at_);
  const auto length = static_cast<std::size_t>(end - pos);
  if (from + length > staged_headers_.size()) return false;
  std::memcpy(out, staged_headers_.data() + from, length);
  return true;
}

// One write per run of consecutive record numbers.
bool JamMsgBase::WritePendingIndex() {
  std::vector<std::uint8_t> run;
  auto it = pending_index_.begin();
  while (it != pending_index_.end()) {
    const std::int64_t first = it->first;
    run.clear();
    for (std::int64_t next = first; it != pending_index_.end() && it->first == next; ++it, ++next) {
      run.resize(run.size() + kIndexRecordSize);
      jam::Encode(it->second, RecordAt<kIndexRecordSize>(run, next - first));
    }
    if (!jdx_.WriteAt(first * kIndexRecordSize, run.data(), run.size())) return false;
  }
  return true;
}

void JamMsgBase::ForgetPending() {
  in_batch_ = false;
  batch_data_unsynced_ = false;
  pending_index_.clear();
  pending_attributes_.clear();
  staged_headers_.clear();
  batch_appends_ = 0;
}

}  // namespace lw
