// Order of every update, so that a crash at any point (the process killed,
// or a power cut dropping whatever was not synced) leaves a base that the
// next open finds consistent or repairs without losing a whole message.
// The index is the authority for which messages exist; the base header and
// both chains are checked against it on every open and rebuilt from it when
// they disagree (squish_reconcile.cpp).
//
// Creating a base: the .sqd is created holding its whole header (synced),
// then the empty .sqi, then the folder is synced.  A creation that stopped
// part way leaves a .sqd without a whole header or no .sqi; creating again
// reuses such files (never one that holds more), and opening a .sqd without
// a whole header next to an empty index completes the header.
//
// Appending: every neighbour the append will touch is read first (nothing
// is written when one is unreadable: a failed read is never taken as "no
// neighbour").  Then
//   1. the frame, whole (frame header, message header, control info, text),
//      in a free frame or at end_frame, which the open made the file size;
//      synced.  Nothing points at it yet: a crash leaves a frame that the
//      next open's walk puts into the free chain (or cuts off);
//   2. the index record; synced.  From here the message exists; a crash
//      leaves a header and chains that disagree with the index, and the
//      next open links the frame in and recounts;
//   3. the previous frame's link, the free chain without the frame taken,
//      and the base header (uid, num_msg, last_frame, end_frame); synced.
// WriteMsg returns true only after step 3.
//
// A rewritten message that outgrew its frame moves in the same order: the
// new frame, then the index record pointing at it, then the neighbours'
// links, the old frame into the free chain and the header.  A rewrite that
// fits its frame is written in place (the run never rewrites messages).
//
// Deleting: the neighbours are read first, then
//   1. the index record is taken out (the records after it move down, the
//      file is cut by one record); synced.  The message is gone; a crash
//      leaves a frame in the chain that no record holds, which the next
//      open unlinks and frees;
//   2. the neighbours' links, the frame into the free chain, the header;
//      synced.
//
// Any failed read, write, sync or truncate makes the call return false and
// marks the base for reconciling before its next update; no header is
// written that counts a step which failed.
#include "msgbase/squish/squish_msg_base.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fidoutil/helpers.h"
#include "msgbase/squish/squish_reconcile.h"
#include "platform/platform.h"

