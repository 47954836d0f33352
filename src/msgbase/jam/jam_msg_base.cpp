// Opening, creating and closing a JAM base, walking its index, reading its
// messages, their header fields and the lastread records.  The updates are
// in jam_update.cpp, the open's check and repair in jam_reconcile.cpp, and
// how text maps onto subfields in jam_text.cpp.
//
// Creation (CreateMsgBase):
//   1. the missing .jdx, .jdt and .jlr are created empty, an existing one
//      is never emptied; their folder is synced;
//   2. a missing .jhr is written whole (its fixed header) under a
//      temporary name, synced, renamed into place; the folder is synced.
//   Other programs take a base to exist when its .jhr does, so none ever
//   sees a part of one: a crash leaves the old state or files without a
//   .jhr, which the next create completes.  (A .jhr left empty or with a
//   partial fixed header by another program is completed by the open.)
// Nothing is trusted from the files: every offset and length is checked
// against the file sizes and the buffer before use, and every walk is
// bounded by the index records present.
#include "msgbase/jam/jam_msg_base.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fidoutil/helpers.h"
#include "platform/platform.h"

namespace lw {

namespace {

using jam::kFixedHeaderSize;
using jam::kIndexRecordSize;
using jam::kLastReadSize;
using jam::kMsgHeaderSize;
using jam::kSubfieldHeaderSize;
using jam::kMaxMsgNum;
using jam::RecordAt;

constexpr std::int32_t kLastReadChunk = 256;  // records read at a time

const AttrMapping kAttrMap[] = {
    {kAttrPrivate, 0x00000004},      {kAttrCrash, 0x00000100},        {kAttrReceived, 0x00000008},
    {kAttrSent, 0x00000010},         {kAttrFileAttached, 0x00002000}, {kAttrInTransit, 0x00000002},
    {kAttrOrphan, 0x00040000},       {kAttrKillSent, 0x00000020},     {kAttrLocal, 0x00000001},
    {kAttrHold, 0x00000080},         {kAttrFileRequest, 0x00001000},  {kAttrReturnReceiptRequest, 0x00010000},
    {kAttrAuditRequest, 0x00020000}, {0x00800000, 0x00800000},        {0x01000000, 0x01000000},
    {0x02000000, 0x02000000},
};

}  // namespace

JamMsgBase::JamMsgBase() {
  for (jam::JamFile* file : {&jhr_, &jdx_, &jdt_, &jlr_}) file->ReportFailuresTo(FailureSink());
}

JamMsgBase::~JamMsgBase() {
  CloseMsg();
  CloseMsgBase();
}

void JamMsgBase::SetPath(const std::string& path) {
  path_ = path;
  if (path_.empty() || path_.back() != '.') path_ += '.';
}

std::string JamMsgBase::FileName(const char* extension) const { return path_ + platform::FixedNamePart(extension); }

bool JamMsgBase::CloseFiles() {
  bool ok = true;
  for (jam::JamFile* f : {&jhr_, &jdx_, &jdt_, &jlr_}) ok = f->Close() && ok;
  return ok;
}

bool JamMsgBase::MsgBaseExists(const std::string& path) {
  std::string saved = path_;
  SetPath(path);
  bool exists = FileExists(FileName("JHR")) && FileExists(FileName("JDX")) && FileExists(FileName("JDT")) &&
                FileExists(FileName("JLR"));
  path_ = saved;
  return exists;
}

std::int32_t JamMsgBase::OpenFiles() {
  struct Part {
    const char* ext;
    std::int32_t missing;
    std::int32_t unopenable;
    jam::JamFile* file;
    platform::Sharing sharing;
  } parts[] = {
      {"JHR", kNoHeaderFile, kCannotOpenHeader, &jhr_, platform::Sharing::kDenyWrite},
      {"JDX", kNoIndexFile, kCannotOpenIndex, &jdx_, platform::Sharing::kDenyWrite},
      {"JDT", kNoTextFile, kCannotOpenText, &jdt_, platform::Sharing::kDenyWrite},
      {"JLR", kNoLastReadFile, kCannotOpenLastRead, &jlr_, platform::Sharing::kExclusive},
  };
  for (const Part& p : parts) {
    if (!FileExists(FileName(p.ext))) return p.missing;
  }
  for (const Part& p : parts) {
    if (!p.file->Open(FileName(p.ext), p.sharing)) return p.unopenable;
  }
  return 0;
}

bool JamMsgBase::OpenMsgBase(const std::string& path) {
  if (IsOpen) CloseMsgBase();
  SetPath(path);
  fixed_dirty_ = false;
  marker_found_ = false;
  repaired_ = false;
  findings_ = RepairFindings{};
  ForgetPending();
  std::int32_t fail = OpenFiles();
  if (fail == 0) fail = ReadOrCompleteFixedHeader();
  if (fail == 0) fail = CheckOnOpen();
  if (fail != 0) {
    CloseFiles();
    path_.clear();
    Fail(fail);
    return false;
  }
  IsOpen = true;
  return true;
}

bool JamMsgBase::CreateMsgBase(const std::string& path) {
  if (IsOpen) CloseMsgBase();
  SetPath(path);
  const std::string dir = ParentDir(path_);
  std::string cause;
  if (!ForceDirectories(dir, &cause)) return Fail(kCannotCreateHeader, cause);
  const auto failed = [this](std::int32_t code, const std::string& name, const platform::Result& rc) {
    return Fail(code, name + ": " + platform::ReasonText(rc));
  };
  struct Part {
    const char* ext;
    std::int32_t status;
  } parts[] = {
      {"JDX", kCannotCreateIndex},
      {"JDT", kCannotCreateText},
      {"JLR", kCannotOpenLastRead},
  };
  bool created = false;
  for (const Part& p : parts) {
    if (FileExists(FileName(p.ext))) continue;
    if (const platform::Result rc = jam::JamFile::CreateEmpty(FileName(p.ext)); rc != platform::kOk) {
      return failed(p.status, FileName(p.ext), rc);
    }
    created = true;
  }
  platform::Platform& os = platform::Os();
  if (const platform::Result rc = created ? os.SyncDirectory(dir) : platform::Result(); rc != platform::kOk) {
    return failed(kCannotCreateHeader, dir, rc);
  }
  if (!FileExists(FileName("JHR"))) {
    fixed_ = jam::FixedHeader{};
    MsgDateTime now;
    GetNow(now);
    fixed_.date_created = static_cast<std::uint32_t>(DateTimeToUnix(now));
    std::array<std::uint8_t, kFixedHeaderSize> raw;
    jam::Encode(fixed_, raw);
    const std::string temp = FileName("JHR") + platform::FixedNamePart(".NEW");
    // The header file comes last, whole, under its own name at once: other
    // programs take a base to exist when its header file does.
    platform::Result rc = jam::JamFile::CreateWhole(temp, raw);
    std::string failed_name = temp;
    if (rc == platform::kOk) {
      rc = os.RenameNoReplace(temp, FileName("JHR"));
      failed_name = FileName("JHR");
    }
    if (rc != platform::kOk) {
      DeleteFileOk(temp);
      return failed(kCannotCreateHeader, failed_name, rc);
    }
    if (const platform::Result synced = os.SyncDirectory(dir); synced != platform::kOk) {
      return failed(kCannotCreateHeader, dir, synced);
    }
  }
  return OpenMsgBase(path);
}

bool JamMsgBase::CloseMsgBase() {
  if (!IsOpen) return true;
  bool ok = CommitBatch();
  IsOpen = false;
  // Normally written at each change; here only after a failed attempt.
  ok = (!fixed_dirty_ || WriteFixedHeader()) && ok;
  ok = CloseFiles() && ok;
  fixed_dirty_ = false;
  return ok || Fail(kCannotWriteMessage);
}

// Index records present, on disk or pending in a batch, no more than
// message numbers can name; -1 when the size cannot be had.  A torn record
// at the end of .jdx (a write cut short) is not counted.
std::int64_t JamMsgBase::IndexRecords() {
  std::int64_t size = 0;
  if (!jdx_.Size(size)) return -1;
  std::int64_t records = size / kIndexRecordSize;
  if (!pending_index_.empty()) records = std::max(records, pending_index_.rbegin()->first + 1);
  return std::min<std::int64_t>(records, kMaxMsgNum - fixed_.base_msg_num + 1);
}

bool JamMsgBase::ReadIndexRecord(std::int64_t msg_num, jam::IndexRecord& rec) {
  const std::int64_t at = msg_num - fixed_.base_msg_num;
  const std::int64_t records = IndexRecords();
  if (at < 0 || at >= records) return false;
  if (auto pending = pending_index_.find(at); pending != pending_index_.end()) {
    rec = pending->second;
    return true;
  }
  std::array<std::uint8_t, kIndexRecordSize> raw;
  if (!jdx_.ReadAt(at * kIndexRecordSize, raw.data(), raw.size())) return false;
  jam::Decode(raw, rec);
  return true;
}

JamMsgBase::HeaderState JamMsgBase::ProbeHeader(std::uint32_t hdr_offset, std::int64_t jhr_size,
                                                std::uint32_t& attribute, jam::MsgHeader* header) {
  if (hdr_offset < static_cast<std::uint32_t>(kFixedHeaderSize) ||
      static_cast<std::int64_t>(hdr_offset) + kMsgHeaderSize > jhr_size) {
    return HeaderState::kMissing;
  }
  std::array<std::uint8_t, kMsgHeaderSize> raw;
  if (!ReadHeaderFile(hdr_offset, raw.data(), raw.size())) return HeaderState::kUnreadable;
  if (std::memcmp(raw.data() + jam::header_at::kSignature, jam::kSignature, jam::kSignatureSize) != 0) {
    return HeaderState::kMissing;
  }
  attribute = jam::Get32<jam::header_at::kAttribute>(jam::RecordIn<kMsgHeaderSize>(raw));
  if (header != nullptr) jam::Decode(raw, *header);
  return (attribute & jam::kAttrDeleted) != 0 ? HeaderState::kDeleted : HeaderState::kLive;
}

MsgNum JamMsgBase::GetHighMsgNum() {
  if (!IsOpen) return 0;
  const std::int64_t records = std::max<std::int64_t>(IndexRecords(), 0);
  return fixed_.base_msg_num + records - 1;
}

bool JamMsgBase::MsgExists(MsgNum msg_num) {
  if (!IsOpen) return false;
  const std::int64_t record = static_cast<std::int64_t>(msg_num) - fixed_.base_msg_num;
  if (record < 0 || record >= IndexRecords()) return false;
  jam::IndexRecord rec;
  // A record that cannot be read is said to exist, so that OpenMsg reports
  // the message instead of a walk passing over it unjudged.
  if (!ReadIndexRecord(msg_num, rec)) return true;
  if (rec.hdr_offset == jam::kNone) return false;
  std::int64_t jhr_size = 0;
  if (!HeaderFileSize(jhr_size)) return true;
  std::uint32_t attribute = 0;
  const HeaderState state = ProbeHeader(rec.hdr_offset, jhr_size, attribute);
  return state == HeaderState::kLive || state == HeaderState::kUnreadable;
}

// The first live message from number `from` on in direction `step`, within
// the index records present; 0 when there is none.
MsgNum JamMsgBase::FindLive(MsgNum from, int step) {
  if (!IsOpen) return 0;
  const std::int64_t low = fixed_.base_msg_num;
  const std::int64_t high = GetHighMsgNum();
  for (std::int64_t n = std::max(from, low); n >= low && n <= high; n += step) {
    if (MsgExists(n)) return n;
  }
  return 0;
}

void JamMsgBase::SeekFirst(MsgNum msg_num) { CurMsgNum = FindLive(msg_num, 1); }

void JamMsgBase::SeekNext() { CurMsgNum = FindLive(CurMsgNum + 1, 1); }

void JamMsgBase::SeekPrior() {
  const MsgNum from = CurMsgNum - 1;
  CurMsgNum = from < fixed_.base_msg_num ? 0 : FindLive(from, -1);
}

namespace {

// Splits a subfield area.  The subfields must fill it exactly: a length
// running past it, or bytes left over, is a damaged header.
template <typename Subfield>
bool SplitSubfields(const std::string& area, std::vector<Subfield>& fields) {
  std::size_t pos = 0;
  while (pos < area.size()) {
    if (area.size() - pos < kSubfieldHeaderSize) return false;
    const jam::RecordIn<kSubfieldHeaderSize> head(reinterpret_cast<const std::uint8_t*>(area.data() + pos),
                                                  kSubfieldHeaderSize);
    const std::uint32_t len = jam::Get32<jam::subfield_at::kDatLen>(head);
    if (len > area.size() - pos - kSubfieldHeaderSize) return false;
    fields.push_back({jam::Get16<jam::subfield_at::kLoId>(head), pos + kSubfieldHeaderSize, len});
    pos += kSubfieldHeaderSize + len;
  }
  return true;
}

}  // namespace

// Reads the current message into `m`, checking every offset and length
// against the files; 0, or the status that tells why not.
std::int32_t JamMsgBase::LoadMessage(bool with_body, LoadedMessage& m) {
  std::int64_t jdt_size = 0;
  std::int32_t fail = ReadIndexedHeader(m, jdt_size);
  if (fail == 0) fail = ReadSubfieldArea(m);
  if (fail == 0 && m.header.offset > jdt_size) fail = kBadTextOffset;
  if (fail == 0 && with_body) fail = ReadBody(m, jdt_size);
  return fail;
}

// The current message's index record, and the fixed part of the header it
// points at, into `m`; `jdt_size` is the body file's size.  0, or the
// status that tells why not.
std::int32_t JamMsgBase::ReadIndexedHeader(LoadedMessage& m, std::int64_t& jdt_size) {
  jam::IndexRecord rec;
  if (!ReadIndexRecord(CurMsgNum, rec) || rec.hdr_offset == jam::kNone) return kCannotReadMessage;
  std::int64_t jhr_size = 0;
  if (!HeaderFileSize(jhr_size) || !jdt_.Size(jdt_size)) return kCannotReadMessage;
  const std::int64_t hdr_ofs = rec.hdr_offset;
  if (hdr_ofs < kFixedHeaderSize || hdr_ofs + kMsgHeaderSize > jhr_size) return kBadHeaderOffset;
  std::array<std::uint8_t, kMsgHeaderSize> raw;
  if (!ReadHeaderFile(hdr_ofs, raw.data(), raw.size())) return kCannotReadMessage;
  jam::Decode(raw, m.header);
  const jam::MsgHeader& h = m.header;
  if (std::memcmp(h.signature, jam::kSignature, jam::kSignatureSize) != 0 || h.subfield_len > kMaxSubfieldArea ||
      hdr_ofs + kMsgHeaderSize + h.subfield_len > jhr_size) {
    return kCannotReadMessage;
  }
  m.header_ofs = rec.hdr_offset;
  return 0;
}

// The subfields that follow the header read in `m`, split and checked.
std::int32_t JamMsgBase::ReadSubfieldArea(LoadedMessage& m) {
  m.subfields.assign(m.header.subfield_len, '\0');
  const std::int64_t at = static_cast<std::int64_t>(m.header_ofs) + kMsgHeaderSize;
  if (!ReadHeaderFile(at, m.subfields.data(), m.subfields.size()) || !SplitSubfields(m.subfields, m.fields)) {
    return kCannotReadMessage;
  }
  return 0;
}

// The body of the header read in `m`, when it lies inside the body file of
// `jdt_size` bytes.
std::int32_t JamMsgBase::ReadBody(LoadedMessage& m, std::int64_t jdt_size) {
  const std::int64_t text_end = static_cast<std::int64_t>(m.header.offset) + m.header.txt_len;
  if (text_end > jdt_size || m.header.txt_len > kMaxBody) return kBadTextOffset;
  m.body.assign(m.header.txt_len, '\0');
  return jdt_.ReadAt(m.header.offset, m.body.data(), m.body.size()) ? 0 : kCannotReadMessage;
}

// Reads the current message (with its body or without) and makes it the
// current one, its text built from subfields and body (TakeMessage); the
// message becomes current only when all of it was read whole, else Status
// tells why and nothing changed.
bool JamMsgBase::ReadMessage(bool with_body) {
  CloseMsg();
  LoadedMessage m;
  const std::int32_t fail = IsOpen ? LoadMessage(with_body, m) : kCannotReadMessage;
  if (fail != 0) {
    Fail(fail);
    return false;
  }
  TakeMessage(m, with_body);
  return true;
}

bool JamMsgBase::OpenMsg() { return ReadMessage(true); }

bool JamMsgBase::OpenMsgHeader() { return ReadMessage(false); }

bool JamMsgBase::CloseMsg() {
  if (!text_) return false;
  Text = nullptr;
  text_.reset();
  return true;
}

bool JamMsgBase::CreateMsg() {
  if (!IsOpen) return Fail(kCannotWriteMessage, "the base is not open");
  CloseMsg();
  const std::int64_t records = IndexRecords();
  if (records < 0) return Fail(kCannotWriteMessage);
  if (fixed_.base_msg_num + records > kMaxMsgNum) return Fail(kCannotWriteMessage, "the base holds its last number");
  CurMsgNum = fixed_.base_msg_num + records;
  header_ = jam::MsgHeader{};
  subfields_.clear();
  ClearAddress(orig_);
  ClearAddress(dest_);
  from_.clear();
  to_.clear();
  subject_.clear();
  header_.message_number = static_cast<std::uint32_t>(CurMsgNum);
  header_ofs_ = 0;
  text_ = NewMemoryStream(kMemStreamSizeHint);
  Text = text_.get();
  SetDatesToNow();
  return true;
}

bool JamMsgBase::IsAttr(std::uint32_t mask) {
  std::uint32_t bit = MapAttr(kAttrMap, mask);
  return bit != 0 && (header_.attribute & bit) != 0;
}

void JamMsgBase::SetAttr(std::uint32_t mask, bool on) {
  std::uint32_t bit = MapAttr(kAttrMap, mask);
  if (bit == 0) return;
  header_.attribute = on ? (header_.attribute | bit) : (header_.attribute & ~bit);
}

// The stored seconds go over as they are, whether the date helpers take
// them signed or unsigned.
void JamMsgBase::GetDateWritten(MsgDateTime& dt) { UnixToDateTime(header_.date_written, dt); }

void JamMsgBase::GetDateArrived(MsgDateTime& dt) { UnixToDateTime(header_.date_processed, dt); }

void JamMsgBase::SetDateWritten(const MsgDateTime& dt) {
  header_.date_written = static_cast<std::uint32_t>(DateTimeToUnix(dt));
}

void JamMsgBase::SetDateArrived(const MsgDateTime& dt) {
  header_.date_processed = static_cast<std::uint32_t>(DateTimeToUnix(dt));
}

void JamMsgBase::HeaderAddrs(FidoAddress& orig, FidoAddress& dest) {
  orig = orig_;
  dest = dest_;
}

void JamMsgBase::SetHeaderAddrs(const FidoAddress& orig, const FidoAddress& dest) {
  orig_ = orig;
  dest_ = dest;
}

MsgNum JamMsgBase::GetLastRead(std::int32_t user_num) {
  if (!IsOpen) return 0;
  std::int64_t size = 0;
  if (!jlr_.Size(size)) return 0;
  const std::int64_t records = size / kLastReadSize;
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(kLastReadChunk * kLastReadSize));
  for (std::int64_t first = 0; first < records; first += kLastReadChunk) {
    const std::int64_t n = std::min<std::int64_t>(records - first, kLastReadChunk);
    if (!jlr_.ReadAt(first * kLastReadSize, chunk.data(), static_cast<std::size_t>(n * kLastReadSize))) return 0;
    for (std::int64_t i = 0; i < n; ++i) {
      jam::LastRead rec;
      jam::Decode(RecordAt<kLastReadSize>(std::as_const(chunk), i), rec);
      if (rec.user_id == static_cast<std::uint32_t>(user_num)) return rec.last_read_msg;
    }
  }
  return 0;
}

