#include "msgbase/fido/fido_msg_base.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "fidoutil/dates.h"
#include "fidoutil/helpers.h"
#include "platform/file_finder.h"
#include "platform/platform.h"

namespace lw {

namespace {

struct MsgAttrMapping {
  std::uint32_t mask;
  std::uint16_t disk_bit;
  const char* flags_word;  // nullptr: not kept in the FLAGS line
};

const MsgAttrMapping kAttrMap[] = {
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

const MsgAttrMapping* FindMapping(std::uint32_t mask) {
  for (const MsgAttrMapping& m : kAttrMap) {
    if (m.mask == mask) return &m;
  }
  return nullptr;
}

const char kFlagsPrefix[] = "\001FLAGS";
constexpr std::int32_t kTempAttempts = 1000;
const char kTempPrefix[] = "lwtemp";

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

// Reads message file `name` whole with one open, one size query, one read
// and one close: 0, or the status code of what went wrong.  `header` and
// `text` are only meaningful when it returns 0.
std::int32_t ReadMessageFile(const std::string& name, fido::MsgHeader& header, Stream& text) {
  platform::Platform& os = platform::Os();
  platform::FileHandle handle = platform::kNoFile;
  if (os.OpenFile(name, platform::Access::kRead, platform::Sharing::kDenyWrite, &handle) != platform::kOk) {
    return FidoMsgBase::kCannotOpenMessage;
  }
  fido::HeldFile file(handle);
  std::int64_t size = 0;
  if (os.FileSize(file.Handle(), &size) != platform::kOk || size > INT32_MAX) return FidoMsgBase::kReadFailed;
  if (size < fido::kHeaderSize) return FidoMsgBase::kDamagedMessage;
  // Not zeroed first: every byte is read over, or the message refused.
  const auto length = static_cast<std::size_t>(size);
  const auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(length);
  std::size_t done = 0;
  if (os.ReadFile(file.Handle(), bytes.get(), length, &done) != platform::kOk || done != length || !file.Close()) {
    return FidoMsgBase::kReadFailed;
  }
  header = fido::Decode(fido::HeaderBytes(bytes.get(), fido::kMsgHeaderSize));
  std::size_t text_end = length;
  // The last byte is the closing NUL, when the writer put one there.
  if (text_end > fido::kMsgHeaderSize && bytes[length - 1] == 0) --text_end;
  text.Write(bytes.get() + fido::kMsgHeaderSize, static_cast<std::int32_t>(text_end - fido::kMsgHeaderSize));
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

std::string FidoMsgBase::TempFileName(std::int32_t k) const {
  return path_ + kTempPrefix + IntToStr(k) + platform::FixedNamePart(".TMP");
}

std::string FidoMsgBase::LastReadFileName() const { return path_ + "lastread"; }

std::string FidoMsgBase::FolderName() const {
  if (path_.size() <= 1) return path_;  // "" (the current folder) or the root
  return path_.substr(0, path_.size() - 1);
}

bool FidoMsgBase::Noted(const platform::Result& rc, std::string_view name) {
  if (rc == platform::kOk) return true;
  *FailureSink() = std::string(name) + ": " + platform::ReasonText(rc);
  return false;
}

bool FidoMsgBase::SyncFolder() { return Noted(platform::Os().SyncDirectory(FolderName()), FolderName()); }

bool FidoMsgBase::FoundOnDisk(std::int32_t n) {
  std::unique_ptr<FileFinder> finder = NewFileFinder();
  const bool found = finder->FindFirst(path_ + IntToStr(n) + platform::FixedNamePart(".MSG"), 0x21);
  if (found) names_.Add(finder->Name);
  finder->FindClose();
  return found;
}

std::int32_t FidoMsgBase::FreeNumberFrom(std::int32_t n) {
  n = names_.FirstFreeFrom(n);
  while (n != 0 && FoundOnDisk(n)) n = n == INT32_MAX ? 0 : names_.FirstFreeFrom(n + 1);
  return n;
}

bool FidoMsgBase::ScanDirectory() {
  names_.Clear();
  std::unique_ptr<FileFinder> finder = NewFileFinder();
  bool found = finder->FindFirst((path_ + "*" + platform::FixedNamePart(".MSG")), 0x21);
  while (found) {
    names_.Add(finder->Name);  // a name that is no message's is ignored
    found = finder->FindNext();
  }
  const platform::Result failure = finder->failure();
  finder->FindClose();
  if (failure.ok()) return true;
  // A listing cut short is no list of the area's messages.
  names_.Clear();
  return Fail(kNoArea, FolderName() + ": " + platform::ReasonText(failure));
}

// What waits for a commit belongs to the area open so far: it is committed
// before the area changes, and a failure is kept for the batch's end.
void FidoMsgBase::SettlePending() {
  if ((!pending_.empty() || deleted_unsynced_) && !CommitPending()) batch_failed_ = true;
}

bool FidoMsgBase::OpenMsgBase(const std::string& path) {
  SettlePending();
  IsOpen = false;
  SetPath(path);
  if (!DirHasEntries(path_)) {
    Fail(kNoArea);
    return false;
  }
  if (!ScanDirectory()) return false;
  IsOpen = true;
  return true;
}

bool FidoMsgBase::CreateMsgBase(const std::string& path) {
  SettlePending();
  IsOpen = false;
  SetPath(path);
  if (!ForceDirectories(path_)) {
    Fail(kNoArea);
    return false;
  }
  if (!ScanDirectory()) return false;
  IsOpen = true;
  return true;
}

bool FidoMsgBase::MsgBaseExists(const std::string& path) { return DirHasEntries(path); }

bool FidoMsgBase::CloseMsgBase() {
  const bool committed = CommitBatch();
  if (msg_open_) CloseMsg();
  path_.clear();
  IsOpen = false;
  temps_checked_ = false;
  return committed;
}

// The numbers of *.MSG files stay within int32: none lies above INT32_MAX.
bool FidoMsgBase::MsgExists(MsgNum n) { return n >= 1 && n <= INT32_MAX && names_.Has(static_cast<std::int32_t>(n)); }

void FidoMsgBase::SeekNext() {
  CurMsgNum = CurMsgNum >= INT32_MAX ? 0 : names_.Next(static_cast<std::int32_t>(std::max<MsgNum>(CurMsgNum, 0)));
}

void FidoMsgBase::SeekPrior() {
  CurMsgNum = CurMsgNum <= 0 ? 0 : names_.Prior(static_cast<std::int32_t>(std::min<MsgNum>(CurMsgNum, INT32_MAX)));
}

bool FidoMsgBase::ReadMessage(bool kludges_only) {
  if (msg_open_) CloseMsg();
  if (!MsgExists(CurMsgNum)) {
    Fail(kNoMessage);
    return false;
  }
  std::unique_ptr<Stream> text = NewMemoryStream(kMemStreamSizeHint);
  fido::MsgHeader header;
  if (std::int32_t failure = ReadMessageFile(PathOf(CurMsgNum), header, *text); failure != 0) {
    Fail(failure);
    return false;
  }
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
    Fail(kNoOpenMessage);
    return false;
  }
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
  StoreNetAndNode(orig, dest);
}

void FidoMsgBase::StoreNetAndNode(const FidoAddress& orig, const FidoAddress& dest) {
  header_.orig_net = orig.net;
  header_.orig_node = orig.node;
  header_.dest_net = dest.net;
  header_.dest_node = dest.node;
}

// The header holds net and node; a zone or point the text does not give
// (a source that kept them in its own header) needs the address kludges.
// A zone of 0 names none, so it needs no INTL line.
void FidoMsgBase::SetHeaderAddrs(const FidoAddress& orig, const FidoAddress& dest) {
  StoreNetAndNode(orig, dest);
  if (!TestFlag(kFlagNetmail)) return;
  FidoAddress read_orig;
  FidoAddress read_dest;
  GetAddrs(read_orig, read_dest);
  const bool zone_lost =
      (orig.zone != 0 && read_orig.zone != orig.zone) || (dest.zone != 0 && read_dest.zone != dest.zone);
  if (!zone_lost && read_orig.point == orig.point && read_dest.point == dest.point) return;
  std::string lines;
  if (zone_lost) lines += "\001INTL " + FormatAddress3D(dest) + " " + FormatAddress3D(orig) + "\r";
  if (read_orig.point != orig.point) lines += "\001FMPT " + IntToStr(orig.point) + "\r";
  if (read_dest.point != dest.point) lines += "\001TOPT " + IntToStr(dest.point) + "\r";
  InsertLeadingKludges(lines);
}

bool FidoMsgBase::IsAttr(std::uint32_t mask) {
  const MsgAttrMapping* m = FindMapping(mask);
  return m != nullptr && (header_.attr & m->disk_bit) != 0;
}

void FidoMsgBase::SetAttr(std::uint32_t mask, bool on) {
  const MsgAttrMapping* m = FindMapping(mask);
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
  ReadDateText(ZToStr(header_.date_time, fido::kDateField), dt);
}

void FidoMsgBase::GetDateArrived(MsgDateTime& dt) { UnpackStamp(header_.date_arrived, dt); }

void FidoMsgBase::SetDateWritten(const MsgDateTime& dt) {
  std::string text = FtscDateText(dt);
  std::memset(header_.date_time, 0, fido::kDateField);
  StrToZ(header_.date_time, fido::kDateField, text);
  header_.date_written = PackStamp(dt);
}

void FidoMsgBase::SetDateArrived(const MsgDateTime& dt) { header_.date_arrived = PackStamp(dt); }

bool FidoMsgBase::MessageBytes(std::vector<std::uint8_t>& bytes) {
  const std::int32_t text_size = Text->GetSize();
  if (text_size < 0) return false;
  bytes.assign(fido::kMsgHeaderSize + static_cast<std::size_t>(text_size) + 1, 0);  // the last 0 closes the text
  fido::Encode(header_, fido::MutableHeaderBytes(bytes.data(), fido::kMsgHeaderSize));
  Text->Seek(0);
  Text->Read(bytes.data() + fido::kMsgHeaderSize, text_size);
  return Text->Status == kStreamOk;
}

// The temporary file is created and locked in one call, and emptied only
// once it is locked: a run clearing leftovers never removes a file that
// is being written, and a name another run holds is passed over.
bool FidoMsgBase::WriteTemp(PendingMessage& pending) {
  std::vector<std::uint8_t> bytes;
  if (!MessageBytes(bytes)) return false;
  platform::Platform& os = platform::Os();
  for (std::int32_t k = next_temp_; k < kTempAttempts && !pending.file.IsOpen(); ++k) {
    pending.temp_name = TempFileName(k);
    platform::FileHandle handle = platform::kNoFile;
    // Only a name no file has (in any case) is taken: a file left by a run
    // that stopped is removed when the area is opened, and a file of that
    // name that is still there belongs to someone else.
    if (os.CreateNewFile(pending.temp_name, &handle) == platform::kOk) {
      pending.file = fido::HeldFile(handle);
      next_temp_ = k + 1;
    } else if (!FileExists(pending.temp_name)) {
      return false;  // not a name in use: the folder refuses new files
    }
  }
  if (!pending.file.IsOpen()) return Noted(platform::kAccessDenied, FolderName());
  std::size_t done = 0;  // a new file is written from its start
  const platform::Result written = os.WriteFile(pending.file.Handle(), bytes.data(), bytes.size(), &done);
  if (written == platform::kOk && done == bytes.size()) return true;
  Noted(written.ok() ? platform::Result(platform::kDiskWriteError) : written, pending.temp_name);
  pending.file.Close();
  DeleteFileOk(pending.temp_name);  // when this fails too, the next run removes the leftover
  return false;
}

// One file is synced by itself; several with one call, which the
// platform turns into one sync of their file system.
bool FidoMsgBase::SyncPending() {
  platform::Platform& os = platform::Os();
  if (pending_.empty()) return true;
  if (pending_.size() == 1) return Noted(os.FlushFile(pending_[0].file.Handle()), pending_[0].temp_name);
  std::vector<platform::FileHandle> handles;
  handles.reserve(pending_.size());
  for (const PendingMessage& p : pending_) handles.push_back(p.file.Handle());
  return Noted(os.SyncFiles(handles.data(), handles.size()), FolderName());
}

bool FidoMsgBase::Place(PendingMessage& pending) {
  platform::Platform& os = platform::Os();
  if (pending.replaces) {
    pending.placed = names_.Has(pending.number) &&
                     Noted(os.ReplaceFile(pending.temp_name, PathOf(pending.number)), PathOf(pending.number));
    return pending.placed;
  }
  std::int32_t n = pending.number;
  std::string name = IntToStr(n) + platform::FixedNamePart(".MSG");
  for (platform::Result rc; (rc = os.RenameNoReplace(pending.temp_name, path_ + name)) != platform::kOk;) {
    // Only a name taken meanwhile, by a message file or by anything else
    // (a folder), moves the message on; each step passes an entry on disk.
    if (!FileExists(path_ + name)) return Noted(rc, path_ + name);
    FoundOnDisk(n);  // a message file that took the number is recorded
    n = n == INT32_MAX ? 0 : FreeNumberFrom(n + 1);
    if (n == 0) return false;
    name = IntToStr(n) + platform::FixedNamePart(".MSG");
  }
  names_.Add(name);
  if (CurMsgNum == pending.number) CurMsgNum = n;  // the current message moved with it
  pending.number = n;
  pending.placed = true;
  return true;
}

// The files stay held (locked) until their names are given, so that no
// run clearing leftovers takes one in between.
bool FidoMsgBase::CommitPending() {
  bool ok = SyncPending();
  for (PendingMessage& p : pending_) {
    if (ok) ok = Place(p);
  }
  for (PendingMessage& p : pending_) ok = p.file.Close() && ok;
  if (ok && (!pending_.empty() || deleted_unsynced_)) ok = SyncFolder();
  if (!ok) TakeBack();
  pending_.clear();
  deleted_unsynced_ = false;
  reserved_high_ = 0;
  next_temp_ = 0;
  return ok;
}

// The new names may not last a power cut: take the new messages back, so
// that a caller never deletes a source on the word of these copies.  One
// that cannot be taken back stays whole and recorded.  A replaced message
// is whole either way.
void FidoMsgBase::TakeBack() {
  for (const PendingMessage& p : pending_) {
    if (!p.placed) {
      DeleteFileOk(p.temp_name);  // when this fails, the next run removes the leftover
    } else if (!p.replaces && DeleteFileOk(PathOf(p.number))) {
      names_.Remove(p.number);
    }
  }
}

bool FidoMsgBase::WriteMsg() {
  // A text read by OpenMsgHeader lacks the body: storing it would cut it.
  if (!msg_open_ || Text == nullptr || kludges_only_) return false;
  if (pending_.size() >= kMostPending && !CommitPending()) {
    batch_failed_ = true;
    Fail(kWriteFailed);
    return false;
  }
  PendingMessage pending;
  pending.number = CurMsgNum;
  pending.replaces = !new_message_;
  if (!WriteTemp(pending)) {
    Fail(kWriteFailed);
    return false;
  }
  pending_.push_back(std::move(pending));
  if (in_batch_ && new_message_) {
    reserved_high_ = std::max(reserved_high_, static_cast<std::int32_t>(CurMsgNum));
    new_message_ = false;
    return true;
  }
  if (CommitPending()) {
    new_message_ = false;
    return true;
  }
  if (in_batch_) batch_failed_ = true;
  Fail(kWriteFailed);
  return false;
}

bool FidoMsgBase::WriteMsgHeader() {
  if (!msg_open_ || new_message_ || !names_.Has(CurMsgNum)) return false;
  std::uint8_t raw[fido::kMsgHeaderSize];
  fido::Encode(header_, raw);
  platform::Platform& os = platform::Os();
  platform::FileHandle handle = platform::kNoFile;
  if (os.OpenFile(PathOf(CurMsgNum), platform::Access::kReadWrite, platform::Sharing::kExclusive, &handle) !=
      platform::kOk) {
    return false;
  }
  fido::HeldFile file(handle);
  std::size_t done = 0;  // a file just opened is written from its start
  return os.WriteFile(file.Handle(), raw, sizeof raw, &done) == platform::kOk && done == sizeof raw &&
         os.FlushFile(file.Handle()) == platform::kOk && file.Close();
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

bool FidoMsgBase::CreateMsg() {
  if (msg_open_) CloseMsg();
  if (!temps_checked_) {
    RemoveLeftoverTemps();
    temps_checked_ = true;
  }
  const std::int32_t high = std::max(names_.High(), reserved_high_);
  const std::int32_t n = high == INT32_MAX ? 0 : names_.FirstFreeFrom(high + 1);
  if (n == 0) {
    Fail(kAreaFull);
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
  if (!MsgExists(CurMsgNum)) return Fail(kWriteFailed, "message " + IntToStr(CurMsgNum) + " is not in the area");
  if (!Noted(platform::Os().DeleteFile(PathOf(CurMsgNum)), PathOf(CurMsgNum))) {
    Fail(kWriteFailed);
    return false;
  }
  names_.Remove(CurMsgNum);
  if (in_batch_) {
    deleted_unsynced_ = true;
    return true;
  }
  if (SyncFolder()) return true;
  Fail(kWriteFailed);
  return false;
}

void FidoMsgBase::BeginBatch() { in_batch_ = true; }

bool FidoMsgBase::CommitBatch() {
  if (!in_batch_) return true;
  const bool committed = CommitPending() && !batch_failed_;
  in_batch_ = false;
  batch_failed_ = false;
  if (!committed) Status = kWriteFailed;
  return committed;
}

MsgNum FidoMsgBase::GetLastRead(std::int32_t user_num) {
  if (user_num < 0 || user_num >= INT32_MAX / 2 - 1) return 0;
  std::unique_ptr<Stream> f = OpenFileStream(LastReadFileName(), fmRead);
  if (f->Status != kStreamOk || 2 * (user_num + 1) > f->GetSize()) return 0;
  std::uint8_t raw[2];
  f->Seek(2 * user_num);
  f->Read(raw, 2);
  return f->Status == kStreamOk ? GetLe16(raw) : 0;
}

// A lastread file that exists but does not open is never replaced.
bool FidoMsgBase::SetLastRead(std::int32_t user_num, MsgNum msg_num) {
  if (user_num < 0 || user_num >= INT32_MAX / 2 - 1) return false;
  const std::string name = LastReadFileName();
  std::unique_ptr<Stream> f = OpenFileStream(name, fmWrite);
  bool created = false;
  if (f->Status != kStreamOk && !FileExists(name)) {
    f = OpenFileStream(name, fmCreateNew);
    created = true;
  }
  if (f->Status != kStreamOk) return Fail(kWriteFailed, *f);
  std::uint8_t raw[2];
  PutLe16(raw, static_cast<std::uint16_t>(msg_num & 0xFFFF));
  f->Seek(2 * user_num);
  f->Write(raw, 2);
  f->Flush();
  f->Close();
  if (f->Status != kStreamOk) return Fail(kWriteFailed, *f);
  if (created && !SyncFolder()) {
    Fail(kWriteFailed);
    return false;
  }
  return true;
}

}  // namespace lw
