// Writing and deleting messages, one at a time or in a batch.
//
// Every update is staged first and then committed.  Staging reads every
// neighbour the update touches (nothing is written when one is unreadable:
// a failed read is never taken as "no neighbour"), writes a new message's
// frame whole (frame header, message header, control info and text in one
// write, unsynced), and keeps everything else in memory: the index
// records, the edited frame headers (links, free chain) and the base
// header.  Outside a batch each update is committed before it returns;
// inside one, CommitBatch commits them all at once.
//
// A commit keeps the base valid for a program that never repairs at every
// moment a crash can stop it (a kill between any two writes, a power cut
// keeping any part of what was not synced: the writes in order with the
// last torn at a sector, or a later one without an earlier): every index
// record names a whole message frame on the message chain, the chains end
// and hold only their own kind of frame, nothing reachable lies past
// end_frame (where other writers append), uid stays above every UMSGID,
// and num_msg never counts more than the index holds.  What may lag
// behind is what such programs tolerate: a count below the index, a chain
// that runs on past its last frame through frames no record names, frames
// nothing reaches.  So every step below is synced before the next one
// whose writes would be wrong without it, and the writes of one step are
// right in any subset.  Appends and deletions are never committed
// together (a batch that turns from one to the other commits what it
// staged first), and each has its own order.
//
// Every header written between the first and the last one of a commit
// carries the change marker (squish_layout.h): the open checks the whole
// base only when the marker, or a cheap test of the header, the index and
// the chains' ends, says a change may have stopped part way.
//
// Appends (new frames past end_frame, or free frames taken out of the free
// chain on disk before anything is written into them; see PlaceFrame and
// TakeFreeFrame):
//   1. the new frames' headers, linked among themselves; sync (a crash
//      here leaves the file longer than end_frame, or frames that no chain
//      reaches);
//   2. the base header (marked) with end_frame past them and uid above
//      them; sync;
//   3. the old last frame's link to the first; sync (the chain now runs
//      on past last_frame through frames no record names);
//   4. the base header naming the new first and last frames; sync;
//   5. the new index records at the end of the index; sync it;
//   6. the base header with the new counts, unmarked; sync.
//   Six syncs per commit, whatever the number of messages; an append to
//   an empty chain writes 2 to 4 as one header.
// Deletions (and rewrites, which free the frame a message outgrew):
//   1. the base header (marked) with the lower counts; sync;
//   2. the index without the deleted records, written whole under a
//      temporary name, synced and renamed over the old one (a record
//      shifted in place would show up twice, and a cut first would lose
//      the last one); sync the folder;
//   3. the base header with the chain's new ends; sync (a deleted frame
//      left past last_frame is one no record names);
//   4. the links of the frames that stay, so the chain skips the deleted
//      ones (old and new links alike lead through message frames only);
//      sync;
//   5. the freed frames' headers, free and linked among themselves; sync;
//   6. the old last free frame's link to them; sync;
//   7. the base header naming the free chain's new end, unmarked; sync.
//   A step with nothing to write is left out.
// A frame that the index names is thus always linked and whole, a freed
// frame leaves the message chain before it is marked free and joins the
// free chain only then.  The index remains the authority for this
// program: an open that finds the marker, or a header or chain end out of
// line with it, checks both chains against it and rebuilds them when they
// disagree (squish_reconcile.cpp), which mends what a crash left lagging.
// CommitBatch returns true only after the last sync.
//
// A rewritten message that fits its frame is written in place (the run
// never rewrites messages); one that outgrew it moves to a new frame, and
// its old frame goes to the free chain.  A rewrite inside a batch first
// commits the batch, so that an in-place write never sits unsynced beside
// staged changes.
//
// Any failed read, write, sync or truncate makes the call return false,
// drops what was staged (the batch fails with it: CommitBatch is then
// false) and marks the base for reconciling before its next update; no
// header is written that counts a step which failed.
#include <algorithm>
#include <cstring>
#include <string>

#include "fidoutil/helpers.h"
#include "msgbase/squish/squish_msg_base.h"
#include "msgbase/squish/squish_text.h"
#include "platform/platform.h"

