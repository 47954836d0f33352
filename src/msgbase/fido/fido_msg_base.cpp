#include "msgbase/fido/fido_msg_base.h"

#include <climits>
#include <cstring>

#include "fidoutil/helpers.h"
#include "platform/platform.h"

namespace lw {

namespace {

struct AttrMapping {
  std::uint32_t mask;
  std::uint16_t disk_bit;
  const char* flags_word;  // nullptr: not kept in the FLAGS line
};

const AttrMapping kAttrMap[] = {
    {kAttrPrivate, 0x0001, "PVT"},       {kAttrCrash, 0x0002, "CRA"},
    {kAttrReceived, 0x0004, "RCV"},      {kAttrSent, 0x0008, "SNT"},
    {kAttrFileAttached, 0x0010, "FIL"},  {kAttrInTransit, 0x0020, nullptr},
    {kAttrOrphan, 0x0040, nullptr},      {kAttrKillSent, 0x0080, "K/S"},
    {kAttrLocal, 0x0100, nullptr},       {kAttrHold, 0x0200, "HLD"},
    {kAttrFileRequest, 0x0800, "FRQ"},   {kAttrReturnReceiptRequest, 0x1000, "RRQ"},
    {kAttrIsReturnReceipt, 0x2000, nullptr}, {kAttrAuditRequest, 0x4000, nullptr},
    {kAttrFileUpdateRequest, 0x8000, nullptr},
};

const AttrMapping* FindMapping(std::uint32_t mask) {
  for (const AttrMapping& m : kAttrMap) {
    if (m.mask == mask) return &m;
  }
  return nullptr;
}

const char kFlagsPrefix[] = "\001FLAGS";
constexpr std::int32_t kCreateAttempts = 65536;

std::int32_t Number(std::string_view text) {
  std::int32_t v = 0;
  StrToLongInt(text, v);
  return v;
}

}  // namespace

FidoMsgBase::FidoMsgBase() = default;

FidoMsgBase::~FidoMsgBase() {
  if (msg_file_) CloseMsg();
  CloseMsgBase();
}

// An empty path names the current folder.
void FidoMsgBase::SetPath(const std::string& path) {
  path_ = path;
  if (!path_.empty() && !platform::IsPathSeparator(path_.back())) path_ += platform::kPathSeparator;
}

std::string FidoMsgBase::MessageFileName(std::int32_t n) const {
  return path_ + IntToStr(n) + platform::FixedNamePart(".MSG");
}

std::string FidoMsgBase::LastReadFileName() const { return path_ + "lastread"; }

void FidoMsgBase::SetMapBit(std::int32_t n, bool on) {
  if (n < 1 || n >= kMapSize) return;
  std::uint8_t bit = static_cast<std::uint8_t>(1u << (n % 8));
  if (on) {
    msg_map_[n / 8] |= bit;
    ++msg_count_;
  } else {
    msg_map_[n / 8] &= static_cast<std::uint8_t>(~bit);
    --msg_count_;
  }
}

void FidoMsgBase::ScanDirectory() {
  std::memset(msg_map_, 0, sizeof msg_map_);
  msg_count_ = 0;
  high_msg_num_ = 0;
  std::unique_ptr<FileFinder> finder = NewFileFinder();
  bool found = finder->FindFirst((path_ + "*" + platform::FixedNamePart(".MSG")), 0x21);
  while (found) {
    std::string_view name = finder->Name;
    std::int32_t n = 0;
    if (TryStrToLongInt(name.substr(0, name.find('.')), &n) && n > 0) {
      if (n < kMapSize) SetMapBit(n, true);
      if (n > high_msg_num_) high_msg_num_ = n;
    }
    found = finder->FindNext();
  }
  finder->FindClose();
}

bool FidoMsgBase::OpenMsgBase(const std::string& path) {
  IsOpen = false;
  SetPath(path);
  if (!DirHasEntries(path_)) {
    Status = kNoArea;
    return false;
  }
  ScanDirectory();
  IsOpen = true;
  return true;
}

bool FidoMsgBase::CreateMsgBase(const std::string& path) {
  IsOpen = false;
  SetPath(path);
  ForceDirectories(path_);
  ScanDirectory();
  IsOpen = true;
  return true;
}

bool FidoMsgBase::MsgBaseExists(const std::string& path) { return DirHasEntries(path); }

bool FidoMsgBase::CloseMsgBase() {
  path_.clear();
  IsOpen = false;
  return true;
}

bool FidoMsgBase::MsgExists(std::int32_t n) {
  return n >= 1 && n < kMapSize && (msg_map_[n / 8] & (1u << (n % 8))) != 0;
}

bool FidoMsgBase::OpenMessageFile() {
  new_message_ = false;
  if (!MsgExists(CurMsgNum)) {
    Status = kNoMessage;
    return false;
  }
  if (msg_file_) CloseMsg();
  msg_file_ = OpenFileStream(MessageFileName(CurMsgNum), fmReadWrite);
  if (msg_file_->Status != kStreamOk) {
    msg_file_.reset();
    Status = kCannotOpenMessage;
    return false;
  }
  text_ = NewMemoryStream(kMemStreamSizeHint);
  Text = text_.get();
  std::uint8_t raw[fido::kHeaderSize];
  msg_file_->Seek(0);
  msg_file_->Read(raw, fido::kHeaderSize);
  fido::DecodeHeader(raw, header_);
  return true;
}

bool FidoMsgBase::OpenMsg() {
  if (!OpenMessageFile()) return false;
  std::int32_t size = msg_file_->GetSize();
  std::int32_t text_len = size - fido::kHeaderSize;
  if (text_len > 0) {
    // The last byte is the closing NUL, when the writer put one there.
    char last = 1;
    msg_file_->Seek(size - 1);
    msg_file_->Read(&last, 1);
    if (last == 0) --text_len;
    msg_file_->Seek(fido::kHeaderSize);
    Text->CopyFrom(*msg_file_, text_len);
  }
  Text->Seek(0);
  return true;
}

bool FidoMsgBase::OpenMsgHeader() {
  if (!OpenMessageFile()) return false;
  MessageBase reader(msg_file_.get());
  auto line = std::make_unique<char[]>(kMaxKludgeLine);
  for (;;) {
    if (reader.TextEnd()) break;
    reader.ReadLineZ(line.get(), kMaxKludgeLine);
    if (line[0] != kKludgeChar) break;
    WriteLineZ(line.get());
  }
  Text->Seek(0);
  return true;
}

bool FidoMsgBase::CloseMsg() {
  if (!msg_file_) {
    Status = kNoOpenMessage;
    return false;
  }
  msg_file_.reset();
  Text = nullptr;
  text_.reset();
  new_message_ = false;
  return true;
}

void FidoMsgBase::GetFrom(std::string& name) { name = ZToStr(header_.from, fido::kNameField); }
void FidoMsgBase::GetTo(std::string& name) { name = ZToStr(header_.to, fido::kNameField); }
void FidoMsgBase::GetSubj(std::string& subj) { subj = ZToStr(header_.subject, fido::kSubjectField); }

void FidoMsgBase::SetFrom(const std::string& name) {
  std::memset(header_.from, 0, fido::kNameField);
  StrToZ(header_.from, fido::kNameField, name);
}
void FidoMsgBase::SetTo(const std::string& name) {
  std::memset(header_.to, 0, fido::kNameField);
  StrToZ(header_.to, fido::kNameField, name);
}
void FidoMsgBase::SetSubj(const std::string& subj) {
  std::memset(header_.subject, 0, fido::kSubjectField);
  StrToZ(header_.subject, fido::kSubjectField, subj);
}

void FidoMsgBase::GetOrigAddr(FidoAddress& addr) {
  ClearAddress(addr);
  addr.net = header_.orig_net;
  addr.node = header_.orig_node;
  MessageBase::GetOrigAddr(addr);
  if (addr.zone == 0) addr.zone = kDefaultZone;
}

void FidoMsgBase::GetDestAddr(FidoAddress& addr) {
  ClearAddress(addr);
  addr.net = header_.dest_net;
  addr.node = header_.dest_node;
  MessageBase::GetDestAddr(addr);
  if (addr.zone == 0) addr.zone = kDefaultZone;
}

void FidoMsgBase::GetAddrs(FidoAddress& orig, FidoAddress& dest) {
  ClearAddress(orig);
  ClearAddress(dest);
  orig.net = header_.orig_net;
  orig.node = header_.orig_node;
  dest.net = header_.dest_net;
  dest.node = header_.dest_node;
  MessageBase::GetAddrs(orig, dest);
  if (orig.zone == 0) orig.zone = kDefaultZone;
  if (dest.zone == 0) dest.zone = kDefaultZone;
}

void FidoMsgBase::SetOrigAddr(const FidoAddress& addr, bool new_msg_id) {
  MessageBase::SetOrigAddr(addr, new_msg_id);
  header_.orig_net = addr.net;
  header_.orig_node = addr.node;
}

void FidoMsgBase::SetDestAddr(const FidoAddress& addr) {
  MessageBase::SetDestAddr(addr);
  header_.dest_net = addr.net;
  header_.dest_node = addr.node;
}

void FidoMsgBase::SetAddrs(const FidoAddress& orig, const FidoAddress& dest, bool new_msg_id) {
  MessageBase::SetAddrs(orig, dest, new_msg_id);
  header_.orig_net = orig.net;
  header_.orig_node = orig.node;
  header_.dest_net = dest.net;
  header_.dest_node = dest.node;
}

bool FidoMsgBase::IsAttr(std::uint32_t mask) {
  const AttrMapping* m = FindMapping(mask);
  return m != nullptr && (header_.attr & m->disk_bit) != 0;
}

void FidoMsgBase::SetAttr(std::uint32_t mask, bool on) {
  const AttrMapping* m = FindMapping(mask);
  if (m == nullptr) return;
  if (on) {
    header_.attr = static_cast<std::uint16_t>(header_.attr | m->disk_bit);
  } else {
    header_.attr = static_cast<std::uint16_t>(header_.attr & ~m->disk_bit);
  }
  if (m->flags_word != nullptr) UpdateFlagsLine(m->flags_word, on);
}

void FidoMsgBase::UpdateFlagsLine(const char* word, bool on) {
  std::string line;
  bool exists = GetKludge(kFlagsPrefix, line);
  bool present = exists && line.find(word) != std::string_view::npos;
  if (present == on) return;
  if (exists) {
    if (on) {
      line += std::string(" ") + word;
    } else {
      std::string s = line;
      std::size_t at = s.find(std::string(" ") + word);
      if (at != std::string::npos) s.erase(at, 1 + std::strlen(word));
      line = s;
    }
  } else {
    line = on ? std::string("\001FLAGS ") + word : std::string();
  }
  if (line.size() < 8) {
    DeleteKludge(kFlagsPrefix);
  } else {
    SetKludge(kFlagsPrefix, line);
  }
}

void FidoMsgBase::GetDateWritten(MsgDateTime& dt) {
  dt = MsgDateTime{};
  std::string s = ZToStr(header_.date_time, fido::kDateField);
  auto at = [&s](std::size_t one_based) { return one_based <= s.size() ? s[one_based - 1] : '\0'; };
  auto read_date = [&dt](std::string_view text) {
    dt.Day = Number(ExtractWord(1, text, " "));
    dt.Month = MonthFromName(ExtractWord(2, text, " "));
    dt.Year = Number(ExtractWord(3, text, " "));
  };
  if (at(3) == ' ') {
    // "01 Jan 99  12:34:56" or "01 Jan 99 12:34:56"
    read_date(s);
    std::string time = s.substr(std::min<std::size_t>(s.size(), at(11) == ' ' ? 11 : 10));
    dt.Hour = Number(ExtractWord(1, time, ":"));
    dt.Min = Number(ExtractWord(2, time, ":"));
    dt.Sec = Number(ExtractWord(3, time, ": "));
  } else if (at(4) == ' ') {
    // "Tue  5 Feb 02 01:02"
    std::string rest = s.substr(4);
    read_date(rest);
    std::string time = rest.substr(std::min<std::size_t>(rest.size(), 10));
    dt.Hour = Number(ExtractWord(1, time, ":"));
    dt.Min = Number(ExtractWord(2, time, ":"));
  } else if (at(3) == '-') {
    // "12-05-01 10:20:30"
    for (char& c : s) {
      if (c == '-' || c == ':') c = ' ';
    }
    dt.Day = Number(ExtractWord(1, s, " "));
    dt.Month = Number(ExtractWord(2, s, " "));
    dt.Year = Number(ExtractWord(3, s, " "));
    dt.Hour = Number(ExtractWord(4, s, " "));
    dt.Min = Number(ExtractWord(5, s, " "));
    dt.Sec = Number(ExtractWord(6, s, " "));
  }
  dt.Year = YearFromTwoDigits(dt.Year);
}

void FidoMsgBase::GetDateArrived(MsgDateTime& dt) { UnpackStamp(header_.date_arrived, dt); }

void FidoMsgBase::SetDateWritten(const MsgDateTime& dt) {
  std::string text = FtscDateText(dt);
  std::memset(header_.date_time, 0, fido::kDateField);
  StrToZ(header_.date_time, fido::kDateField, text);
  header_.date_written = PackStamp(dt);
}

void FidoMsgBase::SetDateArrived(const MsgDateTime& dt) { header_.date_arrived = PackStamp(dt); }

// Rewrites the whole file: header, text, NUL.  False when any step of it
// failed, so that a caller never takes a half-written message as stored; a
// new message that could not be stored is removed again.
bool FidoMsgBase::WriteMsg() {
  if (!msg_file_ || Text == nullptr) return false;
  msg_file_->ResetStatus();
  std::uint8_t raw[fido::kHeaderSize];
  fido::EncodeHeader(header_, raw);
  msg_file_->Seek(0);
  msg_file_->Write(raw, fido::kHeaderSize);
  std::int32_t size = Text->GetSize();
  Text->Seek(0);
  msg_file_->CopyFrom(*Text, size);
  const char nul = 0;
  msg_file_->Write(&nul, 1);
  msg_file_->Truncate();
  msg_file_->Flush();
  if (msg_file_->Status == kStreamOk) {
    new_message_ = false;
    return true;
  }
  if (new_message_) {
    msg_file_.reset();
    if (DeleteFileOk(MessageFileName(CurMsgNum))) SetMapBit(CurMsgNum, false);
    new_message_ = false;
  }
  return false;
}

bool FidoMsgBase::WriteMsgHeader() {
  if (!msg_file_) return false;
  msg_file_->ResetStatus();
  std::uint8_t raw[fido::kHeaderSize];
  fido::EncodeHeader(header_, raw);
  msg_file_->Seek(0);
  msg_file_->Write(raw, fido::kHeaderSize);
  return msg_file_->Status == kStreamOk;
}

// The new message gets the next free number; a file of that number that
// another program wrote since the directory was listed is recorded and
// left alone, and the number after it is tried.
bool FidoMsgBase::CreateMsg() {
  if (msg_file_) CloseMsg();
  for (std::int32_t attempt = 0; attempt < kCreateAttempts; ++attempt) {
    if (high_msg_num_ == INT32_MAX) return false;
    std::int32_t n = ++high_msg_num_;
    CurMsgNum = n;
    SetMapBit(n, true);
    std::string name = MessageFileName(n);
    msg_file_ = OpenFileStream(name, fmCreateNew);
    if (msg_file_->Status == kStreamOk) break;
    msg_file_.reset();
    if (!FileExists(name)) return false;
  }
  if (!msg_file_) return false;
  text_ = NewMemoryStream(kMemStreamSizeHint);
  Text = text_.get();
  header_ = fido::MsgHeader{};
  new_message_ = true;
  SetDatesToNow();
  return true;
}

bool FidoMsgBase::DeleteMsg() {
  if (!MsgExists(CurMsgNum) || !DeleteFileOk(MessageFileName(CurMsgNum))) return false;
  SetMapBit(CurMsgNum, false);
  return true;
}

std::int32_t FidoMsgBase::GetLastRead(std::int32_t user_num) {
  if (user_num < 0 || user_num >= INT32_MAX / 2 - 1) return 0;
  std::unique_ptr<Stream> f = OpenFileStream(LastReadFileName(), fmRead);
  if (f->Status != kStreamOk || 2 * (user_num + 1) > f->GetSize()) return 0;
  std::uint8_t raw[2];
  f->Seek(2 * user_num);
  f->Read(raw, 2);
  return GetLe16(raw);
}

bool FidoMsgBase::SetLastRead(std::int32_t user_num, std::int32_t msg_num) {
  if (user_num < 0 || user_num >= INT32_MAX / 2 - 1) return false;
  std::unique_ptr<Stream> f = OpenFileStream(LastReadFileName(), fmWrite);
  if (f->Status != kStreamOk) f = OpenFileStream(LastReadFileName(), fmCreate);
  if (f->Status != kStreamOk) return false;
  std::uint8_t raw[2];
  PutLe16(raw, static_cast<std::uint16_t>(msg_num & 0xFFFF));
  f->Seek(2 * user_num);
  f->Write(raw, 2);
  return true;
}

}  // namespace lw