namespace lw {

namespace {

using squish::kBaseHeaderSize;
using squish::kFrameHeaderSize;
using squish::kIndexRecordSize;
using squish::kMaxControlInfo;
using squish::kMsgHeaderSize;
using squish::SizeOf;
using squish::Sync;

constexpr std::uint32_t kMaxFrameBytes = 0x7FFFFFF0u;
constexpr std::int32_t kIndexChunk = 512;  // records read at a time while searching

const AttrMapping kAttrMap[] = {
    {kAttrPrivate, 0x00000001},      {kAttrCrash, 0x00000002},        {kAttrReceived, 0x00000004},
    {kAttrSent, 0x00000008},         {kAttrFileAttached, 0x00000010}, {kAttrInTransit, 0x00000020},
    {kAttrOrphan, 0x00000040},       {kAttrKillSent, 0x00000080},     {kAttrLocal, 0x00000100},
    {kAttrHold, 0x00000200},         {kAttrFileRequest, 0x00000800},  {kAttrReturnReceiptRequest, 0x00001000},
    {kAttrAuditRequest, 0x00004000}, {kAttrScanned, 0x00010000},
};

void SetField(char* field, std::size_t size, const std::string& value) {
  std::memset(field, 0, size);
  StrToZ(field, size, value);
}

// Splits a text into the control info (its leading kludge lines run
// together, without line ends) and the offset at which the body begins.
// Kludge lines that would make the control info too long stay in the body.
std::size_t SplitControlInfo(const std::string& text, std::string& control) {
  std::size_t pos = 0;
  while (pos < text.size() && text[pos] == kKludgeChar) {
    std::size_t end = pos;
    while (end < text.size() && text[end] != kLineTerminator && text[end] != 0) ++end;
    if (control.size() + (end - pos) + 1 >= kMaxControlInfo) break;
    control.append(text, pos, end - pos);
    std::size_t next = end < text.size() ? end + 1 : end;
    if (end < text.size() && next < text.size() && text[next] == '\n') ++next;
    pos = next;
  }
  control.push_back('\0');
  return pos;
}

}  // namespace

std::uint32_t SquishHash(std::string_view to_name) {
  std::uint32_t h = 0;
  for (char ch : to_name) {
    h = (h << 4) + static_cast<std::uint8_t>(LowerChar(ch));
    std::uint32_t g = h & 0xF0000000u;
    if (g != 0) h = h | (g >> 24) | g;
  }
  return h & 0x7FFFFFFFu;
}

SquishMsgBase::SquishMsgBase() = default;

SquishMsgBase::~SquishMsgBase() { CloseMsgBase(); }

void SquishMsgBase::SetPath(const std::string& path) {
  path_ = path;
  if (path_.empty() || path_.back() != '.') path_ += '.';
}

std::string SquishMsgBase::FileName(const char* extension) const { return path_ + platform::FixedNamePart(extension); }

squish::BaseHeader SquishMsgBase::FreshHeader() const {
  squish::BaseHeader h;
  std::string name = path_.substr(0, path_.size() - 1).substr(0, 79);
  std::memcpy(h.base, name.data(), name.size());
  return h;
}

bool SquishMsgBase::CloseFiles() {
  bool ok = true;
  for (std::unique_ptr<Stream>* file : {&sqd_, &sqi_}) {
    if (*file) ok = squish::CloseChecked(**file) && ok;
    file->reset();
  }
  return ok;
}

bool SquishMsgBase::Fail() {
  broken_ = true;
  Status = kFrameIo;
  return false;
}

bool SquishMsgBase::EnsureConsistent() {
  if (!broken_) return true;
  if (squish::ReconcileBase(*sqd_, *sqi_, FreshHeader(), base_) == squish::Reconciled::kFailed) {
    Status = kFrameIo;
    return false;
  }
  broken_ = false;
  return true;
}

bool SquishMsgBase::MsgBaseExists(const std::string& path) {
  std::string saved = path_;
  SetPath(path);
  bool exists = FileExists(FileName("SQD")) && FileExists(FileName("SQI"));
  path_ = saved;
  return exists;
}

bool SquishMsgBase::OpenMsgBase(const std::string& path) {
  if (IsOpen) CloseMsgBase();
  SetPath(path);
  int fail = 0;
  if (!FileExists(FileName("SQD"))) {
    fail = kNoDataFile;
  } else if (!FileExists(FileName("SQI"))) {
    fail = kNoIndexFile;
  } else {
    sqd_ = OpenFileStream(FileName("SQD"), fmReadWrite | fmDenyWrite);
    if (sqd_->Status != kStreamOk) {
      fail = kCannotOpenData;
    } else {
      sqi_ = OpenFileStream(FileName("SQI"), fmReadWrite | fmDenyWrite);
      if (sqi_->Status != kStreamOk) fail = kCannotOpenIndex;
    }
  }
  if (fail == 0) {
    switch (squish::ReconcileBase(*sqd_, *sqi_, FreshHeader(), base_)) {
      case squish::Reconciled::kConsistent: break;
      case squish::Reconciled::kRepaired:
        // A repaired base may be one whose creation stopped before its
        // folder was synced.
        if (platform::Os().SyncDirectory(ParentDir(FileName("SQD"))) != platform::kOk) fail = kCannotOpenData;
        break;
      case squish::Reconciled::kFailed: fail = kCannotOpenData; break;
    }
  }
  if (fail != 0) {
    CloseFiles();
    path_.clear();
    Status = fail;
    return false;
  }
  broken_ = false;
  new_message_ = false;
  frame_ofs_ = 0;
  IsOpen = true;
  return true;
}

namespace {

// Makes file `name` hold `bytes`, synced.  An existing file of at most
// `at_most` bytes (what a creation that stopped part way leaves) is kept as
// it is for the open to complete; a longer one is never touched.
bool PrepareFile(const std::string& name, std::int64_t at_most, const std::string& bytes) {
  if (FileExists(name)) {
    std::unique_ptr<Stream> s = OpenFileStream(name, fmRead | fmDenyWrite);
    if (s->Status != kStreamOk) return false;
    const std::int64_t size = SizeOf(*s);
    return size >= 0 && size <= at_most;
  }
  std::unique_ptr<Stream> s = OpenFileStream(name, fmCreateNew);
  if (s->Status != kStreamOk) return false;
  if (!bytes.empty() && !squish::WriteAt(*s, 0, bytes.data(), static_cast<std::int32_t>(bytes.size()))) return false;
  return Sync(*s) && squish::CloseChecked(*s);
}

}  // namespace

bool SquishMsgBase::CreateMsgBase(const std::string& path) {
  if (IsOpen) CloseMsgBase();
  SetPath(path);
  const std::string dir = ParentDir(FileName("SQD"));
  std::string header(kBaseHeaderSize, '\0');
  squish::Encode(FreshHeader(), reinterpret_cast<std::uint8_t*>(header.data()));
  int fail = 0;
  if (!ForceDirectories(dir) || !PrepareFile(FileName("SQD"), kBaseHeaderSize, header)) {
    fail = kCannotCreateData;
  } else if (!PrepareFile(FileName("SQI"), 0, "")) {
    fail = kCannotCreateIndex;
  } else if (platform::Os().SyncDirectory(dir) != platform::kOk) {
    fail = kCannotCreateData;
  }
  if (fail != 0) {
    Status = fail;
    return false;
  }
  return OpenMsgBase(path);
}

// Every update syncs what it wrote before it returns, so closing writes
// nothing, except the repair of what an update that failed part way left
// (done now when the disk lets it, else by the next open).  It reports
// such an update and a failed close.
bool SquishMsgBase::CloseMsgBase() {
  if (!IsOpen) return true;
  const bool ok = !broken_;
  EnsureConsistent();
  IsOpen = false;
  broken_ = false;
  new_message_ = false;
  return CloseFiles() && ok;
}

// ---- Index ----

std::int32_t SquishMsgBase::IndexBytes() {
  const std::int64_t size = SizeOf(*sqi_);
  return size < 0 ? -1 : static_cast<std::int32_t>(size - size % kIndexRecordSize);
}

bool SquishMsgBase::ReadIndex(std::int32_t pos, squish::IndexRecord& rec) {
  if (pos < 0 || pos + kIndexRecordSize > IndexBytes()) return false;
  std::uint8_t raw[kIndexRecordSize];
  if (!squish::ReadAt(*sqi_, static_cast<std::uint32_t>(pos), raw, kIndexRecordSize)) return false;
  squish::Decode(raw, rec);
  return true;
}

std::int32_t SquishMsgBase::FindIndex(std::int32_t want, bool at_least) {
  const std::int32_t total = IndexBytes();
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(kIndexChunk * kIndexRecordSize));
  for (std::int32_t start = 0; start < total; start += kIndexChunk * kIndexRecordSize) {
    std::int32_t n = std::min(total - start, kIndexChunk * kIndexRecordSize);
    if (!squish::ReadAt(*sqi_, static_cast<std::uint32_t>(start), chunk.data(), n)) return -1;
    for (std::int32_t at = 0; at < n; at += kIndexRecordSize) {
      std::int32_t umsgid = static_cast<std::int32_t>(GetLe32(chunk.data() + at + 4));
      if (umsgid == want || (at_least && umsgid >= want)) return start + at;
    }
  }
  return -1;
}