bool JamMsgBase::SetLastRead(std::int32_t user_num, MsgNum msg_num) {
  if (!IsOpen) return true;
  std::int64_t size = 0;
  if (!jlr_.Size(size)) return Fail(kCannotOpenLastRead);
  const std::int64_t records = size / kLastReadSize;
  jam::LastRead rec;
  std::array<std::uint8_t, kLastReadSize> raw;
  std::int64_t at = records;  // append after the last whole record
  for (std::int64_t i = 0; i < records; ++i) {
    if (!jlr_.ReadAt(i * kLastReadSize, raw.data(), raw.size())) return Fail(kCannotOpenLastRead);
    jam::Decode(raw, rec);
    if (rec.user_id == static_cast<std::uint32_t>(user_num)) {
      at = i;
      break;
    }
  }
  if (at == records) {
    rec.user_crc = static_cast<std::uint32_t>(user_num);
    rec.user_id = static_cast<std::uint32_t>(user_num);
  }
  rec.last_read_msg = static_cast<std::uint32_t>(msg_num);
  rec.high_read_msg = static_cast<std::uint32_t>(msg_num);
  jam::Encode(rec, raw);
  return (jlr_.WriteAt(at * kLastReadSize, raw.data(), raw.size()) && jlr_.Sync()) || Fail(kCannotOpenLastRead);
}

}  // namespace lw
