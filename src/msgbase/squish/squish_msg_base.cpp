// Opening, creating and closing a Squish base, moving through its index
// and reading its messages.  The updates are in squish_update.cpp.
#include "msgbase/squish/squish_msg_base.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fidoutil/helpers.h"
#include "msgbase/squish/squish_reconcile.h"
#include "msgbase/squish/squish_text.h"
#include "platform/platform.h"

namespace lw {

namespace {

using squish::kBaseHeaderSize;
using squish::kFrameHeaderSize;
using squish::kIndexRecordSize;
using squish::kMsgHeaderSize;
using squish::SizeOf;
using squish::Sync;

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

bool SquishMsgBase::LoadState(bool index_read) {
  index_changed_from_ = kNoChange;
  index_changed_to_ = 0;
  freed_frames_.clear();
  new_frames_.clear();
  data_unsynced_ = false;
  header_changed_ = false;
  committed_base_ = base_;
  sqd_size_ = SizeOf(*sqd_);
  edits_.emplace(*sqd_, sqd_size_);
  const bool read = sqd_size_ >= 0 && (index_read || squish::ReadIndexRecords(*sqi_, records_));
  index_on_disk_ = records_.size();
  return read;
}

bool SquishMsgBase::Fail() {
  broken_ = true;
  batch_failed_ = batch_failed_ || batch_;
  MessageBase::Fail(kFrameIo);
  // What was staged is dropped; until the reconcile the base reads as the
  // files hold it (an index that cannot be read reads as empty).
  base_ = committed_base_;
  if (!LoadState()) {
    records_.clear();
    index_on_disk_ = 0;
  }
  return false;
}

bool SquishMsgBase::EnsureConsistent() {
  if (!broken_) return true;
  if (squish::ReconcileBase(*sqd_, *sqi_, FreshHeader(), base_, squish::Depth::kFull) == squish::Reconciled::kFailed ||
      !LoadState()) {
    MessageBase::Fail(kFrameIo);
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

namespace {

// Opens `name` for the base's exclusive writing; `fail` is set when that
// failed.  The stream's failures, its open's included, go to `sink`.
std::unique_ptr<Stream> OpenLocked(const std::string& name, int fail_code, int& fail, std::string* sink) {
  std::unique_ptr<Stream> s = OpenFileStream(name, fmReadWrite | fmDenyWrite);
  s->ReportFailuresTo(sink);
  if (s->Status != kStreamOk && fail == 0) {
    fail = fail_code;
    *sink = s->FailureText();
  }
  return s;
}

// Whether `stream` opened; when not, why goes to `*cause` (a stream reports
// only the failures that follow its construction to a sink).
bool Opened(const Stream& stream, std::string* cause) {
  if (stream.Status == kStreamOk) return true;
  *cause = stream.FailureText();
  return false;
}

// Makes `name` (emptied when it exists) hold `bytes`, synced; why it failed
// goes to `*cause`.
bool WholeFile(const std::string& name, const std::string& bytes, std::string* cause) {
  std::unique_ptr<Stream> s = OpenFileStream(name, fmCreate);
  if (!Opened(*s, cause)) return false;
  s->ReportFailuresTo(cause);
  const bool written = squish::WriteAt(*s, 0, bytes.data(), static_cast<std::int32_t>(bytes.size())) && Sync(*s);
  return squish::CloseChecked(*s) && written;
}

}  // namespace

// Opens both files, then checks (and, when it must, repairs) the base and
// reads its index into memory.
bool SquishMsgBase::OpenMsgBase(const std::string& path) {
  if (IsOpen) CloseMsgBase();
  SetPath(path);
  repaired_ = false;
  int fail = !FileExists(FileName("SQD")) ? kNoDataFile : !FileExists(FileName("SQI")) ? kNoIndexFile : 0;
  bool index_read = false;  // the check left the index in records_
  if (fail == 0) sqd_ = OpenLocked(FileName("SQD"), kCannotOpenData, fail, FailureSink());
  if (fail == 0) sqi_ = OpenLocked(FileName("SQI"), kCannotOpenIndex, fail, FailureSink());
  if (fail == 0) {
    const squish::Depth depth = TakeCheckWhole() ? squish::Depth::kFull : squish::Depth::kCheap;
    switch (squish::ReconcileBase(*sqd_, *sqi_, FreshHeader(), base_, depth, &findings_, &records_)) {
      case squish::Reconciled::kConsistent: index_read = true; break;
      case squish::Reconciled::kRepaired:
        repaired_ = true;
        // A repaired base may be one whose creation stopped before its
        // folder was synced.
        if (platform::Os().SyncDirectory(ParentDir(FileName("SQD"))) != platform::kOk) fail = kCannotOpenData;
        break;
      case squish::Reconciled::kFailed: fail = kCannotOpenData; break;
    }
  }
  if (fail == 0 && !LoadState(index_read)) fail = kCannotOpenData;
  if (fail != 0) {
    CloseFiles();
    path_.clear();
    MessageBase::Fail(fail);
    return false;
  }
  broken_ = batch_ = batch_failed_ = new_message_ = false;
  frame_ofs_ = 0;
  IsOpen = true;
  return true;
}

namespace {

// Makes file `name` hold `bytes`, synced.  An existing file of at most
// `at_most` bytes (what a creation that stopped part way leaves) is kept as
// it is for the open to complete; a longer one is never touched.  A
// failure writes what failed and why to `*cause`.
bool PrepareFile(const std::string& name, std::int64_t at_most, const std::string& bytes, std::string* cause) {
  if (FileExists(name)) {
    std::unique_ptr<Stream> s = OpenFileStream(name, fmRead | fmDenyWrite);
    if (!Opened(*s, cause)) return false;
    const std::int64_t size = SizeOf(*s);
    if (size >= 0 && size <= at_most) return true;
    if (size > at_most) *cause = name + ": the file holds more than a new base";
    return false;
  }
  std::unique_ptr<Stream> s = OpenFileStream(name, fmCreateNew);
  if (!Opened(*s, cause)) return false;
  s->ReportFailuresTo(cause);
  if (!bytes.empty() && !squish::WriteAt(*s, 0, bytes.data(), static_cast<std::int32_t>(bytes.size()))) return false;
  return Sync(*s) && squish::CloseChecked(*s);
}

}  // namespace

bool SquishMsgBase::CreateMsgBase(const std::string& path) {
  if (IsOpen) CloseMsgBase();
  SetPath(path);
  const std::string dir = ParentDir(FileName("SQD"));
  std::string header(kBaseHeaderSize, '\0');
  squish::Encode(FreshHeader(), std::span<std::uint8_t, kBaseHeaderSize>(reinterpret_cast<std::uint8_t*>(header.data()),
                                                                         kBaseHeaderSize));
  // Other programs take a base to exist when its data file does: the
  // index comes first, the data file is written whole under a temporary
  // name and renamed into place last, each step's folder entry synced.
  platform::Platform& os = platform::Os();
  std::string* cause = FailureSink();
  const auto noted = [cause](const platform::Result& rc, const std::string& name) {
    if (rc != platform::kOk) *cause = name + ": " + platform::ReasonText(rc);
    return rc == platform::kOk;
  };
  const std::string temp = FileName("SQD") + platform::FixedNamePart(".NEW");
  if (!ForceDirectories(dir, cause) || !PrepareFile(FileName("SQI"), 0, "", cause) || !noted(os.SyncDirectory(dir), dir)) {
    return MessageBase::Fail(kCannotCreateIndex);
  }
  if (!FileExists(FileName("SQD")) && (!WholeFile(temp, header, cause) ||
                                       !noted(os.RenameNoReplace(temp, FileName("SQD")), FileName("SQD")) ||
                                       !noted(os.SyncDirectory(dir), dir))) {
    DeleteFileOk(temp);
    return MessageBase::Fail(kCannotCreateData);
  }
  if (!PrepareFile(FileName("SQD"), kBaseHeaderSize, header, cause)) return MessageBase::Fail(kCannotCreateData);
  return OpenMsgBase(path);
}

// Commits a batch still open; every other update synced what it wrote
// before it returned, so nothing else is written here except the repair of
// what an update that failed part way left (done now when the disk lets
// it, else by the next open).  It reports such an update, a failed commit
// and a failed close.
bool SquishMsgBase::CloseMsgBase() {
  if (!IsOpen) return true;
  const bool committed = CommitBatch();
  const bool ok = !broken_;
  EnsureConsistent();
  IsOpen = false;
  broken_ = false;
  new_message_ = false;
  records_.clear();
  edits_.reset();
  return CloseFiles() && ok && committed;
}

std::vector<std::string> SquishMsgBase::RepairsOnOpen() const {
  std::vector<std::string> said;
  if (!repaired_) return said;
  const squish::Findings& f = findings_;
  if (f.marker) said.emplace_back("a change had stopped part way");
  if (f.records_kept != f.records_found) {
    said.push_back(std::to_string(f.records_found - f.records_kept) + " of " + std::to_string(f.records_found) +
                   " index record(s) led to no whole message: dropped");
  }
  if (f.count_was != f.count_now) {
    said.push_back("the message count was " + std::to_string(f.count_was) + ", now " + std::to_string(f.count_now));
  }
  if (f.data_was != f.data_now) {
    said.push_back(".sqd cut from " + std::to_string(f.data_was) + " to " + std::to_string(f.data_now) +
                   " bytes (a frame torn at its end)");
  }
  if (f.frames_relinked != 0) {
    said.push_back(std::to_string(f.frames_relinked) + " frame header(s) relinked into their chains");
  }
  if (said.empty()) said.emplace_back("the base header did not match the index: rewritten");
  return said;
}

// ---- Index ----

std::int32_t SquishMsgBase::IndexBytes() const { return static_cast<std::int32_t>(records_.size() * kIndexRecordSize); }

bool SquishMsgBase::ReadIndex(std::int32_t pos, squish::IndexRecord& rec) const {
  if (pos < 0 || pos % kIndexRecordSize != 0 || pos >= IndexBytes()) return false;
  rec = records_[static_cast<std::size_t>(pos / kIndexRecordSize)];
  return true;
}

// The records' UMSGIDs rise (an open repairs an index where they do not,
// and new messages take the base's next UMSGID), so a binary search finds
// the first at or above `want`.
std::int32_t SquishMsgBase::FindIndex(MsgNum want, bool at_least) const {
  const auto it = std::lower_bound(records_.begin(), records_.end(), want,
                                   [](const squish::IndexRecord& r, std::int64_t n) { return r.umsgid < n; });
  if (it == records_.end() || (!at_least && MsgNum{it->umsgid} != want)) return -1;
  return static_cast<std::int32_t>(static_cast<std::size_t>(it - records_.begin()) * kIndexRecordSize);
}

void SquishMsgBase::MoveTo(std::int32_t pos) {
  if (IsOpen && ReadIndex(pos, index_)) {
    index_pos_ = pos;
    CurMsgNum = index_.umsgid;
  } else {
    CurMsgNum = 0;
    index_pos_ = 0;
  }
}

bool SquishMsgBase::MsgExists(MsgNum msg_num) { return IsOpen && FindIndex(msg_num, false) >= 0; }

void SquishMsgBase::SeekFirst(MsgNum msg_num) { MoveTo(IsOpen ? FindIndex(msg_num, true) : -1); }
void SquishMsgBase::SeekNext() { MoveTo(index_pos_ + kIndexRecordSize); }
void SquishMsgBase::SeekPrior() { MoveTo(index_pos_ - kIndexRecordSize); }
void SquishMsgBase::SetMsgPosition(MsgNum pos) {
  MoveTo(pos >= 0 && pos <= IndexBytes() ? static_cast<std::int32_t>(pos) : -1);
}

// ---- One message ----

bool SquishMsgBase::ReadMessageFrame(std::uint32_t ofs, squish::FrameHeader& f) {
  std::uint8_t raw[kFrameHeaderSize];
  if (!squish::FrameHeaderFits(ofs, sqd_size_) || !squish::ReadAt(*sqd_, ofs, raw, kFrameHeaderSize)) return false;
  squish::Decode(squish::FrameHeaderBytes(raw), f);
  if (f.frame_type != squish::kMessageFrame || !squish::HoldsWholeMessage(ofs, f, sqd_size_)) {
    MessageBase::Fail(kBadFrame);
    return false;
  }
  return true;
}

// Reads the frame the current index record points at, whole, before any
// of it is handed out; on failure the message state stays as it was.
// Untrusted input: the offset comes from the index and every length from
// the frame header; HoldsWholeMessage checks them all against each other
// and against the data file size (kept in memory, and changed only by this
// object while the base is open) before a byte is read, and MessageText
// cuts only within the bytes read.  Kept safe for the fuzz_squish target.
bool SquishMsgBase::ReadMessage(bool with_body) {
  MessageBase::Fail(kFrameIo);
  if (!IsOpen) return false;
  const std::uint32_t ofs = index_.ofs;
  squish::FrameHeader f;
  if (!ReadMessageFrame(ofs, f)) return false;
  const std::uint32_t wanted = with_body ? f.msg_length : kMsgHeaderSize + f.clen;
  std::string bytes(wanted, '\0');
  if (!squish::ReadAt(*sqd_, ofs + kFrameHeaderSize, bytes.data(), static_cast<std::int32_t>(wanted))) return false;
  text_ = squish::MessageText(bytes, f.clen);
  Text = text_.get();
  squish::Decode(squish::MsgHeaderBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), kMsgHeaderSize), header_);
  frame_ = f;
  frame_ofs_ = ofs;
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
  if (base_.uid == 0) return false;  // every UMSGID was handed out
  CurMsgNum = base_.uid;
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
  SetHeaderAddrs(orig, dest);
  header_.utc_ofs = 0;
  MsgDateTime written;
  GetDateWritten(written);
  SetField(header_.ftsc_date, sizeof header_.ftsc_date, FtscDateText(written));
}

namespace {

void PutAddress(const FidoAddress& addr, std::int16_t (&field)[4]) {
  field[0] = addr.zone;
  field[1] = addr.net;
  field[2] = addr.node;
  field[3] = addr.point;
}

FidoAddress AddressOf(const std::int16_t (&field)[4]) { return {field[0], field[1], field[2], field[3]}; }

}  // namespace

void SquishMsgBase::HeaderAddrs(FidoAddress& orig, FidoAddress& dest) {
  orig = AddressOf(header_.orig);
  dest = AddressOf(header_.dest);
}

void SquishMsgBase::SetHeaderAddrs(const FidoAddress& orig, const FidoAddress& dest) {
  PutAddress(orig, header_.orig);
  PutAddress(dest, header_.dest);
}

bool SquishMsgBase::WriteMsgHeader() {
  if (!IsOpen || frame_ofs_ == 0) return false;
  std::uint8_t raw[kMsgHeaderSize];
  squish::Encode(header_, raw);
  if (!squish::WriteAt(*sqd_, frame_ofs_ + kFrameHeaderSize, raw, kMsgHeaderSize) || !Sync(*sqd_)) return Fail();
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

MsgNum SquishMsgBase::GetLastRead(std::int32_t user_num) {
  if (user_num < 0 || user_num >= INT32_MAX / 4 - 1) return 0;
  std::unique_ptr<Stream> f = OpenFileStream(FileName("SQL"), fmRead | fmDenyWrite);
  std::uint8_t raw[4];
  if (f->Status != kStreamOk || SizeOf(*f) < 4 * (user_num + 1) ||
      !squish::ReadAt(*f, static_cast<std::uint32_t>(4 * user_num), raw, 4)) {
    return 0;
  }
  return GetLe32(raw);
}

bool SquishMsgBase::SetLastRead(std::int32_t user_num, MsgNum msg_num) {
  if (user_num < 0 || user_num >= INT32_MAX / 4 - 1) return false;
  const std::string name = FileName("SQL");
  // An existing file is never recreated: that would empty every other
  // user's value.
  const bool created = !FileExists(name);
  std::unique_ptr<Stream> f = OpenFileStream(name, created ? fmCreateNew : (fmReadWrite | fmDenyWrite));
  std::uint8_t raw[4];
  PutLe32(raw, static_cast<std::uint32_t>(msg_num));
  if (f->Status != kStreamOk || !squish::WriteAt(*f, static_cast<std::uint32_t>(4 * user_num), raw, 4) || !Sync(*f) ||
      !squish::CloseChecked(*f)) {
    return MessageBase::Fail(kFrameIo, *f);
  }
  if (!created) return true;
  const platform::Result synced = platform::Os().SyncDirectory(ParentDir(name));
  return synced == platform::kOk || MessageBase::Fail(kFrameIo, ParentDir(name) + ": " + platform::ReasonText(synced));
}

}  // namespace lw
