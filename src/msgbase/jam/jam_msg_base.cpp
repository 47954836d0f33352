#include "msgbase/jam/jam_msg_base.h"

#include <algorithm>
#include <cstring>

#include "fidoutil/helpers.h"
#include "platform/platform.h"

namespace lw {

namespace {

using jam::kFixedHeaderSize;
using jam::kIndexRecordSize;
using jam::kLastReadSize;
using jam::kMsgHeaderSize;
using jam::kSubfieldHeaderSize;

constexpr std::uint32_t kMaxSubfieldArea = 16u << 20;  // beyond this a header is taken as damaged
constexpr std::int32_t kLastReadChunk = 256;            // records read at a time

const AttrMapping kAttrMap[] = {
    {kAttrPrivate, 0x00000004},      {kAttrCrash, 0x00000100},
    {kAttrReceived, 0x00000008},     {kAttrSent, 0x00000010},
    {kAttrFileAttached, 0x00002000}, {kAttrInTransit, 0x00000002},
    {kAttrOrphan, 0x00040000},       {kAttrKillSent, 0x00000020},
    {kAttrLocal, 0x00000001},        {kAttrHold, 0x00000080},
    {kAttrFileRequest, 0x00001000},  {kAttrReturnReceiptRequest, 0x00010000},
    {kAttrAuditRequest, 0x00020000}, {0x00800000, 0x00800000},
    {0x01000000, 0x01000000},        {0x02000000, 0x02000000},
};

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// How a text line is stored when a message is written.
struct LineRule {
  const char* prefix;
  int subfield;  // -1: dropped
};

const LineRule kLineRules[] = {
    {"\001MSGID: ", jam::kMsgId},  {"\001REPLY: ", jam::kReplyId}, {"\001PID: ", jam::kPid},
    {"\001FLAGS: ", jam::kFlags},  {"\001Via ", jam::kTraceVia},   {"SEEN-BY: ", jam::kSeenBy2D},
    {"\001PATH: ", jam::kPath2D},  {"\001INTL", -1},              {"\001FMPT", -1},
    {"\001TOPT", -1},
};

}  // namespace

std::uint32_t JamCrc(std::string_view text) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (char c : text) crc = Crc32Update(crc, static_cast<std::uint8_t>(LowerChar(c)));
  return crc;
}

JamMsgBase::JamMsgBase() = default;

JamMsgBase::~JamMsgBase() {
  CloseMsg();
  CloseMsgBase();
}

void JamMsgBase::SetPath(const std::string& path) {
  path_ = path;
  if (path_.empty() || path_.back() != '.') path_ += '.';
}

std::string JamMsgBase::FileName(const char* extension) const {
  return path_ + platform::FixedNamePart(extension);
}

void JamMsgBase::CloseFiles() {
  jhr_.reset();
  jdx_.reset();
  jdt_.reset();
  jlr_.reset();
}

void JamMsgBase::ResetFiles() {
  for (Stream* s : {jhr_.get(), jdx_.get(), jdt_.get(), jlr_.get()}) {
    if (s) s->ResetStatus();
  }
}

bool JamMsgBase::MsgBaseExists(const std::string& path) {
  std::string saved = path_;
  SetPath(path);
  bool exists = FileExists(FileName("JHR")) && FileExists(FileName("JDX")) &&
                FileExists(FileName("JDT")) && FileExists(FileName("JLR"));
  path_ = saved;
  return exists;
}