bool SquishMsgBase::MsgExists(std::int32_t msg_num) { return IsOpen && FindIndex(msg_num, false) >= 0; }

void SquishMsgBase::SeekFirst(std::int32_t msg_num) {
  std::int32_t pos = IsOpen ? FindIndex(msg_num, true) : -1;
  if (pos >= 0 && ReadIndex(pos, index_)) {
    index_pos_ = pos;
    CurMsgNum = static_cast<std::int32_t>(index_.umsgid);
  } else {
    CurMsgNum = 0;
    index_pos_ = 0;
  }
}

void SquishMsgBase::SeekNext() {
  index_pos_ += kIndexRecordSize;
  if (IsOpen && ReadIndex(index_pos_, index_)) {
    CurMsgNum = static_cast<std::int32_t>(index_.umsgid);
  } else {
    CurMsgNum = 0;
    index_pos_ = 0;
  }
}

void SquishMsgBase::SeekPrior() {
  index_pos_ -= kIndexRecordSize;
  if (index_pos_ >= 0 && IsOpen && ReadIndex(index_pos_, index_)) {
    CurMsgNum = static_cast<std::int32_t>(index_.umsgid);
  } else {
    CurMsgNum = 0;
    index_pos_ = 0;
  }
}

void SquishMsgBase::SetMsgPosition(std::int32_t pos) {
  index_pos_ = pos;
  if (IsOpen && ReadIndex(pos, index_)) {
    CurMsgNum = static_cast<std::int32_t>(index_.umsgid);
  } else {
    CurMsgNum = 0;
    index_pos_ = 0;
  }
}

