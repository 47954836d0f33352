#include "msgbase/jam/jam_fault_platform.h"

#include <cctype>
#include <filesystem>

#include "test_util.h"

namespace lw::test {

namespace fs = std::filesystem;

namespace {

std::string Normal(std::string_view name) {
  std::string s = fs::path(std::string(name)).lexically_normal().generic_string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

constexpr int kFailed = platform::kDiskWriteError;

}  // namespace

bool JamFaultPlatform::Pass() {
  ++calls_;
  short_now_ = mode_ == Mode::kShortOne && calls_ == fail_at_;
  if (short_now_) reached_ = true;
  if (mode_ == Mode::kPass || mode_ == Mode::kShortOne || calls_ < fail_at_) return true;
  if (mode_ == Mode::kFailOne && calls_ > fail_at_) return true;
  reached_ = true;
  return false;
}

void JamFaultPlatform::Note(const char* what, std::string_view file_name) {
  std::string name = file_name.empty() ? "?" : fs::path(Normal(file_name)).filename().string();
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  log_.push_back(std::string(what) + " " + name);
}

void JamFaultPlatform::Track(const std::string& dir) {
  tracked_ = Normal(dir);
  before_.clear();
  synced_.clear();
  unsynced_entries_.clear();
  for (const auto& e : fs::recursive_directory_iterator(tracked_)) {
    if (e.is_regular_file()) before_[Normal(e.path().string())] = test::ReadFile(e.path().string());
  }
}

void JamFaultPlatform::RevertToDurable() {
  std::vector<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(tracked_)) {
    if (e.is_regular_file()) files.push_back(Normal(e.path().string()));
  }
  for (const std::string& f : files) {
    auto synced = synced_.find(f);
    auto before = before_.find(f);
    // A file created in the run and never synced lost its data.
    test::WriteFile(f, synced != synced_.end() ? synced->second : before != before_.end() ? before->second : "");
  }
  // Deepest first, so that a folder goes after the files in it.
  for (auto it = unsynced_entries_.rbegin(); it != unsynced_entries_.rend(); ++it) fs::remove_all(*it);
}

// Every failing call fails as a full disk would make it, a read as a bad
// sector.  Flushes and folder syncs are recorded for the crash model but
// not passed on to the disk, which keeps the loops fast.
int JamFaultPlatform::OnCall(Call& call, const std::function<int()>& pass) {
  const bool is_read = call.op == Op::kReadFile || call.op == Op::kReadFileAt;
  const bool is_write = call.op == Op::kWriteFile || call.op == Op::kWriteFileAt;
  const bool creates = call.op == Op::kCreateFile || call.op == Op::kCreateNewFile || call.op == Op::kOpenAppend ||
                       call.op == Op::kMakeDirectory;
  const bool passes = Pass();
  if (call.op == Op::kCloseFile) {
    // The descriptor is released even when the call is made to fail, as a
    // failed close releases it too; no data moves either way.
    const int rc = pass();
    return passes ? rc : kFailed;
  }
  if (!passes) return is_read ? platform::kDiskReadError : kFailed;
  if (is_write || call.op == Op::kTruncateFile) Note(is_write ? "write" : "truncate", call.name);
  if (is_read || is_write) {
    shortened_ = shortened_ || short_now_;
    if (short_now_) call.count /= 2;
  }
  switch (call.op) {
    case Op::kFlushFile:
      if (call.name.empty()) return pass();  // opened before this platform
      Synced(call.name);
      return platform::kOk;
    case Op::kSyncFiles:
      for (std::size_t i = 0; i < call.file_count; ++i) {
        if (OpenName(call.files[i]).empty()) {
          if (int rc = target_.FlushFile(call.files[i]); rc != platform::kOk) return rc;
        } else {
          Synced(OpenName(call.files[i]));
        }
      }
      return platform::kOk;
    case Op::kSyncDirectory: FolderSynced(call.name); return platform::kOk;
    default: break;
  }
  const bool existed = creates && fs::exists(Normal(call.name));
  const int rc = pass();
  if (rc != platform::kOk) return rc;
  if (creates && !existed) unsynced_entries_.insert(Normal(call.name));
  if (call.op == Op::kCreateFile) Note("truncate", call.name);
  if (call.op == Op::kRenameNoReplace || call.op == Op::kReplaceFile) Renamed(call.name, call.to);
  return rc;
}

// The file keeps what its syncs made durable under its new name, which is
// an entry of its own until the folder is synced (a power cut drops it).
void JamFaultPlatform::Renamed(std::string_view from, std::string_view to) {
  const std::string from_name = Normal(from), to_name = Normal(to);
  Note("rename", from);
  auto synced = synced_.find(from_name);
  if (synced != synced_.end()) {
    synced_[to_name] = synced->second;
    synced_.erase(from_name);
  }
  unsynced_entries_.erase(from_name);
  unsynced_entries_.insert(to_name);
}

void JamFaultPlatform::Synced(std::string_view file_name) {
  Note("sync", file_name);
  const std::string name = Normal(file_name);
  synced_[name] = test::ReadFile(name);
}

// Compared as folders, not as names, so that the case and separators a
// platform's full path uses make no difference.
void JamFaultPlatform::FolderSynced(std::string_view dir) {
  const fs::path d(target_.FullPath(dir));
  for (auto it = unsynced_entries_.begin(); it != unsynced_entries_.end();) {
    std::error_code ec;
    it = fs::equivalent(fs::path(*it).parent_path(), d, ec) ? unsynced_entries_.erase(it) : std::next(it);
  }
  log_.push_back("syncdir");
}

}  // namespace lw::test