bool JamMsgBase::OpenMsgBase(const std::string& path) {
  if (IsOpen) CloseMsgBase();
  SetPath(path);
  struct Part {
    const char* ext;
    std::int32_t missing;
    std::int32_t unopenable;
    std::unique_ptr<Stream>* stream;
    std::int32_t mode;
  } parts[] = {
      {"JHR", kNoHeaderFile, kCannotOpenHeader, &jhr_, fmReadWrite | fmDenyWrite},
      {"JDX", kNoIndexFile, kCannotOpenIndex, &jdx_, fmReadWrite | fmDenyWrite},
      {"JDT", kNoTextFile, kCannotOpenText, &jdt_, fmReadWrite | fmDenyWrite},
      {"JLR", kNoLastReadFile, kCannotOpenLastRead, &jlr_, fmReadWrite},
  };
  std::int32_t fail = 0;
  for (const Part& p : parts) {
    if (!FileExists(FileName(p.ext))) {
      fail = p.missing;
      break;
    }
  }
  for (const Part& p : parts) {
    if (fail != 0) break;
    *p.stream = OpenFileStream(FileName(p.ext), p.mode);
    if ((*p.stream)->Status != kStreamOk) fail = p.unopenable;
  }
  if (fail == 0) {
    std::uint8_t raw[kFixedHeaderSize];
    jhr_->Seek(0);
    jhr_->Read(raw, kFixedHeaderSize);
    jam::Decode(raw, fixed_);
    if (jhr_->Status != kStreamOk || std::memcmp(fixed_.signature, jam::kSignature, 4) != 0) {
      fail = kCannotOpenHeader;
    }
  }
  if (fail != 0) {
    CloseFiles();
    path_.clear();
    Status = fail;
    return false;
  }
  IsOpen = true;
  return true;
}

bool JamMsgBase::CreateMsgBase(const std::string& path) {
  if (IsOpen) CloseMsgBase();
  SetPath(path);
  ForceDirectories(ParentDir(path_));
  struct Part {
    const char* ext;
    std::int32_t status;
    std::unique_ptr<Stream>* stream;
  } parts[] = {
      {"JHR", kCannotCreateHeader, &jhr_},
      {"JDX", kCannotCreateIndex, &jdx_},
      {"JDT", kCannotCreateText, &jdt_},
      {"JLR", kCannotOpenLastRead, &jlr_},
  };
  for (const Part& p : parts) {
    *p.stream = OpenFileStream(FileName(p.ext), fmCreate | fmDenyWrite);
    if ((*p.stream)->Status != kStreamOk) {
      CloseFiles();
      Status = p.status;
      return false;
    }
  }
  fixed_ = jam::FixedHeader{};
  MsgDateTime now;
  GetNow(now);
  fixed_.date_created = static_cast<std::uint32_t>(DateTimeToUnix(now));
  std::uint8_t raw[kFixedHeaderSize];
  jam::Encode(fixed_, raw);
  jhr_->Write(raw, kFixedHeaderSize);
  if (jhr_->Status != kStreamOk) {
    CloseFiles();
    Status = kCannotCreateHeader;
    return false;
  }
  IsOpen = true;
  return true;
}

bool JamMsgBase::CloseMsgBase() {
  if (!IsOpen) return true;
  IsOpen = false;
  if (jhr_ && jdx_ && jdt_ && jlr_) {
    ResetFiles();
    std::uint8_t raw[kFixedHeaderSize];
    jam::Encode(fixed_, raw);
    jhr_->Seek(0);
    jhr_->Write(raw, kFixedHeaderSize);
    for (Stream* s : {jhr_.get(), jdx_.get(), jdt_.get(), jlr_.get()}) s->Flush();
  }
  CloseFiles();
  return true;
}

// ---- Index ----

std::int32_t JamMsgBase::IndexRecords() {
  jdx_->ResetStatus();
  std::int32_t size = jdx_->GetSize();
  return size < 0 ? 0 : size / kIndexRecordSize;
}

std::int64_t JamMsgBase::IndexPosition(std::int32_t msg_num) {
  return (static_cast<std::int64_t>(msg_num) - fixed_.base_msg_num) * kIndexRecordSize;
}

bool JamMsgBase::ReadIndex(std::int64_t pos, jam::IndexRecord& rec) {
  if (pos < 0 || pos + kIndexRecordSize > static_cast<std::int64_t>(IndexRecords()) * kIndexRecordSize) {
    return false;
  }
  std::uint8_t raw[kIndexRecordSize];
  jdx_->Seek(static_cast<std::int32_t>(pos));
  jdx_->Read(raw, kIndexRecordSize);
  if (jdx_->Status != kStreamOk) return false;
  jam::Decode(raw, rec);
  return true;
}

std::int32_t JamMsgBase::GetHighMsgNum() {
  if (!IsOpen) return 0;
  return static_cast<std::int32_t>(fixed_.base_msg_num + static_cast<std::uint32_t>(IndexRecords()) - 1);
}