// ---- One message ----

// Reads the frame the current index record points at, whole, before any
// of it is handed out; on failure the message state stays as it was.
bool SquishMsgBase::ReadMessage(bool with_body) {
  Status = kFrameIo;
  if (!IsOpen) return false;
  const std::uint32_t ofs = index_.ofs;
  const std::int64_t size = SizeOf(*sqd_);
  std::uint8_t raw[kFrameHeaderSize];
  if (size < 0 || !squish::FrameHeaderFits(ofs, size) || !squish::ReadAt(*sqd_, ofs, raw, kFrameHeaderSize)) {
    return false;
  }
  squish::FrameHeader f;
  squish::Decode(raw, f);
  if (f.frame_type != squish::kMessageFrame || !squish::HoldsWholeMessage(ofs, f, size)) {
    Status = kBadFrame;
    return false;
  }
  const std::uint32_t wanted = with_body ? f.msg_length : kMsgHeaderSize + f.clen;
  std::string bytes(wanted, '\0');
  if (!squish::ReadAt(*sqd_, ofs + kFrameHeaderSize, bytes.data(), static_cast<std::int32_t>(wanted))) return false;

  auto text = NewMemoryStream(kMemStreamSizeHint);
  // The control info is cut before every ^A but its first byte; each piece
  // (closing NULs dropped) is one kludge line.
  const std::string_view control(bytes.data() + kMsgHeaderSize, f.clen);
  std::size_t start = 0;
  while (start < control.size()) {
    std::size_t end = control.find(kKludgeChar, start + 1);
    if (end == std::string::npos) end = control.size();
    std::size_t len = end - start;
    while (len > 0 && control[start + len - 1] == 0) --len;
    text->Write(control.data() + start, static_cast<std::int32_t>(len));
    text->Write(&kLineTerminator, 1);
    start = end;
  }
  std::string_view body(bytes);
  body.remove_prefix(kMsgHeaderSize + f.clen);
  if (!body.empty() && body.back() == 0) body.remove_suffix(1);  // the closing NUL, when the writer put one
  text->Write(body.data(), static_cast<std::int32_t>(body.size()));
  text->Seek(0);

  squish::Decode(reinterpret_cast<const std::uint8_t*>(bytes.data()), header_);
  frame_ = f;
  frame_ofs_ = ofs;
  text_ = std::move(text);
  Text = text_.get();
  new_message_ = false;
  Status = 0;
  return true;
}