namespace lw {

namespace {

using squish::kFrameHeaderSize;
using squish::kIndexRecordSize;
using squish::kMsgHeaderSize;

constexpr std::uint32_t kMaxFrameBytes = 0x7FFFFFF0u;

}  // namespace

void SquishMsgBase::BeginBatch() {
  if (!IsOpen) return;
  if (!batch_) batch_failed_ = false;
  batch_ = true;
}

bool SquishMsgBase::CommitBatch() {
  if (!batch_) return true;
  batch_ = false;
  const bool failed = batch_failed_;
  batch_failed_ = false;
  return IsOpen && CommitStaged() && !failed;
}

bool SquishMsgBase::BuildFrame(std::string& bytes, std::uint32_t& clen) {
  std::string storage;
  const std::string_view text = AllBytes(*Text, storage);
  if (Text->Status != kStreamOk) return false;
  std::string control;
  const std::size_t body_start = squish::SplitControlInfo(text, control);
  const std::uint64_t need = kMsgHeaderSize + control.size() + (text.size() - body_start) + 1;
  if (need > kMaxFrameBytes) return false;
  if (new_message_) {
    // The number is taken now: a reconcile since CreateMsg may have moved uid.
    if (base_.uid == 0) return false;  // every UMSGID was handed out
    header_.umsgid = base_.uid;
    CurMsgNum = base_.uid;
  }
  FillDerivedFields();
  bytes.assign(kFrameHeaderSize + kMsgHeaderSize, '\0');
  bytes.reserve(kFrameHeaderSize + need);
  squish::Encode(header_, std::span<std::uint8_t, kMsgHeaderSize>(
                              reinterpret_cast<std::uint8_t*>(bytes.data() + kFrameHeaderSize), kMsgHeaderSize));
  bytes += control;
  bytes.append(text.substr(body_start));
  bytes.push_back('\0');
  clen = static_cast<std::uint32_t>(control.size());
  return true;
}

bool SquishMsgBase::WriteMsg() {
  if (!IsOpen || Text == nullptr || !EnsureConsistent()) return false;
  std::string bytes;
  std::uint32_t clen = 0;
  if (!BuildFrame(bytes, clen)) return false;
  Staged staged;
  if (new_message_) {
    if (!StageAppend(bytes, clen, staged) || !CommitUnlessBatch()) return false;
  } else if (!CommitStaged() || !StageRewrite(bytes, clen, staged) || !CommitStaged()) {
    return false;
  }
  frame_ = staged.frame;
  frame_ofs_ = staged.frame_ofs;
  index_ = staged.record;
  index_pos_ = staged.index_pos;
  new_message_ = false;
  return true;
}

bool SquishMsgBase::PlaceFrame(squish::BaseHeader& h, std::uint32_t need, std::uint32_t* ofs, std::uint32_t* length) {
  // The open checked the free chain; the walk is bounded by the file all
  // the same.
  const std::int64_t limit = sqd_size_ / kFrameHeaderSize + 1;
  std::uint32_t at = h.free_frame;
  squish::FrameHeader f;
  for (std::int64_t steps = 0; at != 0 && steps < limit; ++steps) {
    if (!edits_->Get(at, f) || f.frame_type != squish::kFreeFrame) break;
    const bool freed_now = std::find(freed_frames_.begin(), freed_frames_.end(), at) != freed_frames_.end();
    if (!freed_now && f.frame_length >= need && squish::FrameFits(at, f, sqd_size_)) {
      if (!TakeFreeFrame(at, f)) break;
      h.free_frame = committed_base_.free_frame;
      h.last_free_frame = committed_base_.last_free_frame;
      *ofs = at;
      *length = f.frame_length;
      return true;
    }
    at = f.next_frame;
  }
  // A new frame goes at end_frame, which the open made the file size and
  // every frame appended since has moved along with it.
  if (h.end_frame != sqd_size_ || std::uint64_t{h.end_frame} + kFrameHeaderSize + need > kMaxFrameBytes) return false;
  *ofs = h.end_frame;
  *length = need;
  return true;
}

bool SquishMsgBase::TakeFreeFrame(std::uint32_t ofs, const squish::FrameHeader& f) {
  squish::BaseHeader h = committed_base_;
  squish::FrameEdits unlink(*sqd_, sqd_size_);
  if (!squish::UnlinkFrame(unlink, squish::ChainEnds{&h.free_frame, &h.last_free_frame}, ofs, f, squish::kFreeFrame)) {
    return false;
  }
  // The header first, synced: a free chain that runs on past
  // last_free_frame is harmless, one whose last frame is gone from it is
  // not.
  if (!WriteHeaderSynced(h) || !unlink.WriteAll() || !squish::Sync(*sqd_)) return false;
  committed_base_.free_frame = h.free_frame;
  committed_base_.last_free_frame = h.last_free_frame;
  base_.free_frame = h.free_frame;
  base_.last_free_frame = h.last_free_frame;
  return true;
}

bool SquishMsgBase::WriteFrame(std::uint32_t ofs, const squish::FrameHeader& f, std::string& bytes) {
  squish::Encode(
      f, std::span<std::uint8_t, kFrameHeaderSize>(reinterpret_cast<std::uint8_t*>(bytes.data()), kFrameHeaderSize));
  if (!squish::WriteAt(*sqd_, ofs, bytes.data(), static_cast<std::int32_t>(bytes.size()))) return false;
  data_unsynced_ = true;
  sqd_size_ = std::max<std::int64_t>(sqd_size_, std::int64_t{ofs} + static_cast<std::int64_t>(bytes.size()));
  edits_->SetFileSize(sqd_size_);
  // A staged edit of this header (its links, from an earlier update of the
  // batch) is replaced, so that the commit does not write it back over.
  // In a batch the header is staged anyway: the next append links it to
  // its frame without reading it back, and the commit writes it once.
  if (batch_ || edits_->Edited(ofs)) edits_->Put(ofs, f);
  return true;
}

void SquishMsgBase::MarkIndexChanged(std::size_t from, std::size_t to) {
  index_changed_from_ = std::min(index_changed_from_, from);
  index_changed_to_ = std::max(index_changed_to_, to);
}

bool SquishMsgBase::StageAppend(std::string& bytes, std::uint32_t clen, Staged& staged) {
  if (!freed_frames_.empty() && !CommitStaged()) return false;
  if (records_.size() != base_.num_msg) return Fail();
  squish::BaseHeader h = base_;
  const auto need = static_cast<std::uint32_t>(bytes.size() - kFrameHeaderSize);
  squish::FrameHeader f;
  std::uint32_t ofs = 0;
  if (!PlaceFrame(h, need, &ofs, &f.frame_length)) return Fail();
  f.prev_frame = h.last_frame;
  f.msg_length = need;
  f.clen = clen;
  if (h.last_frame != 0) {
    squish::FrameHeader last;
    if (!edits_->Get(h.last_frame, last) || last.frame_type != squish::kMessageFrame || last.next_frame != 0) {
      return Fail();
    }
    last.next_frame = ofs;
    edits_->Put(h.last_frame, last);
  } else {
    h.begin_frame = ofs;
  }
  h.last_frame = ofs;
  h.num_msg += 1;
  h.high_msg += 1;
  h.uid = header_.umsgid + 1;
  h.end_frame = std::max(h.end_frame, ofs + kFrameHeaderSize + f.frame_length);
  if (!WriteFrame(ofs, f, bytes)) return Fail();
  new_frames_.push_back(ofs);
  std::string to;
  GetTo(to);
  staged = Staged{f, ofs, squish::IndexRecord{ofs, header_.umsgid, SquishHash(to)}, IndexBytes()};
  records_.push_back(staged.record);
  MarkIndexChanged(records_.size() - 1, records_.size());
  base_ = h;
  header_changed_ = true;
  return true;
}

bool SquishMsgBase::Relink(squish::BaseHeader& h, const squish::FrameHeader& old, std::uint32_t ofs) {
  squish::FrameHeader neighbour;
  if (old.prev_frame != 0) {
    if (!edits_->Get(old.prev_frame, neighbour) || neighbour.next_frame != frame_ofs_) return false;
    neighbour.next_frame = ofs;
    edits_->Put(old.prev_frame, neighbour);
  } else {
    h.begin_frame = ofs;
  }
  if (old.next_frame != 0) {
    if (!edits_->Get(old.next_frame, neighbour) || neighbour.prev_frame != frame_ofs_) return false;
    neighbour.prev_frame = ofs;
    edits_->Put(old.next_frame, neighbour);
  } else {
    h.last_frame = ofs;
  }
  return true;
}

bool SquishMsgBase::StageRewrite(std::string& bytes, std::uint32_t clen, Staged& staged) {
  squish::IndexRecord rec;
  if (frame_ofs_ == 0 || !ReadIndex(index_pos_, rec) || rec.ofs != frame_ofs_) return false;
  squish::BaseHeader h = base_;
  squish::FrameHeader old;
  if (!edits_->Get(frame_ofs_, old) || old.frame_type != squish::kMessageFrame) return Fail();
  const auto need = static_cast<std::uint32_t>(bytes.size() - kFrameHeaderSize);
  squish::FrameHeader f = old;
  f.msg_length = need;
  f.clen = clen;
  std::uint32_t ofs = frame_ofs_;
  if (old.frame_length < need) {
    if (!PlaceFrame(h, need, &ofs, &f.frame_length) || !Relink(h, old, ofs) ||
        !squish::AppendFreeFrame(*edits_, h, frame_ofs_, old)) {
      return Fail();
    }
    freed_frames_.push_back(frame_ofs_);
    h.end_frame = std::max(h.end_frame, ofs + kFrameHeaderSize + f.frame_length);
    header_changed_ = true;
  }
  if (!WriteFrame(ofs, f, bytes)) return Fail();
  std::string to;
  GetTo(to);
  rec.ofs = ofs;
  rec.hash = SquishHash(to);
  const auto i = static_cast<std::size_t>(index_pos_ / kIndexRecordSize);
  records_[i] = rec;
  MarkIndexChanged(i, i + 1);
  base_ = h;
  staged = Staged{f, ofs, rec, index_pos_};
  return true;
}

// Removes the current message, read or not: its index record is taken
// out, then the frame that record points at leaves the message chain for
// the free chain (StageDelete checks it is a message frame linked where
// its neighbours say).  The position steps back so that SeekNext reaches
// the record that followed it.
bool SquishMsgBase::DeleteMsg() {
  if (!IsOpen || CurMsgNum == 0 || new_message_ || !EnsureConsistent()) return false;
  squish::IndexRecord rec;
  if (!ReadIndex(index_pos_, rec) || MsgNum{rec.umsgid} != CurMsgNum || rec.ofs == 0) return false;
  frame_ofs_ = rec.ofs;
  if (!StageDelete() || !CommitUnlessBatch()) return false;
  index_pos_ -= kIndexRecordSize;
  frame_ofs_ = 0;
  return true;
}

bool SquishMsgBase::StageDelete() {
  if (!new_frames_.empty() && !CommitStaged()) return false;
  squish::BaseHeader h = base_;
  squish::FrameHeader f;
  if (!edits_->Get(frame_ofs_, f) || f.frame_type != squish::kMessageFrame ||
      !squish::UnlinkFrame(*edits_, squish::ChainEnds{&h.begin_frame, &h.last_frame}, frame_ofs_, f,
                           squish::kMessageFrame) ||
      !squish::AppendFreeFrame(*edits_, h, frame_ofs_, f)) {
    return Fail();
  }
  h.num_msg -= 1;
  h.high_msg -= 1;
  const auto i = static_cast<std::size_t>(index_pos_ / kIndexRecordSize);
  records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(i));
  MarkIndexChanged(i, records_.size());
  freed_frames_.push_back(frame_ofs_);
  base_ = h;
  header_changed_ = true;
  return true;
}