bool JamMsgBase::MsgExists(std::int32_t msg_num) {
  if (!IsOpen) return false;
  jam::IndexRecord rec;
  if (!ReadIndex(IndexPosition(msg_num), rec) || rec.hdr_offset == jam::kNone) return false;
  // A header that other programs marked deleted is gone too.
  jhr_->ResetStatus();
  std::int64_t size = jhr_->GetSize();
  if (static_cast<std::int64_t>(rec.hdr_offset) + kMsgHeaderSize > size) return true;  // OpenMsg tells
  std::uint8_t raw[4];
  jhr_->Seek(static_cast<std::int32_t>(rec.hdr_offset + jam::kAttributeOffset));
  jhr_->Read(raw, 4);
  return jhr_->Status != kStreamOk || (GetLe32(raw) & jam::kAttrDeleted) == 0;
}

// ---- One message ----

bool JamMsgBase::ReadMessage(bool with_body) {
  CloseMsg();
  if (!IsOpen) {
    Status = kCannotReadMessage;
    return false;
  }
  ResetFiles();
  index_pos_ = IndexPosition(CurMsgNum);
  if (!ReadIndex(index_pos_, index_)) {
    Status = kCannotReadMessage;
    return false;
  }
  const std::int64_t jhr_size = jhr_->GetSize();
  if (static_cast<std::int32_t>(index_.hdr_offset) < 0 || index_.hdr_offset >= jhr_size) {
    Status = kBadHeaderOffset;
    return false;
  }
  header_ofs_ = index_.hdr_offset;
  std::uint8_t raw[kMsgHeaderSize];
  jhr_->Seek(static_cast<std::int32_t>(header_ofs_));
  jhr_->Read(raw, kMsgHeaderSize);
  jam::Decode(raw, header_);
  const std::int64_t left = jhr_size - header_ofs_ - kMsgHeaderSize;
  if (jhr_->Status != kStreamOk || std::memcmp(header_.signature, jam::kSignature, 4) != 0 ||
      header_.subfield_len > kMaxSubfieldArea || left < 0) {
    Status = kCannotReadMessage;
    return false;
  }
  subfields_.assign(static_cast<std::size_t>(std::min<std::int64_t>(header_.subfield_len, left)), '\0');
  if (!subfields_.empty()) jhr_->Read(subfields_.data(), static_cast<std::int32_t>(subfields_.size()));
  const std::int64_t jdt_size = jdt_->GetSize();
  if (static_cast<std::int32_t>(header_.offset) < 0 || header_.offset > jdt_size ||
      (with_body && static_cast<std::int64_t>(header_.offset) + header_.txt_len > jdt_size)) {
    Status = kBadTextOffset;
    return false;
  }

  // Visit the subfields: header fields first, then the text lines.
  struct Subfield {
    std::uint16_t id;
    std::string_view data;
  };
  std::vector<Subfield> fields;
  for (std::size_t pos = 0; pos + kSubfieldHeaderSize <= subfields_.size();) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(subfields_.data() + pos);
    std::uint32_t len = GetLe32(p + 4);
    if (len > subfields_.size() - pos - kSubfieldHeaderSize) break;  // damaged: stop here
    fields.push_back({GetLe16(p), std::string_view(subfields_).substr(pos + kSubfieldHeaderSize, len)});
    pos += kSubfieldHeaderSize + len;
  }
  ClearAddress(orig_);
  ClearAddress(dest_);
  from_.clear();
  to_.clear();
  subject_.clear();
  for (const Subfield& f : fields) {
    switch (f.id) {
      case jam::kOAddress: ParseFidoAddress(std::string(f.data), orig_); break;
      case jam::kDAddress: ParseFidoAddress(std::string(f.data), dest_); break;
      case jam::kSenderName: from_ = f.data; break;
      case jam::kReceiverName: to_ = f.data; break;
      case jam::kSubject: subject_ = f.data; break;
      case jam::kEnclosedFile: if (IsAttr(kAttrFileAttached)) subject_ = f.data; break;
      case jam::kEnclosedFreq: if (IsAttr(kAttrFileRequest)) subject_ = f.data; break;
      default: break;
    }
  }
  text_ = NewMemoryStream(kMemStreamSizeHint);
  Text = text_.get();
  auto write_line = [&](const char* prefix, std::string_view data) {
    Text->Write(prefix, static_cast<std::int32_t>(std::strlen(prefix)));
    Text->Write(data.data(), static_cast<std::int32_t>(data.size()));
    Text->Write(&kLineTerminator, 1);
  };
  auto write_lines = [&](std::uint16_t id, const char* prefix) {
    for (const Subfield& f : fields) {
      if (f.id == id) write_line(prefix, f.data);
    }
  };
  static const std::pair<std::uint16_t, const char*> kBeforeBody[] = {
      {jam::kMsgId, "\001MSGID: "}, {jam::kReplyId, "\001REPLY: "}, {jam::kPid, "\001PID: "},
      {jam::kFtsKludge, "\001"},    {jam::kFlags, "\001FLAGS: "}};
  for (const Subfield& f : fields) {
    for (const auto& [id, prefix] : kBeforeBody) {
      if (f.id == id) write_line(prefix, f.data);
    }
  }
  if (with_body) {
    if (header_.txt_len > 0) {
      jdt_->Seek(static_cast<std::int32_t>(header_.offset));
      Text->CopyFrom(*jdt_, static_cast<std::int32_t>(header_.txt_len));
    }
    write_lines(jam::kTraceVia, "\001Via ");
    write_lines(jam::kSeenBy2D, "SEEN-BY: ");
    write_lines(jam::kPath2D, "\001PATH: ");
  }
  if (jhr_->Status != kStreamOk || jdt_->Status != kStreamOk) {
    CloseMsg();
    Status = kCannotReadMessage;
    return false;
  }
  const FidoAddress orig = orig_;
  const FidoAddress dest = dest_;
  if (orig.zone != 0) SetOrigAddr(orig, false);
  if (dest.zone != 0) SetDestAddr(dest);
  Text->Seek(0);
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
  if (!IsOpen) return false;
  CloseMsg();
  const std::int32_t records = IndexRecords();
  fixed_.active_msgs += 1;
  CurMsgNum = static_cast<std::int32_t>(fixed_.base_msg_num + static_cast<std::uint32_t>(records));
  header_ = jam::MsgHeader{};
  subfields_.clear();
  ClearAddress(orig_);
  ClearAddress(dest_);
  from_.clear();
  to_.clear();
  subject_.clear();
  index_ = jam::IndexRecord{};
  index_pos_ = static_cast<std::int64_t>(records) * kIndexRecordSize;
  header_.message_number = static_cast<std::uint32_t>(CurMsgNum);
  header_ofs_ = 0;
  text_ = NewMemoryStream(kMemStreamSizeHint);
  Text = text_.get();
  SetDatesToNow();
  return true;
}

