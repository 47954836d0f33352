#include "msgbase/squish/squish_msg_base.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fidoutil/helpers.h"
#include "platform/platform.h"

namespace lw {

namespace {

using squish::kBaseHeaderSize;
using squish::kFrameHeaderSize;
using squish::kIndexRecordSize;
using squish::kMsgHeaderSize;

constexpr std::uint32_t kMaxControlInfo = 65521;  // clen + 1 stays below this
constexpr std::int32_t kIndexChunk = 512;          // records read at a time while searching

const AttrMapping kAttrMap[] = {
    {kAttrPrivate, 0x00000001},      {kAttrCrash, 0x00000002},
    {kAttrReceived, 0x00000004},     {kAttrSent, 0x00000008},
    {kAttrFileAttached, 0x00000010}, {kAttrInTransit, 0x00000020},
    {kAttrOrphan, 0x00000040},       {kAttrKillSent, 0x00000080},
    {kAttrLocal, 0x00000100},        {kAttrHold, 0x00000200},
    {kAttrFileRequest, 0x00000800},  {kAttrReturnReceiptRequest, 0x00001000},
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

std::string SquishMsgBase::FileName(const char* extension) const {
  return path_ + platform::FixedNamePart(extension);
}

void SquishMsgBase::CloseFiles() {
  sqd_.reset();
  sqi_.reset();
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
    std::uint8_t raw[kBaseHeaderSize];
    sqd_->Seek(0);
    sqd_->Read(raw, kBaseHeaderSize);
    if (sqd_->Status != kStreamOk) fail = kCannotOpenData;  // shorter than a base header
    squish::Decode(raw, base_);
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

bool SquishMsgBase::CreateMsgBase(const std::string& path) {
  if (IsOpen) CloseMsgBase();
  IsOpen = false;
  SetPath(path);
  ForceDirectories(ParentDir(path_));
  sqd_ = OpenFileStream(FileName("SQD"), fmCreate | fmDenyWrite);
  int fail = 0;
  if (sqd_->Status != kStreamOk) {
    fail = kCannotCreateData;
  } else {
    sqi_ = OpenFileStream(FileName("SQI"), fmCreate | fmDenyWrite);
    if (sqi_->Status != kStreamOk) fail = kCannotCreateIndex;
  }
  if (fail == 0) {
    base_ = squish::BaseHeader{};
    std::string name = path_.substr(0, path_.size() - 1).substr(0, 79);
    std::memcpy(base_.base, name.data(), name.size());
    if (!WriteBaseHeader()) fail = kCannotCreateData;
  }
  if (fail != 0) {
    CloseFiles();
    Status = fail;
    return false;
  }
  IsOpen = true;
  return true;
}

bool SquishMsgBase::WriteBaseHeader() {
  std::uint8_t raw[kBaseHeaderSize];
  squish::Encode(base_, raw);
  sqd_->ResetStatus();
  sqd_->Seek(0);
  sqd_->Write(raw, kBaseHeaderSize);
  return sqd_->Status == kStreamOk;
}

bool SquishMsgBase::CloseMsgBase() {
  if (!IsOpen) return true;
  IsOpen = false;
  WriteBaseHeader();
  CloseFiles();
  return true;
}

// ---- Index ----

std::int32_t SquishMsgBase::IndexBytes() {
  sqi_->ResetStatus();
  std::int32_t size = sqi_->GetSize();
  return size < 0 ? 0 : size - size % kIndexRecordSize;
}

bool SquishMsgBase::ReadIndex(std::int32_t pos, squish::IndexRecord& rec) {
  if (pos < 0 || pos + kIndexRecordSize > IndexBytes()) return false;
  std::uint8_t raw[kIndexRecordSize];
  sqi_->Seek(pos);
  sqi_->Read(raw, kIndexRecordSize);
  if (sqi_->Status != kStreamOk) {
    sqi_->ResetStatus();
    return false;
  }
  squish::Decode(raw, rec);
  return true;
}

std::int32_t SquishMsgBase::FindIndex(std::int32_t want, bool at_least) {
  const std::int32_t total = IndexBytes();
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(kIndexChunk * kIndexRecordSize));
  for (std::int32_t start = 0; start < total; start += kIndexChunk * kIndexRecordSize) {
    std::int32_t n = std::min(total - start, kIndexChunk * kIndexRecordSize);
    sqi_->Seek(start);
    sqi_->Read(chunk.data(), n);
    if (sqi_->Status != kStreamOk) {
      sqi_->ResetStatus();
      return -1;
    }
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

// ---- Frames ----

// Frames lie after the base header and inside the data file; a chain walk
// takes at most as many steps as the file could hold frames.
std::uint32_t SquishMsgBase::FrameLimit() {
  sqd_->ResetStatus();
  std::int32_t size = sqd_->GetSize();
  return size < 0 ? 0 : static_cast<std::uint32_t>(size) / kFrameHeaderSize + 1;
}

bool SquishMsgBase::ReadFrame(std::uint32_t ofs, squish::FrameHeader& f) {
  sqd_->ResetStatus();
  std::int64_t size = sqd_->GetSize();
  if (ofs < kBaseHeaderSize || static_cast<std::int64_t>(ofs) + kFrameHeaderSize > size) return false;
  std::uint8_t raw[kFrameHeaderSize];
  sqd_->Seek(static_cast<std::int32_t>(ofs));
  sqd_->Read(raw, kFrameHeaderSize);
  if (sqd_->Status != kStreamOk) return false;
  squish::Decode(raw, f);
  return f.id == squish::kFrameId;
}

bool SquishMsgBase::WriteFrame(std::uint32_t ofs, const squish::FrameHeader& f) {
  std::uint8_t raw[kFrameHeaderSize];
  squish::Encode(f, raw);
  sqd_->ResetStatus();
  sqd_->Seek(static_cast<std::int32_t>(ofs));
  sqd_->Write(raw, kFrameHeaderSize);
  return sqd_->Status == kStreamOk;
}

bool SquishMsgBase::Unlink(const squish::FrameHeader& f, Chain chain) {
  squish::FrameHeader prev;
  squish::FrameHeader next;
  const bool prev_ok = ReadFrame(f.prev_frame, prev);
  const bool next_ok = ReadFrame(f.next_frame, next);
  bool ok = true;
  if (prev_ok) {
    prev.next_frame = next_ok ? f.next_frame : 0;
    ok = WriteFrame(f.prev_frame, prev) && ok;
  } else {
    *chain.first = next_ok ? f.next_frame : 0;
  }
  if (next_ok) {
    next.prev_frame = prev_ok ? f.prev_frame : 0;
    ok = WriteFrame(f.next_frame, next) && ok;
  } else {
    *chain.last = prev_ok ? f.prev_frame : 0;
  }
  return ok;
}

bool SquishMsgBase::AppendToFreeChain(std::uint32_t ofs, squish::FrameHeader& f) {
  f.next_frame = 0;
  f.frame_type = squish::kFreeFrame;
  squish::FrameHeader last;
  bool ok = true;
  if (base_.last_free_frame != ofs && ReadFrame(base_.last_free_frame, last)) {
    f.prev_frame = base_.last_free_frame;
    last.next_frame = ofs;
    ok = WriteFrame(base_.last_free_frame, last);
  } else {
    f.prev_frame = 0;
    base_.free_frame = ofs;
  }
  base_.last_free_frame = ofs;
  return WriteFrame(ofs, f) && ok;
}

// Takes the first free frame that holds `need` bytes out of the free chain.
bool SquishMsgBase::TakeFreeFrame(std::uint32_t need, std::uint32_t* ofs, std::uint32_t* length) {
  std::uint32_t at = base_.free_frame;
  const std::uint32_t limit = FrameLimit();
  squish::FrameHeader f;
  for (std::uint32_t steps = 0; steps < limit && ReadFrame(at, f); ++steps) {
    bool fits_file = static_cast<std::uint64_t>(at) + kFrameHeaderSize + f.frame_length <= base_.end_frame;
    if (f.frame_type == squish::kFreeFrame && f.frame_length >= need && fits_file) {
      *ofs = at;
      *length = f.frame_length;
      return Unlink(f, Chain{&base_.free_frame, &base_.last_free_frame});
    }
    at = f.next_frame;
  }
  return false;
}

// Puts the frame at `ofs` (whose header is frame_) between its prev_frame
// and next_frame, fixing those neighbours.
bool SquishMsgBase::LinkIntoMessageChain(std::uint32_t ofs) {
  bool ok = true;
  squish::FrameHeader next;
  squish::FrameHeader prev;
  if (frame_.next_frame != 0 && ReadFrame(frame_.next_frame, next)) {
    next.prev_frame = ofs;
    ok = WriteFrame(frame_.next_frame, next) && ok;
  }
  if (frame_.prev_frame != 0 && ReadFrame(frame_.prev_frame, prev)) {
    prev.next_frame = ofs;
    ok = WriteFrame(frame_.prev_frame, prev) && ok;
  }
  if (frame_.next_frame == 0) base_.last_frame = ofs;
  if (frame_.prev_frame == 0) base_.begin_frame = ofs;
  return ok;
}

// ---- One message ----

bool SquishMsgBase::ReadMessage(bool with_body) {
  if (text_) CloseMsg();
  if (!IsOpen) {
    Status = kFrameIo;
    return false;
  }
  const std::uint32_t ofs = index_.ofs;
  sqd_->ResetStatus();
  const std::int64_t size = sqd_->GetSize();
  if (ofs < kBaseHeaderSize || static_cast<std::int64_t>(ofs) + kFrameHeaderSize > size) {
    Status = kFrameIo;
    return false;
  }
  std::uint8_t raw[kMsgHeaderSize];
  sqd_->Seek(static_cast<std::int32_t>(ofs));
  sqd_->Read(raw, kFrameHeaderSize);
  if (sqd_->Status != kStreamOk) {
    Status = kFrameIo;
    return false;
  }
  squish::FrameHeader f;
  squish::Decode(raw, f);
  const std::uint64_t used = static_cast<std::uint64_t>(kMsgHeaderSize) + f.clen;
  if (f.id != squish::kFrameId || f.frame_type != squish::kMessageFrame || f.clen + 1ull >= kMaxControlInfo ||
      f.msg_length < used || f.msg_length > f.frame_length ||
      static_cast<std::int64_t>(ofs) + kFrameHeaderSize + f.msg_length > size) {
    Status = kBadFrame;
    return false;
  }
  frame_ = f;
  frame_ofs_ = ofs;
  sqd_->Read(raw, kMsgHeaderSize);
  squish::Decode(raw, header_);

  std::string control(f.clen, '\0');
  if (f.clen != 0) sqd_->Read(control.data(), static_cast<std::int32_t>(f.clen));
  text_ = NewMemoryStream(kMemStreamSizeHint);
  Text = text_.get();
  // The control info is cut before every ^A but its first byte; each piece
  // (closing NULs dropped) is one kludge line.
  std::size_t start = 0;
  while (start < control.size()) {
    std::size_t end = control.find(kKludgeChar, start + 1);
    if (end == std::string::npos) end = control.size();
    std::size_t len = end - start;
    while (len > 0 && control[start + len - 1] == 0) --len;
    Text->Write(control.data() + start, static_cast<std::int32_t>(len));
    Text->Write(&kLineTerminator, 1);
    start = end;
  }
  if (with_body) {
    std::int32_t body = static_cast<std::int32_t>(f.msg_length - used);
    if (body > 0) {
      std::string bytes(static_cast<std::size_t>(body), '\0');
      sqd_->Read(bytes.data(), body);
      if (bytes.back() == 0) bytes.pop_back();  // the closing NUL, when the writer put one
      Text->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
  }
  if (sqd_->Status != kStreamOk) {
    CloseMsg();
    Status = kFrameIo;
    return false;
  }
  Text->Seek(0);
  new_message_ = false;
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
  base_.uid += 1;
  base_.num_msg += 1;
  base_.high_msg += 1;
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

// Stores the current message.  The frame is written in full before
// anything points at it; the chain neighbours, the index record and the
// base header follow.  False when any write failed.
bool SquishMsgBase::WriteMsg() {
  if (!IsOpen || Text == nullptr) return false;
  const squish::BaseHeader saved = base_;
  std::string text = ReadAllBytes(*Text);
  std::string control;
  const std::size_t body_start = SplitControlInfo(text, control);
  const std::uint64_t need64 = kMsgHeaderSize + control.size() + (text.size() - body_start) + 1;
  if (need64 > 0x7FFFFFF0u) return false;
  const std::uint32_t need = static_cast<std::uint32_t>(need64);

  bool ok = true;
  std::uint32_t ofs = frame_ofs_;
  std::uint32_t length = frame_.frame_length;
  squish::FrameHeader links = frame_;
  if (new_message_) {
    links.prev_frame = base_.last_frame;
    links.next_frame = 0;
  }
  if (new_message_ || length < need) {
    if (!new_message_) {  // give up the old frame
      ok = Unlink(frame_, Chain{&base_.begin_frame, &base_.last_frame}) && ok;
      squish::FrameHeader old = frame_;
      ok = AppendToFreeChain(frame_ofs_, old) && ok;
    }
    if (!TakeFreeFrame(need, &ofs, &length)) {
      sqd_->ResetStatus();
      std::int32_t file_size = sqd_->GetSize();
      ofs = std::max<std::uint32_t>({base_.end_frame, static_cast<std::uint32_t>(std::max(file_size, 0)),
                                     static_cast<std::uint32_t>(kBaseHeaderSize)});
      length = need;
      base_.end_frame = ofs + kFrameHeaderSize + length;
    }
  }
  squish::FrameHeader probe;
  frame_ = squish::FrameHeader{};
  frame_.next_frame = ReadFrame(links.next_frame, probe) ? links.next_frame : 0;
  frame_.prev_frame = ReadFrame(links.prev_frame, probe) ? links.prev_frame : 0;
  frame_.frame_length = length;
  frame_.msg_length = need;
  frame_.clen = static_cast<std::uint32_t>(control.size());

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

  std::uint8_t frame_raw[kFrameHeaderSize];
  std::uint8_t header_raw[kMsgHeaderSize];
  squish::Encode(frame_, frame_raw);
  squish::Encode(header_, header_raw);
  sqd_->ResetStatus();
  sqd_->Seek(static_cast<std::int32_t>(ofs));
  sqd_->Write(frame_raw, kFrameHeaderSize);
  sqd_->Write(header_raw, kMsgHeaderSize);
  sqd_->Write(control.data(), static_cast<std::int32_t>(control.size()));
  sqd_->Write(text.data() + body_start, static_cast<std::int32_t>(text.size() - body_start));
  const char nul = 0;
  sqd_->Write(&nul, 1);
  ok = sqd_->Status == kStreamOk && ok;
  if (!ok) {
    base_ = saved;
    return false;
  }
  frame_ofs_ = ofs;
  ok = LinkIntoMessageChain(ofs) && ok;

  std::string to;
  GetTo(to);
  index_.ofs = ofs;
  index_.umsgid = header_.umsgid;
  index_.hash = SquishHash(to);
  std::uint8_t index_raw[kIndexRecordSize];
  squish::Encode(index_, index_raw);
  sqi_->ResetStatus();
  sqi_->Seek(index_pos_);
  sqi_->Write(index_raw, kIndexRecordSize);
  sqi_->Flush();
  ok = sqi_->Status == kStreamOk && ok;
  ok = WriteBaseHeader() && ok;
  sqd_->Flush();
  ok = sqd_->Status == kStreamOk && ok;
  if (ok) new_message_ = false;
  return ok;
}

bool SquishMsgBase::WriteMsgHeader() {
  if (!IsOpen || frame_ofs_ == 0) return false;
  std::uint8_t raw[kMsgHeaderSize];
  squish::Encode(header_, raw);
  sqd_->ResetStatus();
  sqd_->Seek(static_cast<std::int32_t>(frame_ofs_ + kFrameHeaderSize));
  sqd_->Write(raw, kMsgHeaderSize);
  return sqd_->Status == kStreamOk;
}

// Removes the message last read: its frame leaves the message chain for
// the free chain, its index record is taken out, and the position steps
// back so that SeekNext reaches the record that followed it.
bool SquishMsgBase::DeleteMsg() {
  if (!IsOpen || frame_ofs_ == 0 || new_message_) return false;
  squish::IndexRecord rec;
  if (!ReadIndex(index_pos_, rec) || rec.ofs != frame_ofs_) return false;
  bool ok = Unlink(frame_, Chain{&base_.begin_frame, &base_.last_frame});

  const std::int32_t total = IndexBytes();
  const std::int32_t after = index_pos_ + kIndexRecordSize;
  std::vector<std::uint8_t> rest(static_cast<std::size_t>(total - after));
  sqi_->ResetStatus();
  if (!rest.empty()) {
    sqi_->Seek(after);
    sqi_->Read(rest.data(), static_cast<std::int32_t>(rest.size()));
    sqi_->Seek(index_pos_);
    sqi_->Write(rest.data(), static_cast<std::int32_t>(rest.size()));
  }
  sqi_->Seek(total - kIndexRecordSize);
  sqi_->Truncate();
  ok = sqi_->Status == kStreamOk && ok;
  index_pos_ -= kIndexRecordSize;

  squish::FrameHeader freed = frame_;
  ok = AppendToFreeChain(frame_ofs_, freed) && ok;
  frame_ofs_ = 0;
  base_.num_msg -= 1;
  base_.high_msg -= 1;
  return WriteBaseHeader() && ok;
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
  if (f->Status != kStreamOk || f->GetSize() < 4 * (user_num + 1)) return 0;
  std::uint8_t raw[4];
  f->Seek(4 * user_num);
  f->Read(raw, 4);
  return static_cast<std::int32_t>(GetLe32(raw));
}

bool SquishMsgBase::SetLastRead(std::int32_t user_num, std::int32_t msg_num) {
  if (user_num < 0 || user_num >= INT32_MAX / 4 - 1) return false;
  std::unique_ptr<Stream> f = OpenFileStream(FileName("SQL"), fmWrite | fmDenyWrite);
  if (f->Status != kStreamOk) f = OpenFileStream(FileName("SQL"), fmCreate | fmDenyWrite);
  if (f->Status != kStreamOk) return false;
  std::uint8_t raw[4];
  PutLe32(raw, static_cast<std::uint32_t>(msg_num));
  f->Seek(4 * user_num);
  f->Write(raw, 4);
  return true;
}

}  // namespace lw
