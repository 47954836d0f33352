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

void JamFaultPlatform::Opened(std::string_view name, platform::FileHandle file, bool may_create) {
  const std::string n = Normal(name);
  if (may_create) unsynced_entries_.insert(n);
  names_[file] = n;
}

void JamFaultPlatform::Note(const char* what, platform::FileHandle file) {
  auto it = names_.find(file);
  std::string name = it == names_.end() ? "?" : fs::path(it->second).filename().string();
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

int JamFaultPlatform::OpenFile(std::string_view name, platform::Access access, platform::Sharing sharing,
                               platform::FileHandle* file) {
  if (!Pass()) return kFailed;
  int rc = target_.OpenFile(name, access, sharing, file);
  if (rc == platform::kOk) Opened(name, *file, false);
  return rc;
}

int JamFaultPlatform::CreateFile(std::string_view name, platform::Sharing sharing, platform::FileHandle* file) {
  if (!Pass()) return kFailed;
  const bool existed = fs::exists(Normal(name));
  int rc = target_.CreateFile(name, sharing, file);
  if (rc == platform::kOk) {
    Opened(name, *file, !existed);
    Note("truncate", *file);
  }
  return rc;
}

int JamFaultPlatform::CreateNewFile(std::string_view name, platform::FileHandle* file) {
  if (!Pass()) return kFailed;
  const bool existed = fs::exists(Normal(name));
  int rc = target_.CreateNewFile(name, file);
  if (rc == platform::kOk) Opened(name, *file, !existed);
  return rc;
}

int JamFaultPlatform::ReadFile(platform::FileHandle file, void* buf, std::size_t count, std::size_t* done) {
  *done = 0;
  if (!Pass()) return platform::kDiskReadError;
  shortened_ = shortened_ || short_now_;
  return target_.ReadFile(file, buf, short_now_ ? count / 2 : count, done);
}

int JamFaultPlatform::WriteFile(platform::FileHandle file, const void* buf, std::size_t count, std::size_t* done) {
  *done = 0;
  if (!Pass()) return kFailed;
  Note("write", file);
  shortened_ = shortened_ || short_now_;
  return target_.WriteFile(file, buf, short_now_ ? count / 2 : count, done);
}

int JamFaultPlatform::SeekFile(platform::FileHandle file, std::int64_t pos) {
  return Pass() ? target_.SeekFile(file, pos) : kFailed;
}
int JamFaultPlatform::SeekFileEnd(platform::FileHandle file) { return Pass() ? target_.SeekFileEnd(file) : kFailed; }
int JamFaultPlatform::TellFile(platform::FileHandle file, std::int64_t* pos) {
  return Pass() ? target_.TellFile(file, pos) : kFailed;
}
int JamFaultPlatform::FileSize(platform::FileHandle file, std::int64_t* size) {
  return Pass() ? target_.FileSize(file, size) : kFailed;
}

int JamFaultPlatform::TruncateFile(platform::FileHandle file) {
  if (!Pass()) return kFailed;
  Note("truncate", file);
  return target_.TruncateFile(file);
}

int JamFaultPlatform::FlushFile(platform::FileHandle file) {
  if (!Pass()) return kFailed;
  // The crash model decides what a sync kept; the disk is not asked, which
  // keeps the loops fast.
  if (names_.count(file) == 0) return target_.FlushFile(file);  // opened before this platform
  {
    Note("sync", file);
    auto it = names_.find(file);
    if (it != names_.end()) synced_[it->second] = test::ReadFile(it->second);
  }
  return platform::kOk;
}

int JamFaultPlatform::CloseFile(platform::FileHandle file) {
  // The descriptor is released even when the call is made to fail, as a
  // failed close releases it too; no data moves either way.
  const bool pass = Pass();
  names_.erase(file);
  int rc = target_.CloseFile(file);
  return pass ? rc : kFailed;
}

int JamFaultPlatform::DeleteFile(std::string_view name) { return Pass() ? target_.DeleteFile(name) : kFailed; }

int JamFaultPlatform::OpenAppend(std::string_view name, platform::FileHandle* file) {
  if (!Pass()) return kFailed;
  const bool existed = fs::exists(Normal(name));
  int rc = target_.OpenAppend(name, file);
  if (rc == platform::kOk) Opened(name, *file, !existed);
  return rc;
}

int JamFaultPlatform::RenameNoReplace(std::string_view from, std::string_view to) {
  return Pass() ? target_.RenameNoReplace(from, to) : kFailed;
}
int JamFaultPlatform::ReplaceFile(std::string_view from, std::string_view to) {
  return Pass() ? target_.ReplaceFile(from, to) : kFailed;
}

int JamFaultPlatform::SyncDirectory(std::string_view dir) {
  if (!Pass()) return kFailed;
  // Compared as folders, not as names, so that the case and separators a
  // platform's full path uses make no difference.
  const fs::path d(target_.FullPath(dir));
  for (auto it = unsynced_entries_.begin(); it != unsynced_entries_.end();) {
    std::error_code ec;
    it = fs::equivalent(fs::path(*it).parent_path(), d, ec) ? unsynced_entries_.erase(it) : std::next(it);
  }
  log_.push_back("syncdir");
  return platform::kOk;
}

int JamFaultPlatform::QueryAttributes(std::string_view name, std::uint32_t* attr) {
  return Pass() ? target_.QueryAttributes(name, attr) : kFailed;
}

int JamFaultPlatform::FindFirst(std::string_view pattern, std::uint32_t attr_mask, platform::SearchHandle* search,
                                platform::DirEntry* entry) {
  return Pass() ? target_.FindFirst(pattern, attr_mask, search, entry) : kFailed;
}

int JamFaultPlatform::FindNext(platform::SearchHandle search, platform::DirEntry* entry) {
  return Pass() ? target_.FindNext(search, entry) : kFailed;
}

int JamFaultPlatform::MakeDirectory(std::string_view name) {
  if (!Pass()) return kFailed;
  const bool existed = fs::exists(Normal(name));
  int rc = target_.MakeDirectory(name);
  if (rc == platform::kOk && !existed) unsynced_entries_.insert(Normal(name));
  return rc;
}

}  // namespace lw::test