bool SquishMsgBase::OpenMsg() { return ReadMessage(true); }
bool SquishMsgBase::OpenMsgHeader() { return ReadMessage(false); }

bool SquishMsgBase::CloseMsg() {
  if (!text_) return false;
  Text = nullptr;
  text_.reset();
  return true;
}

bool SquishMsgBase::CreateMsg() {
  if (!IsOpen) return false;
  header_ = squish::MsgHeader{};
  frame_ = squish::FrameHeader{};
  index_ = squish::IndexRecord{};
  CurMsgNum = static_cast<std::int32_t>(base_.uid);
  header_.umsgid = base_.uid;
  frame_ofs_ = 0;
  header_.attr = squish::kUmsgidValid;
  index_.umsgid = header_.umsgid;
  index_pos_ = IndexBytes();
  text_ = NewMemoryStream(kMemStreamSizeHint);
  Text = text_.get();
  SetDatesToNow();
  new_message_ = true;
  return true;
}

void SquishMsgBase::FillDerivedFields() {
  FidoAddress orig;
  FidoAddress dest;
  GetAddrs(orig, dest);
  const std::int16_t o[4] = {orig.zone, orig.net, orig.node, orig.point};
  const std::int16_t d[4] = {dest.zone, dest.net, dest.node, dest.point};
  std::memcpy(header_.orig, o, sizeof o);
  std::memcpy(header_.dest, d, sizeof d);
  header_.utc_ofs = 0;
  MsgDateTime written;
  GetDateWritten(written);
  SetField(header_.ftsc_date, sizeof header_.ftsc_date, FtscDateText(written));
}

bool SquishMsgBase::WriteMsg() {
  if (!IsOpen || Text == nullptr || !EnsureConsistent()) return false;
  const std::string text = ReadAllBytes(*Text);
  std::string control;
  const std::size_t body_start = SplitControlInfo(text, control);
  const std::uint64_t need = kMsgHeaderSize + control.size() + (text.size() - body_start) + 1;
  if (need > kMaxFrameBytes) return false;
  if (new_message_) {
    // The number is taken now: a reconcile since CreateMsg may have moved uid.
    header_.umsgid = base_.uid;
    CurMsgNum = static_cast<std::int32_t>(base_.uid);
  }
  FillDerivedFields();
  std::string payload(kMsgHeaderSize, '\0');
  squish::Encode(header_, reinterpret_cast<std::uint8_t*>(payload.data()));
  payload += control;
  payload.append(text, body_start, std::string::npos);
  payload.push_back('\0');
  const auto clen = static_cast<std::uint32_t>(control.size());
  return new_message_ ? AppendMessage(payload, clen) : RewriteMessage(payload, clen);
}

bool SquishMsgBase::PlaceFrame(squish::FrameEdits& edits, squish::BaseHeader& h, std::uint32_t need, std::uint32_t* ofs,
                               std::uint32_t* length) {
  const std::int64_t size = SizeOf(*sqd_);
  if (size < 0) return false;
  // The open checked the free chain; the walk is bounded by the file all
  // the same.
  const std::int64_t limit = size / kFrameHeaderSize + 1;
  std::uint32_t at = h.free_frame;
  squish::FrameHeader f;
  for (std::int64_t steps = 0; at != 0 && steps < limit; ++steps) {
    if (!edits.Get(at, f) || f.frame_type != squish::kFreeFrame) break;
    if (f.frame_length >= need && squish::FrameFits(at, f, size)) {
      if (!squish::UnlinkFrame(edits, squish::ChainEnds{&h.free_frame, &h.last_free_frame}, at, f,
                               squish::kFreeFrame)) {
        break;
      }
      *ofs = at;
      *length = f.frame_length;
      return true;
    }
    at = f.next_frame;
  }
  // A new frame goes at end_frame, which the open made the file size.
  if (h.end_frame != size || std::uint64_t{h.end_frame} + kFrameHeaderSize + need > kMaxFrameBytes) return false;
  *ofs = h.end_frame;
  *length = need;
  return true;
}

