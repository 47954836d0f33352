// The index is the authority for which messages a base holds: an append
// reaches the index only after its frame is whole and synced, and a delete
// takes the index record out before anything else.  The base header, the
// message chain and the free chain are derived data.  Every open checks the
// header against the index and the file sizes and reads the frames at the
// chains' ends; only when that, or the change marker an update leaves in
// the header until it completes, says the base may be damaged does it
// check them whole (one frame header per message and per free frame, every
// walk bounded by the index or the file size) and, when they disagree,
// rebuild them:
//
//   - an index record stays when its frame holds a whole message (a frame
//     marked free still counts when it holds the same UMSGID: a delete that
//     did not finish); records pointing nowhere, at a torn or reused frame,
//     twice at one frame, or into another message's frame are dropped;
//   - the message chain runs through the kept records in index order;
//   - every frame that a walk over the data file finds and no kept record
//     holds (an append that did not finish, a freed message) goes into the
//     free chain; the walk stops at the first torn frame and the file is cut
//     after the last frame found, never before a kept message;
//   - num_msg, high_msg, uid (above every UMSGID), begin/last_frame and
//     end_frame (the file size) follow from that.
//
// A repair is written in the same order as every update: first the index
// (synced), then frame headers, the cut and the base header (synced).  A
// crash part way leaves a base the next open finds out of line again, and
// the repair, which reaches the same result from any of those states,
// simply runs again.
#include "msgbase/squish/squish_reconcile.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "msgbase/squish/squish_io.h"