bool SquishMsgBase::WriteIndexChanges() {
  const std::size_t count = records_.size();
  const std::size_t to = std::min(index_changed_to_, count);
  bool changed = false;
  if (index_changed_from_ < to) {
    const std::span<const squish::IndexRecord> span(records_.data() + index_changed_from_, to - index_changed_from_);
    const auto pos = static_cast<std::uint32_t>(index_changed_from_ * kIndexRecordSize);
    if (!squish::WriteIndexRecords(*sqi_, pos, span)) return false;
    changed = true;
  }
  if (index_on_disk_ > count) {
    if (!squish::TruncateTo(*sqi_, static_cast<std::uint32_t>(count * kIndexRecordSize))) return false;
    changed = true;
  }
  if (changed && !squish::Sync(*sqi_)) return false;
  index_on_disk_ = count;
  index_changed_from_ = kNoChange;
  index_changed_to_ = 0;
  return true;
}

bool SquishMsgBase::CommitStaged() {
  const bool removes = index_on_disk_ > records_.size() || !freed_frames_.empty();
  if (!(removes ? CommitRemovals() : CommitAppends())) return Fail();
  edits_->Clear();
  freed_frames_.clear();
  new_frames_.clear();
  header_changed_ = false;
  committed_base_ = base_;
  return true;
}

