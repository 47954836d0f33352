#include "app/copy_journal.h"

#include "app/last_msgid.h"
#include "app/message_digest.h"
#include "fidoutil/address.h"
#include "fidoutil/helpers.h"
#include "platform/platform.h"
#include "platform/text_file.h"

namespace lw {

namespace {

#ifdef _WIN32
constexpr bool kWin32 = true;
#else
constexpr bool kWin32 = false;
#endif

std::string Hex16(std::uint64_t value) {
  return Hex8(static_cast<std::uint32_t>(value >> 32)) + Hex8(static_cast<std::uint32_t>(value));
}

std::string Joined(std::string folder, std::string_view name) {
  if (!folder.empty() && !platform::IsPathSeparator(folder.back())) folder += platform::kPathSeparator;
  return folder.append(name);
}

// The state folder ("" when the environment names none).
std::string StateFolder() {
  platform::Platform& os = platform::Os();
  std::string value;
  if (kWin32) return os.GetEnv("LOCALAPPDATA", &value) && !value.empty() ? Joined(value, "larkway") : "";
  if (os.GetEnv("XDG_STATE_HOME", &value) && !value.empty()) return Joined(value, "larkway");
  if (os.GetEnv("HOME", &value) && !value.empty()) return Joined(Joined(value, ".local/state"), "larkway");
  return std::string();
}

std::string CannotWrite(const std::string& file_name, int rc) {
  return "unable to write copy journal " + file_name + ", rc=" + Hex8(static_cast<std::uint32_t>(rc));
}

// Appends `line` to the file and syncs it; a new file's folder is synced too.
int AppendSynced(const std::string& file_name, const std::string& line) {
  platform::Platform& os = platform::Os();
  const bool is_new = !FileExists(file_name);
  platform::FileHandle file = platform::kNoFile;
  if (int rc = os.OpenAppend(file_name, &file); rc != platform::kOk) return rc;
  std::size_t done = 0;
  int rc = os.WriteFile(file, line.data(), line.size(), &done);
  if (rc == platform::kOk && done != line.size()) rc = platform::kDiskWriteError;
  if (rc == platform::kOk) rc = os.FlushFile(file);
  const int close_rc = os.CloseFile(file);
  if (rc == platform::kOk) rc = close_rc;
  if (rc == platform::kOk && is_new) rc = os.SyncDirectory(ParentDir(file_name));
  return rc;
}

// "MARK DEST": false for anything else.
bool ParseRecord(const std::string& line, std::string& dest, std::int32_t& mark) {
  const std::size_t space = line.find(' ');
  if (space == 0 || space == std::string::npos || space > 10 || space + 1 >= line.size()) return false;
  std::int64_t value = 0;
  for (std::size_t i = 0; i < space; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
    value = value * 10 + (line[i] - '0');
  }
  if (value > INT32_MAX) return false;
  mark = static_cast<std::int32_t>(value);
  dest = line.substr(space + 1);
  return true;
}

}  // namespace

std::string CopyJournalFileName(const std::string& area_id) {
  Fnv1a hash;
  hash.Add(area_id);
  const std::string name = "netmail-" + Hex16(hash.value()) + ".journal";
  const std::string folder = StateFolder();
  if (!folder.empty()) return Joined(folder, name);
  return LastMsgIdFileName(area_id) + "." + name;
}

Status CopyJournal::Load() {
  marks_.clear();
  if (!FileExists(file_name_)) return Status();
  platform::TextReader reader;
  int rc = reader.Open(file_name_);
  std::string line;
  int error = platform::kOk;
  while (rc == platform::kOk && reader.ReadLine(&line, &error)) {
    std::string dest;
    std::int32_t mark = 0;
    // Only the last line can be torn, and it was synced before any copy it covers.
    if (!ParseRecord(line, dest, mark)) continue;
    auto [at, added] = marks_.emplace(dest, mark);
    if (!added && mark < at->second) at->second = mark;
  }
  if (rc == platform::kOk) rc = error;
  if (const int close_rc = reader.Close(); rc == platform::kOk) rc = close_rc;
  if (rc != platform::kOk) {
    return Status::Error("unable to read copy journal " + file_name_ + ", rc=" + Hex8(static_cast<std::uint32_t>(rc)));
  }
  return Status();
}

bool CopyJournal::MarkOf(const std::string& dest, std::int32_t& mark) const {
  const auto at = marks_.find(dest);
  if (at == marks_.end()) return false;
  mark = at->second;
  return true;
}

Status CopyJournal::Record(const std::string& dest, std::int32_t mark) {
  if (!ForceDirectories(ParentDir(file_name_))) return Status::Error(CannotWrite(file_name_, platform::kPathNotFound));
  if (int rc = AppendSynced(file_name_, IntToStr(mark) + " " + dest + "\n"); rc != platform::kOk) {
    return Status::Error(CannotWrite(file_name_, rc));
  }
  marks_.emplace(dest, mark);
  return Status();
}

Status CopyJournal::Drop() {
  if (marks_.empty()) return Status();
  platform::Platform& os = platform::Os();
  int rc = os.DeleteFile(file_name_);
  if (rc == platform::kFileNotFound) rc = platform::kOk;
  if (rc == platform::kOk) rc = os.SyncDirectory(ParentDir(file_name_));
  if (rc != platform::kOk) return Status::Error(CannotWrite(file_name_, rc));
  marks_.clear();
  return Status();
}

void KnownCopies::LoadOnce(const CopyJournal& journal, const std::string& dest, MessageBase& base) {
  std::int32_t mark = 0;
  if (!loaded_.insert(dest).second || !journal.MarkOf(dest, mark)) return;
  std::unordered_multiset<std::uint64_t>& digests = digests_[dest];
  // Bounded by the base's own numbering: each step moves to a higher number.
  for (base.SeekFirst(mark + 1); base.SeekFound(); base.SeekNext()) {
    if (!base.OpenMsg()) continue;
    CurrentMessage msg;
    ReadHeader(base, msg);
    digests.insert(MessageDigest(base, msg));
    base.CloseMsg();
  }
}

bool KnownCopies::Take(const std::string& dest, std::uint64_t digest) {
  const auto area = digests_.find(dest);
  if (area == digests_.end()) return false;
  const auto copy = area->second.find(digest);
  if (copy == area->second.end()) return false;
  area->second.erase(copy);
  return true;
}

bool KnownCopies::HoldsAny(const std::string& dest) const {
  const auto area = digests_.find(dest);
  return area != digests_.end() && !area->second.empty();
}

}  // namespace lw