namespace lw::squish {

namespace {

// What is on disk when the base is opened.
struct OnDisk {
  std::int64_t sqd_size = 0;
  std::int64_t sqi_size = 0;
  BaseHeader base;
  std::vector<IndexRecord> index;
};

// A frame that the repair keeps, with the header it has on disk.
struct Frame {
  std::uint32_t ofs;
  FrameHeader header;
  std::uint64_t End() const { return std::uint64_t{ofs} + kFrameHeaderSize + header.frame_length; }
};

enum class Check { kAgrees, kDisagrees, kIoError };

bool ReadHeaderAt(Stream& sqd, std::uint32_t ofs, FrameHeader& f) {
  std::uint8_t raw[kFrameHeaderSize];
  if (!ReadAt(sqd, ofs, raw, kFrameHeaderSize)) return false;
  Decode(raw, f);
  return true;
}

bool HeaderAgrees(const OnDisk& d) {
  const BaseHeader& h = d.base;
  const std::size_t n = d.index.size();
  if (static_cast<std::uint64_t>(d.sqi_size) != n * kIndexRecordSize) return false;
  if (h.len != kBaseHeaderSize || h.num_msg != n || h.high_msg != n || h.end_frame != d.sqd_size) return false;
  if (h.uid == 0) return false;
  // The walk looks numbers up by UMSGID, so they must rise through the
  // index: a record out of order (an index rewrite a crash cut short) would
  // hide the messages it skips.
  std::uint32_t previous = 0;
  for (const IndexRecord& r : d.index) {
    if (r.umsgid >= h.uid || r.umsgid <= previous) return false;
    previous = r.umsgid;
  }
  if (h.begin_frame != (n != 0 ? d.index.front().ofs : 0)) return false;
  if (h.last_frame != (n != 0 ? d.index.back().ofs : 0)) return false;
  return (h.free_frame == 0) == (h.last_free_frame == 0);
}

// Whether [ofs, end) overlaps a message frame; `messages` sorted by offset.
bool OverlapsMessage(const std::vector<Frame>& messages, std::uint32_t ofs, std::uint64_t end) {
  auto after = std::upper_bound(messages.begin(), messages.end(), ofs,
                                [](std::uint32_t at, const Frame& m) { return at < m.ofs; });
  if (after != messages.end() && after->ofs < end) return true;
  return after != messages.begin() && std::prev(after)->End() > ofs;
}

// Each indexed frame is a whole message linked to its index neighbours, and
// no two overlap.  Fills `messages` (sorted by offset).
Check MessageChainAgrees(Stream& sqd, const OnDisk& d, std::vector<Frame>& messages) {
  messages.clear();
  const std::size_t n = d.index.size();
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t ofs = d.index[i].ofs;
    FrameHeader f;
    if (!FrameHeaderFits(ofs, d.sqd_size)) return Check::kDisagrees;
    if (!ReadHeaderAt(sqd, ofs, f)) return Check::kIoError;
    if (!HoldsWholeMessage(ofs, f, d.sqd_size) || f.frame_type != kMessageFrame) return Check::kDisagrees;
    if (f.prev_frame != (i != 0 ? d.index[i - 1].ofs : 0)) return Check::kDisagrees;
    if (f.next_frame != (i + 1 < n ? d.index[i + 1].ofs : 0)) return Check::kDisagrees;
    messages.push_back(Frame{ofs, f});
  }
  std::sort(messages.begin(), messages.end(), [](const Frame& a, const Frame& b) { return a.ofs < b.ofs; });
  for (std::size_t i = 1; i < messages.size(); ++i) {
    if (messages[i].ofs < messages[i - 1].End()) return Check::kDisagrees;
  }
  return Check::kAgrees;
}

// The free chain runs from free_frame to last_free_frame through free
// frames that lie in the file and overlap no message.
Check FreeChainAgrees(Stream& sqd, const OnDisk& d, const std::vector<Frame>& messages) {
  const std::uint64_t limit = static_cast<std::uint64_t>(d.sqd_size) / kFrameHeaderSize;
  std::uint32_t prev = 0;
  std::uint32_t at = d.base.free_frame;
  for (std::uint64_t steps = 0; at != 0; ++steps) {
    FrameHeader f;
    if (steps > limit || !FrameHeaderFits(at, d.sqd_size)) return Check::kDisagrees;
    if (!ReadHeaderAt(sqd, at, f)) return Check::kIoError;
    if (f.id != kFrameId || f.frame_type != kFreeFrame || f.prev_frame != prev || !FrameFits(at, f, d.sqd_size) ||
        OverlapsMessage(messages, at, Frame{at, f}.End())) {
      return Check::kDisagrees;
    }
    prev = at;
    at = f.next_frame;
  }
  return prev == d.base.last_free_frame ? Check::kAgrees : Check::kDisagrees;
}

// What an open checks of a base it has no reason to doubt, reading two or
// three frame headers whatever the base holds: the header against the
// index (HeaderAgrees), every index offset inside the data file, the last
// message frame (what an append links to) and both ends of the free chain
// (what an append or delete takes from or adds to).  Every step of an
// update that these miss is made while the base header carries the change
// marker, so a crash there sends the next open to the whole check.
Check EndsAgree(Stream& sqd, const OnDisk& d) {
  if (!HeaderAgrees(d) || HasChangeMarker(d.base)) return Check::kDisagrees;
  for (const IndexRecord& r : d.index) {
    if (!FrameHeaderFits(r.ofs, d.sqd_size)) return Check::kDisagrees;
  }
  FrameHeader f;
  const std::size_t n = d.index.size();
  if (n != 0) {
    const std::uint32_t ofs = d.index.back().ofs;
    if (!ReadHeaderAt(sqd, ofs, f)) return Check::kIoError;
    if (!HoldsWholeMessage(ofs, f, d.sqd_size) || f.frame_type != kMessageFrame || f.next_frame != 0 ||
        f.prev_frame != (n > 1 ? d.index[n - 2].ofs : 0)) {
      return Check::kDisagrees;
    }
  }
  if (d.base.free_frame != 0) {
    if (!FrameHeaderFits(d.base.free_frame, d.sqd_size)) return Check::kDisagrees;
    if (!ReadHeaderAt(sqd, d.base.free_frame, f)) return Check::kIoError;
    if (f.id != kFrameId || f.frame_type != kFreeFrame || f.prev_frame != 0) return Check::kDisagrees;
  }
  if (d.base.last_free_frame != 0) {
    if (!FrameHeaderFits(d.base.last_free_frame, d.sqd_size)) return Check::kDisagrees;
    if (!ReadHeaderAt(sqd, d.base.last_free_frame, f)) return Check::kIoError;
    if (f.id != kFrameId || f.frame_type != kFreeFrame || f.next_frame != 0 ||
        !FrameFits(d.base.last_free_frame, f, d.sqd_size)) {
      return Check::kDisagrees;
    }
  }
  return Check::kAgrees;
}

Check BaseAgrees(Stream& sqd, const OnDisk& d) {
  if (!HeaderAgrees(d)) return Check::kDisagrees;
  std::vector<Frame> messages;
  Check c = MessageChainAgrees(sqd, d, messages);
  return c != Check::kAgrees ? c : FreeChainAgrees(sqd, d, messages);
}

// ---- Repair ----

// The UMSGID a message frame's header carries.
bool FrameUmsgid(Stream& sqd, std::uint32_t ofs, std::uint32_t& umsgid) {
  std::uint8_t raw[4];
  if (!ReadAt(sqd, ofs + kFrameHeaderSize + msg_at::kUmsgid, raw, 4)) return false;
  umsgid = GetLe32(raw);
  return true;
}

// An index record whose frame holds a whole message.
struct Candidate {
  IndexRecord rec;
  Frame frame;
  bool same_umsgid;  // the frame's header carries the record's UMSGID
};

// The records whose frames hold whole messages, in index order, one per
// frame.  False on a failed read.
bool Candidates(Stream& sqd, const OnDisk& d, std::vector<Candidate>& candidates) {
  candidates.clear();
  for (const IndexRecord& r : d.index) {
    FrameHeader f;
    if (!FrameHeaderFits(r.ofs, d.sqd_size)) continue;
    if (!ReadHeaderAt(sqd, r.ofs, f)) return false;
    if (!HoldsWholeMessage(r.ofs, f, d.sqd_size)) continue;
    std::uint32_t umsgid = 0;
    if (!FrameUmsgid(sqd, r.ofs, umsgid)) return false;
    const bool same = umsgid == r.umsgid;
    // A freed frame still holding this very message: a delete that did not
    // finish.  The message stays; the next delete can take it out again.
    if (f.frame_type != kMessageFrame && !(f.frame_type == kFreeFrame && same)) continue;
    auto twin =
        std::find_if(candidates.begin(), candidates.end(), [&](const Candidate& c) { return c.rec.ofs == r.ofs; });
    if (twin == candidates.end()) {
      candidates.push_back(Candidate{r, Frame{r.ofs, f}, same});
    } else if (same && !twin->same_umsgid) {
      // The older record's frame was reused by this message.
      candidates.erase(twin);
      candidates.push_back(Candidate{r, Frame{r.ofs, f}, same});
    }
  }
  return true;
}

// The candidates whose frames overlap no frame before them (by offset), in
// index order, each with its frame.
void DropOverlapping(const std::vector<Candidate>& candidates, std::vector<IndexRecord>& kept,
                     std::vector<Frame>& frames) {
  std::vector<std::size_t> by_ofs(candidates.size());
  for (std::size_t i = 0; i < by_ofs.size(); ++i) by_ofs[i] = i;
  // Stable: of two records of one frame, the first in index order stays.
  std::stable_sort(by_ofs.begin(), by_ofs.end(),
                   [&](std::size_t a, std::size_t b) { return candidates[a].rec.ofs < candidates[b].rec.ofs; });
  std::vector<bool> dropped(candidates.size(), false);
  std::uint64_t covered = 0;
  for (std::size_t i : by_ofs) {
    if (candidates[i].rec.ofs < covered) {
      dropped[i] = true;
    } else {
      covered = candidates[i].frame.End();
    }
  }
  kept.clear();
  frames.clear();
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (dropped[i]) continue;
    kept.push_back(candidates[i].rec);
    frames.push_back(candidates[i].frame);
  }
}