bool SquishMsgBase::CommitAppends() {
  const auto is_new = [this](std::uint32_t ofs) {
    return std::find(new_frames_.begin(), new_frames_.end(), ofs) != new_frames_.end();
  };
  const auto is_old = [&is_new](std::uint32_t ofs) { return !is_new(ofs); };
  if (!edits_->WriteIf(is_new)) return false;
  if (data_unsynced_ || !new_frames_.empty()) {
    if (!squish::Sync(*sqd_)) return false;
  }
  data_unsynced_ = false;
  const bool relinks = header_changed_ || !edits_->Empty();
  if (relinks) {
    squish::BaseHeader h = squish::WithChangeMarker(committed_base_, true);
    h.end_frame = base_.end_frame;
    h.uid = base_.uid;
    const bool old_links = edits_->AnyIf(is_old);
    if (old_links && !(WriteHeaderSynced(h) && WriteEditsSynced(is_old))) return false;
    h.begin_frame = base_.begin_frame;
    h.last_frame = base_.last_frame;
    if (!WriteHeaderSynced(h)) return false;
  }
  if (!WriteIndexChanges()) return false;
  return !relinks || WriteHeaderSynced(base_);
}

bool SquishMsgBase::CommitRemovals() {
  if (data_unsynced_ && !squish::Sync(*sqd_)) return false;
  data_unsynced_ = false;
  squish::BaseHeader h = squish::WithChangeMarker(committed_base_, true);
  h.num_msg = std::min(h.num_msg, base_.num_msg);
  h.high_msg = std::min(h.high_msg, base_.high_msg);
  if (!WriteHeaderSynced(h)) return false;
  if (!(index_on_disk_ > records_.size() ? ReplaceIndex() : WriteIndexChanges())) return false;
  const auto is_freed = [this](std::uint32_t ofs) {
    return std::find(freed_frames_.begin(), freed_frames_.end(), ofs) != freed_frames_.end();
  };
  const std::uint32_t old_last_free = committed_base_.last_free_frame;
  const bool ends_move =
      h.begin_frame != base_.begin_frame || h.last_frame != base_.last_frame || h.end_frame != base_.end_frame;
  h.begin_frame = base_.begin_frame;
  h.last_frame = base_.last_frame;
  h.end_frame = base_.end_frame;
  return (!ends_move || WriteHeaderSynced(h)) &&
         WriteEditsSynced([&](std::uint32_t ofs) { return !is_freed(ofs) && ofs != old_last_free; }) &&
         WriteEditsSynced(is_freed) &&
         WriteEditsSynced([&](std::uint32_t ofs) { return !is_freed(ofs) && ofs == old_last_free; }) &&
         WriteHeaderSynced(base_);
}