bool SquishMsgBase::WriteWholeFrame(std::uint32_t ofs, const squish::FrameHeader& f, const std::string& payload) {
  std::string bytes(kFrameHeaderSize, '\0');
  squish::Encode(f, reinterpret_cast<std::uint8_t*>(bytes.data()));
  bytes += payload;
  return squish::WriteAt(*sqd_, ofs, bytes.data(), static_cast<std::int32_t>(bytes.size())) && Sync(*sqd_);
}

bool SquishMsgBase::AppendMessage(const std::string& payload, std::uint32_t clen) {
  const std::int64_t size = SizeOf(*sqd_);
  const std::int32_t pos = IndexBytes();
  if (size < 0 || pos < 0 || static_cast<std::uint32_t>(pos) != base_.num_msg * kIndexRecordSize) return Fail();
  squish::FrameEdits edits(*sqd_, size);
  squish::BaseHeader h = base_;
  const auto need = static_cast<std::uint32_t>(payload.size());
  std::uint32_t ofs = 0;
  std::uint32_t length = 0;
  if (!PlaceFrame(edits, h, need, &ofs, &length)) return Fail();
  squish::FrameHeader f;
  f.prev_frame = h.last_frame;
  f.frame_length = length;
  f.msg_length = need;
  f.clen = clen;
  if (h.last_frame != 0) {
    squish::FrameHeader last;
    if (!edits.Get(h.last_frame, last) || last.frame_type != squish::kMessageFrame || last.next_frame != 0) {
      return Fail();
    }
    last.next_frame = ofs;
    edits.Put(h.last_frame, last);
  } else {
    h.begin_frame = ofs;
  }
  h.last_frame = ofs;
  h.num_msg += 1;
  h.high_msg += 1;
  h.uid = header_.umsgid + 1;
  h.end_frame = std::max(h.end_frame, ofs + kFrameHeaderSize + length);

  std::string to;
  GetTo(to);
  const squish::IndexRecord rec{ofs, header_.umsgid, SquishHash(to)};
  std::uint8_t raw[kIndexRecordSize];
  squish::Encode(rec, raw);
  if (!WriteWholeFrame(ofs, f, payload)) return Fail();
  if (!squish::WriteAt(*sqi_, static_cast<std::uint32_t>(pos), raw, kIndexRecordSize) || !Sync(*sqi_)) return Fail();
  if (!edits.WriteAll() || !squish::WriteBaseHeader(*sqd_, h) || !Sync(*sqd_)) return Fail();
  base_ = h;
  frame_ = f;
  frame_ofs_ = ofs;
  index_ = rec;
  index_pos_ = pos;
  new_message_ = false;
  return true;
}