// Puts the records (and their frames beside them) in rising UMSGID order:
// an index rewrite a crash cut short can leave a record that moved down
// beside its old copy, or one of a deleted message after its successors.
void SortByUmsgid(std::vector<IndexRecord>& kept, std::vector<Frame>& frames) {
  std::vector<std::size_t> order(kept.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return kept[a].umsgid < kept[b].umsgid; });
  std::vector<IndexRecord> sorted_kept;
  std::vector<Frame> sorted_frames;
  for (std::size_t i : order) {
    sorted_kept.push_back(kept[i]);
    sorted_frames.push_back(frames[i]);
  }
  kept.swap(sorted_kept);
  frames.swap(sorted_frames);
}

// The records whose frames hold whole messages, in rising UMSGID order,
// each with its frame.  False on a failed read.
bool KeptRecords(Stream& sqd, const OnDisk& d, std::vector<IndexRecord>& kept, std::vector<Frame>& frames) {
  std::vector<Candidate> candidates;
  if (!Candidates(sqd, d, candidates)) return false;
  DropOverlapping(candidates, kept, frames);
  SortByUmsgid(kept, frames);
  return true;
}

// Whether `kept` differs from the index on disk (records or their order).
bool IndexDiffers(const std::vector<IndexRecord>& kept, const OnDisk& d) {
  if (kept.size() != d.index.size() || static_cast<std::uint64_t>(d.sqi_size) != kept.size() * kIndexRecordSize) {
    return true;
  }
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (kept[i].ofs != d.index[i].ofs || kept[i].umsgid != d.index[i].umsgid) return true;
  }
  return false;
}