bool SquishMsgBase::WriteHeaderSynced(const squish::BaseHeader& h) {
  return squish::WriteBaseHeader(*sqd_, h) && squish::Sync(*sqd_);
}

bool SquishMsgBase::WriteEditsSynced(const std::function<bool(std::uint32_t ofs)>& chosen) {
  return !edits_->AnyIf(chosen) || (edits_->WriteIf(chosen) && squish::Sync(*sqd_));
}

bool SquishMsgBase::ReplaceIndex() {
  const std::string name = FileName("SQI");
  const std::string temp = FileName("SQI") + platform::FixedNamePart(".NEW");
  platform::Platform& os = platform::Os();
  {
    std::unique_ptr<Stream> fresh = OpenFileStream(temp, fmCreate);
    if (fresh->Status != kStreamOk) return false;
    if ((!records_.empty() && !squish::WriteIndexRecords(*fresh, 0, records_)) || !squish::Sync(*fresh) ||
        !squish::CloseChecked(*fresh)) {
      DeleteFileOk(temp);
      return false;
    }
  }
  // The old index is closed first: a system that keeps open files from
  // being replaced would refuse the rename otherwise.
  const bool closed = squish::CloseChecked(*sqi_);
  const bool renamed = closed && os.ReplaceFile(temp, name) == platform::kOk;
  if (!renamed) DeleteFileOk(temp);
  sqi_ = OpenFileStream(name, fmReadWrite | fmDenyWrite);
  if (!renamed || sqi_->Status != kStreamOk || os.SyncDirectory(ParentDir(name)) != platform::kOk) return false;
  index_on_disk_ = records_.size();
  index_changed_from_ = kNoChange;
  index_changed_to_ = 0;
  return true;
}

}  // namespace lw