bool SquishMsgBase::RewriteMessage(const std::string& payload, std::uint32_t clen) {
  squish::IndexRecord rec;
  if (frame_ofs_ == 0 || !ReadIndex(index_pos_, rec) || rec.ofs != frame_ofs_) return false;
  const std::int64_t size = SizeOf(*sqd_);
  if (size < 0) return Fail();
  squish::FrameEdits edits(*sqd_, size);
  squish::BaseHeader h = base_;
  squish::FrameHeader old;
  if (!edits.Get(frame_ofs_, old) || old.frame_type != squish::kMessageFrame) return Fail();
  std::string to;
  GetTo(to);
  rec.hash = SquishHash(to);
  const auto need = static_cast<std::uint32_t>(payload.size());
  squish::FrameHeader f = old;
  f.msg_length = need;
  f.clen = clen;
  if (old.frame_length >= need) {  // fits: written in place
    std::uint8_t raw[kIndexRecordSize];
    squish::Encode(rec, raw);
    if (!WriteWholeFrame(frame_ofs_, f, payload) ||
        !squish::WriteAt(*sqi_, static_cast<std::uint32_t>(index_pos_), raw, kIndexRecordSize) || !Sync(*sqi_)) {
      return Fail();
    }
    frame_ = f;
    index_ = rec;
    return true;
  }
  std::uint32_t ofs = 0;
  if (!PlaceFrame(edits, h, need, &ofs, &f.frame_length)) return Fail();
  squish::FrameHeader neighbour;
  if (old.prev_frame != 0) {
    if (!edits.Get(old.prev_frame, neighbour) || neighbour.next_frame != frame_ofs_) return Fail();
    neighbour.next_frame = ofs;
    edits.Put(old.prev_frame, neighbour);
  } else {
    h.begin_frame = ofs;
  }
  if (old.next_frame != 0) {
    if (!edits.Get(old.next_frame, neighbour) || neighbour.prev_frame != frame_ofs_) return Fail();
    neighbour.prev_frame = ofs;
    edits.Put(old.next_frame, neighbour);
  } else {
    h.last_frame = ofs;
  }
  if (!squish::AppendFreeFrame(edits, h, frame_ofs_, old)) return Fail();
  h.end_frame = std::max(h.end_frame, ofs + kFrameHeaderSize + f.frame_length);
  rec.ofs = ofs;
  std::uint8_t raw[kIndexRecordSize];
  squish::Encode(rec, raw);
  if (!WriteWholeFrame(ofs, f, payload)) return Fail();
  if (!squish::WriteAt(*sqi_, static_cast<std::uint32_t>(index_pos_), raw, kIndexRecordSize) || !Sync(*sqi_)) {
    return Fail();
  }
  if (!edits.WriteAll() || !squish::WriteBaseHeader(*sqd_, h) || !Sync(*sqd_)) return Fail();
  base_ = h;
  frame_ = f;
  frame_ofs_ = ofs;
  index_ = rec;
  return true;
}

bool SquishMsgBase::WriteMsgHeader() {
  if (!IsOpen || frame_ofs_ == 0) return false;
  std::uint8_t raw[kMsgHeaderSize];
  squish::Encode(header_, raw);
  if (!squish::WriteAt(*sqd_, frame_ofs_ + kFrameHeaderSize, raw, kMsgHeaderSize) || !Sync(*sqd_)) return Fail();
  return true;
}

// Removes the message last read: its index record is taken out, then its
// frame leaves the message chain for the free chain.  The position steps
// back so that SeekNext reaches the record that followed it.
bool SquishMsgBase::DeleteMsg() {
  if (!IsOpen || frame_ofs_ == 0 || new_message_ || !EnsureConsistent()) return false;
  squish::IndexRecord rec;
  if (!ReadIndex(index_pos_, rec) || rec.ofs != frame_ofs_) return false;
  const std::int64_t size = SizeOf(*sqd_);
  const std::int32_t total = IndexBytes();
  if (size < 0 || total < index_pos_ + kIndexRecordSize) return Fail();
  squish::FrameEdits edits(*sqd_, size);
  squish::BaseHeader h = base_;
  squish::FrameHeader f;
  if (!edits.Get(frame_ofs_, f) || f.frame_type != squish::kMessageFrame ||
      !squish::UnlinkFrame(edits, squish::ChainEnds{&h.begin_frame, &h.last_frame}, frame_ofs_, f,
                           squish::kMessageFrame) ||
      !squish::AppendFreeFrame(edits, h, frame_ofs_, f)) {
    return Fail();
  }
  h.num_msg -= 1;
  h.high_msg -= 1;

  const auto after = static_cast<std::uint32_t>(index_pos_ + kIndexRecordSize);
  std::string rest(static_cast<std::size_t>(total) - after, '\0');
  const std::int32_t rest_size = static_cast<std::int32_t>(rest.size());
  if (rest_size != 0 && !(squish::ReadAt(*sqi_, after, rest.data(), rest_size) &&
                          squish::WriteAt(*sqi_, static_cast<std::uint32_t>(index_pos_), rest.data(), rest_size))) {
    return Fail();
  }
  if (!squish::TruncateTo(*sqi_, static_cast<std::uint32_t>(total - kIndexRecordSize)) || !Sync(*sqi_)) {
    return Fail();
  }
  if (!edits.WriteAll() || !squish::WriteBaseHeader(*sqd_, h) || !Sync(*sqd_)) return Fail();
  base_ = h;
  index_pos_ -= kIndexRecordSize;
  frame_ofs_ = 0;
  return true;
}

