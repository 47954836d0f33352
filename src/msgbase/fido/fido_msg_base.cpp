#include "msgbase/fido/fido_msg_base.h"

#include <climits>
#include <cstring>
#include <string_view>
#include <vector>

#include "fidoutil/helpers.h"
#include "platform/file_finder.h"
#include "platform/platform.h"

namespace lw {

namespace {

struct AttrMapping {
  std::uint32_t mask;
  std::uint16_t disk_bit;
  const char* flags_word;  // nullptr: not kept in the FLAGS line
};

const AttrMapping kAttrMap[] = {
    {kAttrPrivate, 0x0001, "PVT"},
    {kAttrCrash, 0x0002, "CRA"},
    {kAttrReceived, 0x0004, "RCV"},
    {kAttrSent, 0x0008, "SNT"},
    {kAttrFileAttached, 0x0010, "FIL"},
    {kAttrInTransit, 0x0020, nullptr},
    {kAttrOrphan, 0x0040, nullptr},
    {kAttrKillSent, 0x0080, "K/S"},
    {kAttrLocal, 0x0100, nullptr},
    {kAttrHold, 0x0200, "HLD"},
    {kAttrFileRequest, 0x0800, "FRQ"},
    {kAttrReturnReceiptRequest, 0x1000, "RRQ"},
    {kAttrIsReturnReceipt, 0x2000, nullptr},
    {kAttrAuditRequest, 0x4000, nullptr},
    {kAttrFileUpdateRequest, 0x8000, nullptr},
};

const AttrMapping* FindMapping(std::uint32_t mask) {
  for (const AttrMapping& m : kAttrMap) {
    if (m.mask == mask) return &m;
  }
  return nullptr;
}

const char kFlagsPrefix[] = "\001FLAGS";
constexpr std::int32_t kTempAttempts = 1000;
const char kTempPrefix[] = "lwtemp";

// The message number a file name gives: "<number>.msg" in any case, the
// number written as other programs write it (digits only, no leading
// zero) and within the map; 0 for any other name.
std::int32_t MessageNumberOf(std::string_view name) {
  const std::string_view ext = ".msg";
  if (name.size() <= ext.size()) return 0;
  const std::string_view stem = name.substr(0, name.size() - ext.size());
  for (std::size_t i = 0; i < ext.size(); ++i) {
    if (LowerChar(name[stem.size() + i]) != ext[i]) return 0;
  }
  if (stem[0] == '0' || stem.size() > 5) return 0;
  std::int32_t n = 0;
  for (char c : stem) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n < FidoMsgBase::kMapSize ? n : 0;
}

// Whether `name` is one of the temporary names the base writes.
bool IsTempName(std::string_view name) {
  const std::string_view prefix = kTempPrefix;
  const std::string_view ext = ".tmp";
  if (name.size() <= prefix.size() + ext.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (LowerChar(name[i]) != prefix[i]) return false;
  }
  for (std::size_t i = 0; i < ext.size(); ++i) {
    if (LowerChar(name[name.size() - ext.size() + i]) != ext[i]) return false;
  }
  for (std::size_t i = prefix.size(); i < name.size() - ext.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return true;
}

// Reads a whole message file: 0, or the status code of what went wrong.
// `header` and `text` are only meaningful when it returns 0.
std::int32_t ReadMessageFile(Stream& file, fido::MsgHeader& header, Stream& text) {
  const std::int32_t size = file.GetSize();
  if (file.Status != kStreamOk) return FidoMsgBase::kReadFailed;
  if (size < fido::kHeaderSize) return FidoMsgBase::kDamagedMessage;
  std::uint8_t raw[fido::kHeaderSize];
  file.Seek(0);
  file.Read(raw, fido::kHeaderSize);
  std::int32_t text_len = size - fido::kHeaderSize;
  if (text_len > 0) {
    // The last byte is the closing NUL, when the writer put one there.
    char last = 1;
    file.Seek(size - 1);
    file.Read(&last, 1);
    if (last == 0) --text_len;
    file.Seek(fido::kHeaderSize);
    text.CopyFrom(file, text_len);
  }
  if (file.Status != kStreamOk || text.Status != kStreamOk) return FidoMsgBase::kReadFailed;
  fido::DecodeHeader(raw, header);
  text.Seek(0);
  return 0;
}

// The kludge lines that lead `text`, each ended by a CR.
std::unique_ptr<Stream> LeadingKludges(Stream& text) {
  std::unique_ptr<Stream> kludges = NewMemoryStream(kMemStreamSizeHint);
  MessageBase reader(&text);
  MessageBase writer(kludges.get());
  auto line = std::make_unique<char[]>(kMaxKludgeLine);
  text.Seek(0);
  while (!reader.TextEnd()) {
    reader.ReadLineZ(line.get(), kMaxKludgeLine);
    if (line[0] != kKludgeChar) break;
    writer.WriteLineZ(line.get());
  }
  kludges->Seek(0);
  return kludges;
}

std::int32_t Number(std::string_view text) {
  std::int32_t v = 0;
  StrToLongInt(text, v);
  return v;
}

}  // namespace

FidoMsgBase::FidoMsgBase() = default;

FidoMsgBase::~FidoMsgBase() {
  if (msg_open_) CloseMsg();
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

std::string FidoMsgBase::TempFileName(std::int32_t k) const {
  return path_ + kTempPrefix + IntToStr(k) + platform::FixedNamePart(".TMP");
}

std::string FidoMsgBase::LastReadFileName() const { return path_ + "lastread"; }

std::string FidoMsgBase::FolderName() const {
  if (path_.size() <= 1) return path_;  // "" (the current folder) or the root
  return path_.substr(0, path_.size() - 1);
}

bool FidoMsgBase::SyncFolder() { return platform::Os().SyncDirectory(FolderName()) == platform::kOk; }

void FidoMsgBase::SetMapBit(std::int32_t n, bool on) {
  if (n < 1 || n >= kMapSize || MsgExists(n) == on) return;
  std::uint8_t bit = static_cast<std::uint8_t>(1u << (n % 8));
  if (on) {
    msg_map_[n / 8] |= bit;
    ++msg_count_;
    if (n > high_msg_num_) high_msg_num_ = n;
  } else {
    msg_map_[n / 8] &= static_cast<std::uint8_t>(~bit);
    --msg_count_;
  }
}

std::int32_t FidoMsgBase::FreeNumberFrom(std::int32_t n) {
  for (; n > 0 && n < kMapSize; ++n) {
    if (!FileExists(MessageFileName(n))) return n;
    SetMapBit(n, true);  // another program wrote it since the folder was listed
  }
  return 0;
}

void FidoMsgBase::ScanDirectory() {
  std::memset(msg_map_, 0, sizeof msg_map_);
  msg_count_ = 0;
  high_msg_num_ = 0;
  std::unique_ptr<FileFinder> finder = NewFileFinder();
  bool found = finder->FindFirst((path_ + "*" + platform::FixedNamePart(".MSG")), 0x21);
  while (found) {
    SetMapBit(MessageNumberOf(finder->Name), true);  // 0 is no message: ignored
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
  if (!ForceDirectories(path_)) {
    Status = kNoArea;
    return false;
  }
  ScanDirectory();
  IsOpen = true;
  return true;
}

bool FidoMsgBase::MsgBaseExists(const std::string& path) { return DirHasEntries(path); }

// Every message is durable when WriteMsg returns, so nothing is pending.
bool FidoMsgBase::CloseMsgBase() {
  if (msg_open_) CloseMsg();
  path_.clear();
  IsOpen = false;
  temps_checked_ = false;
  return true;
}

bool FidoMsgBase::MsgExists(std::int32_t n) {
  return n >= 1 && n < kMapSize && (msg_map_[n / 8] & (1u << (n % 8))) != 0;
}

// Both walks look at whole bytes of the map, so an empty stretch costs
// one step per eight numbers and a walk never counts past the map.
void FidoMsgBase::SeekNext() {
  std::int32_t n = CurMsgNum < 0 ? 1 : CurMsgNum >= kMapSize ? kMapSize : CurMsgNum + 1;
  while (n < kMapSize) {
    if (msg_map_[n / 8] == 0) {
      n = (n / 8 + 1) * 8;
    } else if (MsgExists(n)) {
      CurMsgNum = n;
      return;
    } else {
      ++n;
    }
  }
  CurMsgNum = 0;
}

void FidoMsgBase::SeekPrior() {
  std::int32_t n = CurMsgNum > kMapSize ? kMapSize - 1 : CurMsgNum < 1 ? 0 : CurMsgNum - 1;
  while (n >= 1) {
    if (msg_map_[n / 8] == 0) {
      n = n / 8 * 8 - 1;
    } else if (MsgExists(n)) {
      CurMsgNum = n;
      return;
    } else {
      --n;
    }
  }
  CurMsgNum = 0;
}

bool FidoMsgBase::ReadMessage(bool kludges_only) {
  if (msg_open_) CloseMsg();
  if (!MsgExists(CurMsgNum)) {
    Status = kNoMessage;
    return false;
  }
  std::unique_ptr<Stream> file = OpenFileStream(MessageFileName(CurMsgNum), fmReadWrite);
  if (file->Status != kStreamOk) {
    Status = kCannotOpenMessage;
    return false;
  }
  std::unique_ptr<Stream> text = NewMemoryStream(kMemStreamSizeHint);
  fido::MsgHeader header;
  if (std::int32_t failure = ReadMessageFile(*file, header, *text); failure != 0) {
    Status = failure;
    return false;
  }
  msg_file_ = std::move(file);
  text_ = kludges_only ? LeadingKludges(*text) : std::move(text);
  Text = text_.get();
  header_ = header;
  msg_open_ = true;
  new_message_ = false;
  kludges_only_ = kludges_only;
  return true;
}

bool FidoMsgBase::OpenMsg() { return ReadMessage(false); }

bool FidoMsgBase::OpenMsgHeader() { return ReadMessage(true); }

bool FidoMsgBase::CloseMsg() {
  if (!msg_open_) {
    Status = kNoOpenMessage;
    return false;
  }
  if (msg_file_) msg_file_->Close();  // only read, or already stored and synced
  msg_file_.reset();
  Text = nullptr;
  text_.reset();
  msg_open_ = false;
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

bool FidoMsgBase::WriteTempCopy(std::unique_ptr<Stream>& temp, std::string& temp_name) {
  for (std::int32_t k = 0; k < kTempAttempts && !temp; ++k) {
    temp_name = TempFileName(k);
    std::unique_ptr<Stream> created = OpenFileStream(temp_name, fmCreateNew);
    if (created->Status != kStreamOk) {
      if (FileExists(temp_name)) continue;  // a leftover or another run's: next name
      return false;
    }
    // The file is written through a second, locked handle, so that a run
    // clearing leftovers never removes it while it is being written.  The
    // creating handle is closed first (Win32 refuses an exclusive open
    // beside it); a run that takes the file in between makes this store
    // fail, never succeed with a wrong file.
    created->Close();
    temp = OpenFileStream(temp_name, fmReadWrite);
    if (temp->Status != kStreamOk || created->Status != kStreamOk) {
      temp.reset();
      DeleteFileOk(temp_name);
      return false;
    }
  }
  if (!temp) return false;
  std::uint8_t raw[fido::kHeaderSize];
  fido::EncodeHeader(header_, raw);
  temp->Write(raw, fido::kHeaderSize);
  const std::int32_t size = Text->GetSize();
  Text->Seek(0);
  temp->CopyFrom(*Text, size);
  const char nul = 0;
  temp->Write(&nul, 1);
  temp->Truncate();  // the file ends with the message, whatever the name held
  temp->Flush();
  if (temp->Status == kStreamOk && Text->Status == kStreamOk) return true;
  temp.reset();
  DeleteFileOk(temp_name);
  return false;
}

bool FidoMsgBase::PutInPlace(const std::string& temp_name) {
  platform::Platform& os = platform::Os();
  if (!new_message_) {
    // Win32 replaces no file that is held open; the new file, still held,
    // takes its place and its lock.
    if (msg_file_) msg_file_->Close();
    msg_file_.reset();
    return os.ReplaceFile(temp_name, MessageFileName(CurMsgNum)) == platform::kOk && SyncFolder();
  }
  std::int32_t n = CurMsgNum;
  while (os.RenameNoReplace(temp_name, MessageFileName(n)) != platform::kOk) {
    // Only a file that took the number meanwhile moves the message on.
    if (!FileExists(MessageFileName(n))) return false;
    n = FreeNumberFrom(n);
    if (n == 0) return false;
  }
  CurMsgNum = n;
  if (SyncFolder()) return true;
  // The name may not last a power cut: take the message back, so that a
  // caller never deletes its source on the word of this copy.  When even
  // that fails, the whole message stays and is recorded.
  if (!DeleteFileOk(MessageFileName(n))) SetMapBit(n, true);
  return false;
}

// Writes header, text and the closing NUL to a temporary file and puts it
// in place of (or as) the message file.  False when any step failed; the
// area then holds what it held before.
bool FidoMsgBase::WriteMsg() {
  // A text read by OpenMsgHeader lacks the body: storing it would cut it.
  if (!msg_open_ || Text == nullptr || kludges_only_) return false;
  std::unique_ptr<Stream> temp;
  std::string temp_name;
  if (!WriteTempCopy(temp, temp_name)) {
    Status = kWriteFailed;
    return false;
  }
  if (!PutInPlace(temp_name)) {
    temp.reset();
    DeleteFileOk(temp_name);
    Status = kWriteFailed;
    return false;
  }
  if (new_message_) SetMapBit(CurMsgNum, true);
  if (msg_file_) msg_file_->Close();
  msg_file_ = std::move(temp);  // now the message's file, still locked
  new_message_ = false;
  return true;
}

bool FidoMsgBase::WriteMsgHeader() {
  if (!msg_file_ || new_message_) return false;
  msg_file_->ResetStatus();
  std::uint8_t raw[fido::kHeaderSize];
  fido::EncodeHeader(header_, raw);
  msg_file_->Seek(0);
  msg_file_->Write(raw, fido::kHeaderSize);
  msg_file_->Flush();
  return msg_file_->Status == kStreamOk;
}

// Temporary files are only ever removed through a lock: a file another
// run is still writing stays locked by it, and is left alone.
void FidoMsgBase::RemoveLeftoverTemps() {
  std::vector<std::string> leftovers;
  std::unique_ptr<FileFinder> finder = NewFileFinder();
  for (bool found = finder->FindFirst(path_ + kTempPrefix + "*" + platform::FixedNamePart(".TMP"), 0x21); found;
       found = finder->FindNext()) {
    if (IsTempName(finder->Name)) leftovers.push_back(path_ + finder->Name);
  }
  finder->FindClose();
  for (const std::string& name : leftovers) {
    std::unique_ptr<Stream> held = OpenFileStream(name, fmReadWrite);
    if (held->Status == kStreamOk) DeleteFileOk(name);
  }
}

// The new message gets the next free number; a file of that number that
// another program wrote since the directory was listed is recorded and
// left alone, and the number after it is tried.
bool FidoMsgBase::CreateMsg() {
  if (msg_open_) CloseMsg();
  if (!temps_checked_) {
    RemoveLeftoverTemps();
    temps_checked_ = true;
  }
  const std::int32_t n = FreeNumberFrom(high_msg_num_ + 1);
  if (n == 0) {
    Status = kAreaFull;
    return false;
  }
  CurMsgNum = n;
  text_ = NewMemoryStream(kMemStreamSizeHint);
  Text = text_.get();
  header_ = fido::MsgHeader{};
  msg_open_ = true;
  new_message_ = true;
  kludges_only_ = false;
  SetDatesToNow();
  return true;
}

bool FidoMsgBase::DeleteMsg() {
  if (!MsgExists(CurMsgNum) || !DeleteFileOk(MessageFileName(CurMsgNum))) {
    Status = kWriteFailed;
    return false;
  }
  SetMapBit(CurMsgNum, false);
  if (SyncFolder()) return true;
  Status = kWriteFailed;
  return false;
}

std::int32_t FidoMsgBase::GetLastRead(std::int32_t user_num) {
  if (user_num < 0 || user_num >= INT32_MAX / 2 - 1) return 0;
  std::unique_ptr<Stream> f = OpenFileStream(LastReadFileName(), fmRead);
  if (f->Status != kStreamOk || 2 * (user_num + 1) > f->GetSize()) return 0;
  std::uint8_t raw[2];
  f->Seek(2 * user_num);
  f->Read(raw, 2);
  return f->Status == kStreamOk ? GetLe16(raw) : 0;
}

// A lastread file that exists but does not open is never replaced.
bool FidoMsgBase::SetLastRead(std::int32_t user_num, std::int32_t msg_num) {
  if (user_num < 0 || user_num >= INT32_MAX / 2 - 1) return false;
  const std::string name = LastReadFileName();
  std::unique_ptr<Stream> f = OpenFileStream(name, fmWrite);
  bool created = false;
  if (f->Status != kStreamOk && !FileExists(name)) {
    f = OpenFileStream(name, fmCreateNew);
    created = true;
  }
  if (f->Status != kStreamOk) return false;
  std::uint8_t raw[2];
  PutLe16(raw, static_cast<std::uint16_t>(msg_num & 0xFFFF));
  f->Seek(2 * user_num);
  f->Write(raw, 2);
  f->Flush();
  f->Close();
  return f->Status == kStreamOk && (!created || SyncFolder());
}

}  // namespace lw