// Walks the data file frame by frame from the base header; collects the
// frames that overlap no kept message and returns where the walk stopped.
bool UnheldFrames(Stream& sqd, const OnDisk& d, const std::vector<Frame>& messages, std::vector<Frame>& unheld,
                  std::uint64_t& walk_end) {
  unheld.clear();
  std::uint32_t at = kBaseHeaderSize;
  while (FrameHeaderFits(at, d.sqd_size)) {
    FrameHeader f;
    if (!ReadHeaderAt(sqd, at, f)) return false;
    if (f.id != kFrameId || !FrameFits(at, f, d.sqd_size)) break;
    const Frame frame{at, f};
    if (!OverlapsMessage(messages, at, frame.End())) unheld.push_back(frame);
    at = static_cast<std::uint32_t>(frame.End());
  }
  walk_end = at;
  return true;
}

// Points each frame's links at its neighbours in `frames` and gives it
// `type`; the edited headers go to `edits` when they changed.
void Relink(std::vector<Frame>& frames, std::uint16_t type, FrameEdits& edits) {
  for (std::size_t i = 0; i < frames.size(); ++i) {
    FrameHeader f = frames[i].header;
    f.prev_frame = i != 0 ? frames[i - 1].ofs : 0;
    f.next_frame = i + 1 < frames.size() ? frames[i + 1].ofs : 0;
    f.frame_type = type;
    std::uint8_t now[kFrameHeaderSize];
    std::uint8_t was[kFrameHeaderSize];
    Encode(f, now);
    Encode(frames[i].header, was);
    if (std::memcmp(now, was, sizeof now) != 0) edits.Put(frames[i].ofs, f);
  }
}