// ---- Header fields ----

void SquishMsgBase::GetFrom(std::string& name) { name = ZToStr(header_.from, sizeof header_.from); }
void SquishMsgBase::GetTo(std::string& name) { name = ZToStr(header_.to, sizeof header_.to); }
void SquishMsgBase::GetSubj(std::string& subj) { subj = ZToStr(header_.subject, sizeof header_.subject); }
void SquishMsgBase::SetFrom(const std::string& name) { SetField(header_.from, sizeof header_.from, name); }
void SquishMsgBase::SetTo(const std::string& name) { SetField(header_.to, sizeof header_.to, name); }
void SquishMsgBase::SetSubj(const std::string& subj) { SetField(header_.subject, sizeof header_.subject, subj); }

bool SquishMsgBase::IsAttr(std::uint32_t mask) {
  std::uint32_t bit = MapAttr(kAttrMap, mask);
  return bit != 0 && (header_.attr & bit) != 0;
}

void SquishMsgBase::SetAttr(std::uint32_t mask, bool on) {
  std::uint32_t bit = MapAttr(kAttrMap, mask);
  if (bit == 0) return;
  header_.attr = on ? (header_.attr | bit) : (header_.attr & ~bit);
}

void SquishMsgBase::GetDateWritten(MsgDateTime& dt) {
  UnpackStampWords(header_.written_time, header_.written_date, dt);
}

void SquishMsgBase::GetDateArrived(MsgDateTime& dt) {
  UnpackStampWords(header_.arrived_time, header_.arrived_date, dt);
}

void SquishMsgBase::SetDateWritten(const MsgDateTime& dt) {
  PackStampWords(dt, header_.written_time, header_.written_date);
}

void SquishMsgBase::SetDateArrived(const MsgDateTime& dt) {
  PackStampWords(dt, header_.arrived_time, header_.arrived_date);
}

// ---- Lastread ----

std::int32_t SquishMsgBase::GetLastRead(std::int32_t user_num) {
  if (user_num < 0 || user_num >= INT32_MAX / 4 - 1) return 0;
  std::unique_ptr<Stream> f = OpenFileStream(FileName("SQL"), fmRead | fmDenyWrite);
  std::uint8_t raw[4];
  if (f->Status != kStreamOk || SizeOf(*f) < 4 * (user_num + 1) ||
      !squish::ReadAt(*f, static_cast<std::uint32_t>(4 * user_num), raw, 4)) {
    return 0;
  }
  return static_cast<std::int32_t>(GetLe32(raw));
}

bool SquishMsgBase::SetLastRead(std::int32_t user_num, std::int32_t msg_num) {
  if (user_num < 0 || user_num >= INT32_MAX / 4 - 1) return false;
  const std::string name = FileName("SQL");
  // An existing file is never recreated: that would empty every other
  // user's value.
  const bool created = !FileExists(name);
  std::unique_ptr<Stream> f = OpenFileStream(name, created ? fmCreateNew : (fmReadWrite | fmDenyWrite));
  if (f->Status != kStreamOk) return false;
  std::uint8_t raw[4];
  PutLe32(raw, static_cast<std::uint32_t>(msg_num));
  if (!squish::WriteAt(*f, static_cast<std::uint32_t>(4 * user_num), raw, 4) || !Sync(*f) ||
      !squish::CloseChecked(*f)) {
    return false;
  }
  return !created || platform::Os().SyncDirectory(ParentDir(name)) == platform::kOk;
}

}  // namespace lw