void JamMsgBase::AddSubfield(std::uint16_t id, std::string_view data) {
  std::uint8_t head[kSubfieldHeaderSize];
  PutLe16(head, id);
  PutLe16(head + 2, 0);
  PutLe32(head + 4, static_cast<std::uint32_t>(data.size()));
  subfields_.append(reinterpret_cast<const char*>(head), kSubfieldHeaderSize);
  subfields_.append(data);
}

// Lines with a known prefix become subfields (their CRCs noted), address
// kludges are dropped (the addresses have subfields of their own), other
// kludges become FTS kludge subfields, and the rest is the body.
void JamMsgBase::SortTextIntoSubfields(const std::string& text, std::string& body) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = pos;
    while (end < text.size() && text[end] != kLineTerminator && text[end] != 0) ++end;
    std::string_view line(text.data() + pos, end - pos);
    pos = end < text.size() ? end + 1 : end;
    if (end < text.size() && pos < text.size() && text[pos] == '\n') ++pos;
    const LineRule* rule = nullptr;
    for (const LineRule& r : kLineRules) {
      if (StartsWith(line, r.prefix)) {
        rule = &r;
        break;
      }
    }
    if (rule != nullptr) {
      if (rule->subfield < 0) continue;
      std::string_view value = line.substr(std::strlen(rule->prefix));
      AddSubfield(static_cast<std::uint16_t>(rule->subfield), value);
      if (rule->subfield == jam::kMsgId) header_.msgid_crc = JamCrc(value);
      if (rule->subfield == jam::kReplyId) header_.reply_crc = JamCrc(value);
    } else if (!line.empty() && line[0] == kKludgeChar) {
      AddSubfield(jam::kFtsKludge, line.substr(1));
    } else {
      body.append(line);
      body.push_back(kLineTerminator);
    }
  }
}