Reconciled Repair(Stream& sqd, Stream& sqi, const OnDisk& d, Findings& found) {
  std::vector<IndexRecord> kept;
  std::vector<Frame> messages;
  if (!KeptRecords(sqd, d, kept, messages)) return Reconciled::kFailed;
  std::vector<Frame> sorted = messages;
  std::sort(sorted.begin(), sorted.end(), [](const Frame& a, const Frame& b) { return a.ofs < b.ofs; });
  std::vector<Frame> free_frames;
  std::uint64_t end = kBaseHeaderSize;
  if (!UnheldFrames(sqd, d, sorted, free_frames, end)) return Reconciled::kFailed;
  for (const Frame& m : messages) end = std::max(end, m.End());

  BaseHeader h = WithChangeMarker(d.base, false);
  h.len = kBaseHeaderSize;
  h.num_msg = h.high_msg = static_cast<std::uint32_t>(kept.size());
  h.uid = std::max<std::uint32_t>(h.uid, 1);
  for (const IndexRecord& r : kept) h.uid = std::max(h.uid, r.umsgid + 1);
  h.begin_frame = kept.empty() ? 0 : kept.front().ofs;
  h.last_frame = kept.empty() ? 0 : kept.back().ofs;
  h.free_frame = free_frames.empty() ? 0 : free_frames.front().ofs;
  h.last_free_frame = free_frames.empty() ? 0 : free_frames.back().ofs;
  h.end_frame = static_cast<std::uint32_t>(end);

  if (IndexDiffers(kept, d) &&
      !(WriteIndexRecords(sqi, 0, kept) &&
        TruncateTo(sqi, static_cast<std::uint32_t>(kept.size() * kIndexRecordSize)) && Sync(sqi))) {
    return Reconciled::kFailed;
  }
  FrameEdits edits(sqd, d.sqd_size);
  Relink(messages, kMessageFrame, edits);
  Relink(free_frames, kFreeFrame, edits);
  if (!edits.WriteAll()) return Reconciled::kFailed;
  if (static_cast<std::uint64_t>(d.sqd_size) > end && !TruncateTo(sqd, h.end_frame)) return Reconciled::kFailed;
  found.records_kept = kept.size();
  found.count_now = h.num_msg;
  found.data_now = std::min<std::int64_t>(d.sqd_size, h.end_frame);
  found.frames_relinked = edits.Count();
  if (!WriteBaseHeader(sqd, h) || !Sync(sqd)) return Reconciled::kFailed;
  return Reconciled::kRepaired;
}

}  // namespace

Reconciled ReconcileBase(Stream& sqd, Stream& sqi, const BaseHeader& fresh, BaseHeader& base, Depth depth,
                         Findings* found, std::vector<IndexRecord>* index) {
  if (index != nullptr) index->clear();
  Findings unused;
  Findings& f = found != nullptr ? *found : unused;
  f = Findings{};
  OnDisk d;
  d.sqd_size = SizeOf(sqd);
  d.sqi_size = SizeOf(sqi);
  if (d.sqd_size < 0 || d.sqi_size < 0) return Reconciled::kFailed;
  if (d.sqd_size < kBaseHeaderSize) {
    // A creation that stopped before its header was whole: nothing else
    // can be in the base yet, so it is completed.
    if (d.sqi_size != 0) return Reconciled::kFailed;
    if (!WriteBaseHeader(sqd, fresh) || !Sync(sqd)) return Reconciled::kFailed;
    base = fresh;
    return Reconciled::kRepaired;
  }
  if (!ReadBaseHeader(sqd, d.base) || !ReadIndexRecords(sqi, d.index)) return Reconciled::kFailed;
  if (d.base.len != kBaseHeaderSize) {
    // No header worth keeping: the repair keeps the messages the index
    // lists and takes the rest from a fresh header.
    d.base = fresh;
  }
  if (depth == Depth::kCheap) {
    const Check ends = EndsAgree(sqd, d);
    if (ends == Check::kIoError) return Reconciled::kFailed;
    if (ends == Check::kAgrees) {
      base = d.base;
      if (index != nullptr) index->swap(d.index);
      return Reconciled::kConsistent;
    }
  }
  f.marker = HasChangeMarker(d.base);
  f.records_found = f.records_kept = d.index.size();
  f.count_was = f.count_now = d.base.num_msg;
  f.data_was = f.data_now = d.sqd_size;
  const Check c = BaseAgrees(sqd, d);
  if (c == Check::kIoError) return Reconciled::kFailed;
  if (c == Check::kAgrees && !HasChangeMarker(d.base)) {
    base = d.base;
    if (index != nullptr) index->swap(d.index);
    return Reconciled::kConsistent;
  }
  if (c == Check::kAgrees) {
    // A change stopped after its last step but before the header that
    // completes it took the marker out: only the marker goes.
    base = WithChangeMarker(d.base, false);
    return WriteBaseHeader(sqd, base) && Sync(sqd) ? Reconciled::kRepaired : Reconciled::kFailed;
  }
  const Reconciled r = Repair(sqd, sqi, d, f);
  if (r == Reconciled::kRepaired && !ReadBaseHeader(sqd, base)) return Reconciled::kFailed;
  return r;
}

}  // namespace lw::squish
