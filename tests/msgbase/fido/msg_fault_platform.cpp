#include "msgbase/fido/msg_fault_platform.h"

#include <filesystem>
#include <vector>

#include "test_util.h"

namespace lw::test {

using platform::FileHandle;
using platform::kDiskReadError;
using platform::kDiskWriteError;
using platform::kOk;

namespace {

std::string WithoutTrailingSlash(std::string_view path) {
  std::string p(path);
  while (p.size() > 1 && (p.back() == '/' || p.back() == '\\')) p.pop_back();
  return p;
}

}  // namespace

CountedFaults::CountedFaults(Mode mode, int fail_at, const std::string& folder)
    : PlatformWrapper(platform::NativePlatform()),
      mode_(mode),
      fail_at_(fail_at),
      folder_(WithoutTrailingSlash(folder)),
      folder_existed_(Exists(folder)),
      folder_durable_(folder_existed_) {
  if (!folder_existed_) return;
  for (const std::string& name : ListDir(folder_)) {
    live_[name] = durable_[name] = next_id_;
    synced_[next_id_++] = test::ReadFile(folder_ + "/" + name);
  }
}

bool CountedFaults::Fails() {
  ++calls_;
  return mode_ == Mode::kCrash ? calls_ >= fail_at_ : calls_ == fail_at_;
}

std::string CountedFaults::EntryOf(std::string_view path) const {
  const std::string prefix = folder_ + "/";
  if (path.substr(0, prefix.size()) != prefix) return "";
  std::string_view rest = path.substr(prefix.size());
  return rest.find_first_of("/\\") == std::string_view::npos ? std::string(rest) : "";
}

void CountedFaults::Opened(std::string_view name, FileHandle file) {
  open_.insert(file);
  const std::string entry = EntryOf(name);
  if (entry.empty()) return;
  auto it = live_.find(entry);
  if (it == live_.end()) {
    it = live_.emplace(entry, next_id_).first;
    synced_[next_id_++] = "";  // a new file: nothing of it is on the disk yet
  }
  handles_[file] = it->second;
}

std::string CountedFaults::ContentOf(FileHandle file) {
  std::int64_t pos = 0;
  std::int64_t size = 0;
  target_.TellFile(file, &pos);
  target_.FileSize(file, &size);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  std::size_t done = 0;
  target_.SeekFile(file, 0);
  target_.ReadFile(file, bytes.data(), bytes.size(), &done);
  target_.SeekFile(file, pos);
  return bytes;
}

void CountedFaults::CrashNow() {
  for (FileHandle f : open_) target_.CloseFile(f);
  open_.clear();
  namespace fs = std::filesystem;
  if (!folder_durable_) {
    fs::remove_all(folder_);
    return;
  }
  fs::create_directories(folder_);
  for (const std::string& name : ListDir(folder_)) fs::remove_all(folder_ + "/" + name);
  for (const auto& [name, id] : durable_) test::WriteFile(folder_ + "/" + name, synced_[id]);
}

int CountedFaults::OpenFile(std::string_view name, platform::Access access, platform::Sharing sharing,
                            FileHandle* file) {
  if (Fails()) return platform::kAccessDenied;
  int rc = target_.OpenFile(name, access, sharing, file);
  if (rc == kOk) Opened(name, *file);
  return rc;
}

int CountedFaults::CreateFile(std::string_view name, platform::Sharing sharing, FileHandle* file) {
  if (Fails()) return platform::kAccessDenied;
  int rc = target_.CreateFile(name, sharing, file);
  if (rc == kOk) Opened(name, *file);
  return rc;
}

int CountedFaults::CreateNewFile(std::string_view name, FileHandle* file) {
  if (Fails()) return platform::kAccessDenied;
  int rc = target_.CreateNewFile(name, file);
  if (rc == kOk) Opened(name, *file);
  return rc;
}

int CountedFaults::OpenAppend(std::string_view name, FileHandle* file) {
  if (Fails()) return platform::kAccessDenied;
  int rc = target_.OpenAppend(name, file);
  if (rc == kOk) Opened(name, *file);
  return rc;
}

int CountedFaults::ReadFile(FileHandle file, void* buf, std::size_t count, std::size_t* done) {
  if (Fails()) return kDiskReadError;
  return target_.ReadFile(file, buf, count, done);
}

int CountedFaults::WriteFile(FileHandle file, const void* buf, std::size_t count, std::size_t* done) {
  if (Fails()) return kDiskWriteError;
  return target_.WriteFile(file, buf, count, done);
}

int CountedFaults::SeekFile(FileHandle file, std::int64_t pos) {
  return Fails() ? kDiskReadError : target_.SeekFile(file, pos);
}
int CountedFaults::SeekFileEnd(FileHandle file) { return Fails() ? kDiskReadError : target_.SeekFileEnd(file); }
int CountedFaults::TellFile(FileHandle file, std::int64_t* pos) {
  return Fails() ? kDiskReadError : target_.TellFile(file, pos);
}
int CountedFaults::FileSize(FileHandle file, std::int64_t* size) {
  return Fails() ? kDiskReadError : target_.FileSize(file, size);
}
int CountedFaults::TruncateFile(FileHandle file) { return Fails() ? kDiskWriteError : target_.TruncateFile(file); }

int CountedFaults::FlushFile(FileHandle file) {
  if (Fails()) return kDiskWriteError;
  int rc = target_.FlushFile(file);
  auto it = handles_.find(file);
  if (rc == kOk && it != handles_.end()) synced_[it->second] = ContentOf(file);
  return rc;
}

int CountedFaults::CloseFile(FileHandle file) {
  const bool fails = Fails();
  if (fails && mode_ == Mode::kCrash) return kDiskWriteError;  // left open until CrashNow
  const int rc = target_.CloseFile(file);                      // a failed close releases the handle all the same
  open_.erase(file);
  handles_.erase(file);
  return fails ? kDiskWriteError : rc;
}

int CountedFaults::DeleteFile(std::string_view name) {
  if (Fails()) return platform::kAccessDenied;
  int rc = target_.DeleteFile(name);
  if (rc == kOk) live_.erase(EntryOf(name));
  return rc;
}

int CountedFaults::RenameNoReplace(std::string_view from, std::string_view to) {
  if (Fails()) return platform::kAccessDenied;
  int rc = target_.RenameNoReplace(from, to);
  if (rc == kOk && live_.count(EntryOf(from)) != 0) {
    live_[EntryOf(to)] = live_[EntryOf(from)];
    live_.erase(EntryOf(from));
  }
  return rc;
}

int CountedFaults::ReplaceFile(std::string_view from, std::string_view to) {
  if (Fails()) return platform::kAccessDenied;
  int rc = target_.ReplaceFile(from, to);
  if (rc == kOk && live_.count(EntryOf(from)) != 0) {
    live_[EntryOf(to)] = live_[EntryOf(from)];
    live_.erase(EntryOf(from));
  }
  return rc;
}

int CountedFaults::SyncDirectory(std::string_view dir) {
  if (Fails()) return kDiskWriteError;
  int rc = target_.SyncDirectory(dir);
  if (rc != kOk) return rc;
  const std::string synced = WithoutTrailingSlash(dir);
  if (synced == folder_) durable_ = live_;
  if (synced == std::filesystem::path(folder_).parent_path().generic_string()) folder_durable_ = Exists(folder_);
  return rc;
}

int CountedFaults::QueryAttributes(std::string_view name, std::uint32_t* attr) {
  return Fails() ? kDiskReadError : target_.QueryAttributes(name, attr);
}

int CountedFaults::FindFirst(std::string_view pattern, std::uint32_t attr_mask, platform::SearchHandle* search,
                             platform::DirEntry* entry) {
  return Fails() ? kDiskReadError : target_.FindFirst(pattern, attr_mask, search, entry);
}

int CountedFaults::FindNext(platform::SearchHandle search, platform::DirEntry* entry) {
  return Fails() ? kDiskReadError : target_.FindNext(search, entry);
}

int CountedFaults::MakeDirectory(std::string_view name) {
  return Fails() ? kDiskWriteError : target_.MakeDirectory(name);
}

}  // namespace lw::test