// Stores the current message: the body and the header are appended to
// their files, and the index record, written last, makes them the
// message's.  False when any write failed.
bool JamMsgBase::WriteMsg() {
  if (!IsOpen || Text == nullptr) return false;
  ResetFiles();
  subfields_.clear();
  header_.msgid_crc = jam::kNone;
  header_.reply_crc = jam::kNone;
  GetAddrs(orig_, dest_);
  AddSubfield(jam::kSenderName, from_);
  AddSubfield(jam::kOAddress, FormatAddress4D(orig_));
  AddSubfield(jam::kReceiverName, to_);
  const FidoAddress none{};
  AddSubfield(jam::kDAddress, FormatAddress4D(dest_ == none ? orig_ : dest_));
  if (!subject_.empty()) AddSubfield(jam::kSubject, subject_);
  if (IsAttr(kAttrFileAttached)) AddSubfield(jam::kEnclosedFile, subject_);
  if (IsAttr(kAttrFileRequest)) AddSubfield(jam::kEnclosedFreq, subject_);

  const std::string text = ReadAllBytes(*Text);
  std::string body;
  SortTextIntoSubfields(text, body);
  SetAttr(0x01000000, TestFlag(kFlagEchomail));
  SetAttr(0x02000000, TestFlag(kFlagNetmail));
  SetAttr(0x00800000, TestFlag(kFlagLocal));
  if (subfields_.size() > kMaxSubfieldArea || body.size() > 0x7FFFFFF0u) return false;

  const std::int32_t jhr_size = jhr_->GetSize();
  const std::int32_t jdt_size = jdt_->GetSize();
  if (jhr_size < 0 || jdt_size < 0) return false;
  header_ofs_ = static_cast<std::uint32_t>(jhr_size);
  header_.subfield_len = static_cast<std::uint32_t>(subfields_.size());
  header_.offset = static_cast<std::uint32_t>(jdt_size);
  header_.txt_len = static_cast<std::uint32_t>(body.size());

  jdt_->Seek(jdt_size);
  jdt_->Write(body.data(), static_cast<std::int32_t>(body.size()));
  jdt_->Flush();
  std::uint8_t raw[kMsgHeaderSize];
  jam::Encode(header_, raw);
  jhr_->Seek(jhr_size);
  jhr_->Write(raw, kMsgHeaderSize);
  jhr_->Write(subfields_.data(), static_cast<std::int32_t>(subfields_.size()));
  jhr_->Flush();
  if (jdt_->Status != kStreamOk || jhr_->Status != kStreamOk) return false;

  index_.user_crc = JamCrc(to_);
  index_.hdr_offset = header_ofs_;
  std::uint8_t idx[kIndexRecordSize];
  jam::Encode(index_, idx);
  jdx_->Seek(static_cast<std::int32_t>(index_pos_));
  jdx_->Write(idx, kIndexRecordSize);
  jdx_->Flush();
  if (jdx_->Status != kStreamOk) return false;
  fixed_.mod_counter += 1;
  return true;
}

bool JamMsgBase::WriteMsgHeader() {
  if (!IsOpen || header_ofs_ == 0) return false;
  jhr_->ResetStatus();
  std::uint8_t raw[kMsgHeaderSize];
  jam::Encode(header_, raw);
  jhr_->Seek(static_cast<std::int32_t>(header_ofs_));
  jhr_->Write(raw, kMsgHeaderSize);
  return jhr_->Status == kStreamOk;
}

// Marks the current message deleted in place, as JAM programs do: its
// header gets the deleted attribute and its index record is emptied.
// Nothing moves, so every other message keeps its number.
bool JamMsgBase::DeleteMsg() {
  if (!IsOpen) return false;
  ResetFiles();
  jam::IndexRecord rec;
  const std::int64_t pos = IndexPosition(CurMsgNum);
  if (!ReadIndex(pos, rec) || rec.hdr_offset == jam::kNone) return false;
  jhr_->ResetStatus();
  if (static_cast<std::int64_t>(rec.hdr_offset) + kMsgHeaderSize <= jhr_->GetSize()) {
    std::uint8_t raw[4];
    jhr_->Seek(static_cast<std::int32_t>(rec.hdr_offset + jam::kAttributeOffset));
    jhr_->Read(raw, 4);
    PutLe32(raw, GetLe32(raw) | jam::kAttrDeleted);
    jhr_->Seek(static_cast<std::int32_t>(rec.hdr_offset + jam::kAttributeOffset));
    jhr_->Write(raw, 4);
  }
  std::uint8_t idx[kIndexRecordSize];
  jam::Encode(jam::IndexRecord{jam::kNone, jam::kNone}, idx);
  jdx_->Seek(static_cast<std::int32_t>(pos));
  jdx_->Write(idx, kIndexRecordSize);
  if (jhr_->Status != kStreamOk || jdx_->Status != kStreamOk) return false;
  if (fixed_.active_msgs > 0) fixed_.active_msgs -= 1;
  return true;
}

// ---- Header fields ----

bool JamMsgBase::IsAttr(std::uint32_t mask) {
  std::uint32_t bit = MapAttr(kAttrMap, mask);
  return bit != 0 && (header_.attribute & bit) != 0;
}

void JamMsgBase::SetAttr(std::uint32_t mask, bool on) {
  std::uint32_t bit = MapAttr(kAttrMap, mask);
  if (bit == 0) return;
  header_.attribute = on ? (header_.attribute | bit) : (header_.attribute & ~bit);
}

void JamMsgBase::GetDateWritten(MsgDateTime& dt) {
  UnixToDateTime(static_cast<std::int32_t>(header_.date_written), dt);
}

void JamMsgBase::GetDateArrived(MsgDateTime& dt) {
  UnixToDateTime(static_cast<std::int32_t>(header_.date_processed), dt);
}

void JamMsgBase::SetDateWritten(const MsgDateTime& dt) {
  header_.date_written = static_cast<std::uint32_t>(DateTimeToUnix(dt));
}

void JamMsgBase::SetDateArrived(const MsgDateTime& dt) {
  header_.date_processed = static_cast<std::uint32_t>(DateTimeToUnix(dt));
}

// ---- Lastread ----

std::int32_t JamMsgBase::GetLastRead(std::int32_t user_num) {
  if (!IsOpen) return 0;
  jlr_->ResetStatus();
  const std::int32_t records = std::max(jlr_->GetSize(), 0) / kLastReadSize;
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(kLastReadChunk * kLastReadSize));
  for (std::int32_t first = 0; first < records; first += kLastReadChunk) {
    std::int32_t n = std::min(records - first, kLastReadChunk);
    jlr_->Seek(first * kLastReadSize);
    jlr_->Read(chunk.data(), n * kLastReadSize);
    if (jlr_->Status != kStreamOk) return 0;
    for (std::int32_t i = 0; i < n; ++i) {
      jam::LastRead rec;
      jam::Decode(chunk.data() + i * kLastReadSize, rec);
      if (rec.user_id == static_cast<std::uint32_t>(user_num)) return static_cast<std::int32_t>(rec.last_read_msg);
    }
  }
  return 0;
}

bool JamMsgBase::SetLastRead(std::int32_t user_num, std::int32_t msg_num) {
  if (!IsOpen) return true;
  jlr_->ResetStatus();
  const std::int32_t records = std::max(jlr_->GetSize(), 0) / kLastReadSize;
  jam::LastRead rec;
  std::uint8_t raw[kLastReadSize];
  std::int32_t at = records;  // append after the last whole record
  for (std::int32_t i = 0; i < records; ++i) {
    jlr_->Seek(i * kLastReadSize);
    jlr_->Read(raw, kLastReadSize);
    if (jlr_->Status != kStreamOk) return false;
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
  jlr_->Seek(at * kLastReadSize);
  jlr_->Write(raw, kLastReadSize);
  return true;
}

}  // namespace lw
