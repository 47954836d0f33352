#include "fault/crash_platform.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>

namespace lw::test {

namespace fs = std::filesystem;
using platform::FileHandle;

namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }
std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), ::tolower);
  return s;
}

using Entries = std::map<std::string, int>;

// The entry named `name`, or one named so in another case (the platform
// finds existing names whatever their case).
Entries::iterator FindEntry(Entries& entries, const std::string& name) {
  auto it = entries.find(name);
  if (it != entries.end()) return it;
  return std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return Lower(e.first) == Lower(name); });
}

}  // namespace

CrashPlatform::CrashPlatform(platform::Platform& target, const std::string& root, std::int64_t crash_at,
                             bool revert_at_crash, std::function<void(const std::string&)> on_crash)
    : PlatformWrapper(target),
      root_(fs::absolute(root).lexically_normal().generic_string()),
      crash_at_(crash_at),
      revert_at_crash_(revert_at_crash),
      on_crash_(std::move(on_crash)) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  Snapshot(root_);
}

void CrashPlatform::Snapshot(const std::string& folder) {
  Entries& entries = current_[folder];
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string path = e.path().generic_string();
    const bool is_folder = e.is_directory();
    entries[NameOf(path)] = NewNode(is_folder, is_folder ? "" : ReadWhole(path));
    if (is_folder) Snapshot(path);
  }
  durable_[folder] = entries;
}

int CrashPlatform::NewNode(bool is_folder, std::string durable) {
  nodes_.push_back(Node{is_folder, std::move(durable)});
  return static_cast<int>(nodes_.size()) - 1;
}

bool CrashPlatform::Stopped(std::string_view what) {
  if (crashed_) return true;
  ++calls_;
  if (crash_at_ == 0 || calls_ < crash_at_) return false;
  crashed_ = true;
  crash_call_ = what;
  if (on_crash_) on_crash_(crash_call_);
  if (revert_at_crash_) Revert();
  return true;
}

std::string CrashPlatform::Call(const char* kind, FileHandle file) const {
  auto open = open_files_.find(file);
  if (open == open_files_.end()) return kind;
  for (const auto& [folder, entries] : current_) {
    for (const auto& [name, node] : entries) {
      if (node == open->second) return std::string(kind) + " " + folder + "/" + name;
    }
  }
  return kind;
}

std::string CrashPlatform::Tracked(std::string_view name) const {
  std::string n(name);
  std::replace(n.begin(), n.end(), '\\', '/');
  std::string path = fs::absolute(fs::path(n.empty() ? "." : n)).lexically_normal().generic_string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path == root_) return path;
  return path.compare(0, root_.size() + 1, root_ + "/") == 0 ? path : "";
}

int CrashPlatform::NodeOf(const std::string& path) {
  Entries& entries = current_[FolderOf(path)];
  auto it = FindEntry(entries, NameOf(path));
  return it == entries.end() ? -1 : it->second;
}

void CrashPlatform::Opened(const std::string& path, FileHandle handle, bool created) {
  if (path.empty()) return;
  int node = NodeOf(path);
  if (node < 0) {
    // A new file's content is empty until its first flush.
    node = NewNode(false, created ? "" : ReadWhole(path));
    current_[FolderOf(path)][NameOf(path)] = node;
    if (!created) durable_[FolderOf(path)][NameOf(path)] = node;
  }
  open_files_[handle] = node;
}

void CrashPlatform::Revert() {
  // What a power cut leaves: the durable entries from the root down.
  std::map<std::string, int> files;
  std::set<std::string> folders = {root_};
  std::vector<std::string> pending = {root_};
  while (!pending.empty()) {
    const std::string folder = pending.back();
    pending.pop_back();
    for (const auto& [name, node] : durable_[folder]) {
      const std::string path = folder + "/" + name;
      if (nodes_[static_cast<std::size_t>(node)].is_folder) {
        folders.insert(path);
        pending.push_back(path);
      } else {
        files[path] = node;
      }
    }
  }
  std::vector<fs::path> extra;
  for (const auto& e : fs::recursive_directory_iterator(root_)) {
    const std::string path = e.path().generic_string();
    if (e.is_directory() ? folders.count(path) == 0 : files.count(path) == 0) extra.push_back(e.path());
  }
  std::error_code ec;
  for (const fs::path& p : extra) fs::remove_all(p, ec);
  for (const std::string& folder : folders) fs::create_directories(folder, ec);
  for (const auto& [path, node] : files) WriteWhole(path, nodes_[static_cast<std::size_t>(node)].durable);
  current_ = durable_;
}

// Calls after the crash fail as a disk that went away would make them.

int CrashPlatform::OpenFile(std::string_view name, platform::Access access, platform::Sharing sharing,
                            FileHandle* file) {
  if (Stopped(std::string("open ") + std::string(name))) return platform::kAccessDenied;
  const int rc = target_.OpenFile(name, access, sharing, file);
  if (rc == platform::kOk) Opened(Tracked(name), *file, false);
  return rc;
}

int CrashPlatform::CreateFile(std::string_view name, platform::Sharing sharing, FileHandle* file) {
  if (Stopped(std::string("create ") + std::string(name))) return platform::kAccessDenied;
  const int rc = target_.CreateFile(name, sharing, file);
  if (rc == platform::kOk) Opened(Tracked(name), *file, true);
  return rc;
}

int CrashPlatform::CreateNewFile(std::string_view name, FileHandle* file) {
  if (Stopped(std::string("create ") + std::string(name))) return platform::kAccessDenied;
  const int rc = target_.CreateNewFile(name, file);
  if (rc == platform::kOk) Opened(Tracked(name), *file, true);
  return rc;
}

int CrashPlatform::OpenAppend(std::string_view name, FileHandle* file) {
  if (Stopped(std::string("open ") + std::string(name))) return platform::kAccessDenied;
  const int rc = target_.OpenAppend(name, file);
  if (rc == platform::kOk) Opened(Tracked(name), *file, true);
  return rc;
}

int CrashPlatform::ReadFile(FileHandle file, void* buf, std::size_t count, std::size_t* done) {
  if (Stopped(Call("read", file))) {
    *done = 0;
    return platform::kDiskReadError;
  }
  return target_.ReadFile(file, buf, count, done);
}

int CrashPlatform::WriteFile(FileHandle file, const void* buf, std::size_t count, std::size_t* done) {
  if (Stopped(Call("write", file))) {
    *done = 0;
    return platform::kDiskWriteError;
  }
  return target_.WriteFile(file, buf, count, done);
}

int CrashPlatform::SeekFile(FileHandle file, std::int64_t pos) {
  return Stopped(Call("seek", file)) ? platform::kDiskReadError : target_.SeekFile(file, pos);
}

int CrashPlatform::SeekFileEnd(FileHandle file) {
  return Stopped(Call("seek", file)) ? platform::kDiskReadError : target_.SeekFileEnd(file);
}

int CrashPlatform::TellFile(FileHandle file, std::int64_t* pos) {
  return Stopped(Call("seek", file)) ? platform::kDiskReadError : target_.TellFile(file, pos);
}

int CrashPlatform::FileSize(FileHandle file, std::int64_t* size) {
  return Stopped(Call("size", file)) ? platform::kDiskReadError : target_.FileSize(file, size);
}

int CrashPlatform::TruncateFile(FileHandle file) {
  return Stopped(Call("truncate", file)) ? platform::kDiskWriteError : target_.TruncateFile(file);
}

int CrashPlatform::FlushFile(FileHandle file) {
  if (Stopped(Call("flush", file))) return platform::kDiskWriteError;
  const int rc = target_.FlushFile(file);
  auto open = open_files_.find(file);
  if (rc != platform::kOk || open == open_files_.end()) return rc;
  // The content is read back by the file's present name.
  for (const auto& [folder, entries] : current_) {
    for (const auto& [name, node] : entries) {
      if (node == open->second) nodes_[static_cast<std::size_t>(node)].durable = ReadWhole(folder + "/" + name);
    }
  }
  return rc;
}

// Each file is made durable as FlushFile makes it; the crash may come
// between two of them.
int CrashPlatform::SyncFiles(const FileHandle* files, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (int rc = FlushFile(files[i]); rc != platform::kOk) return rc;
  }
  return platform::kOk;
}

int CrashPlatform::ReadFileAt(FileHandle file, std::int64_t offset, void* buf, std::size_t count, std::size_t* done) {
  if (Stopped(Call("read", file))) {
    *done = 0;
    return platform::kDiskReadError;
  }
  return target_.ReadFileAt(file, offset, buf, count, done);
}

int CrashPlatform::WriteFileAt(FileHandle file, std::int64_t offset, const void* buf, std::size_t count,
                               std::size_t* done) {
  if (Stopped(Call("write", file))) {
    *done = 0;
    return platform::kDiskWriteError;
  }
  return target_.WriteFileAt(file, offset, buf, count, done);
}

int CrashPlatform::CloseFile(FileHandle file) {
  const bool stopped = Stopped(Call("close", file));
  open_files_.erase(file);
  // Giving the handle back touches no disk, so it is given back even after
  // the crash (the call still fails).
  const int rc = target_.CloseFile(file);
  return stopped ? platform::kDiskWriteError : rc;
}

int CrashPlatform::DeleteFile(std::string_view name) {
  if (Stopped(std::string("delete ") + std::string(name))) return platform::kAccessDenied;
  const int rc = target_.DeleteFile(name);
  const std::string path = Tracked(name);
  if (rc == platform::kOk && !path.empty()) {
    Entries& entries = current_[FolderOf(path)];
    auto it = FindEntry(entries, NameOf(path));
    if (it != entries.end()) entries.erase(it);
  }
  return rc;
}

int CrashPlatform::RenameNoReplace(std::string_view from, std::string_view to) {
  if (Stopped(std::string("rename ") + std::string(from))) return platform::kAccessDenied;
  const int rc = target_.RenameNoReplace(from, to);
  const std::string from_path = Tracked(from), to_path = Tracked(to);
  if (rc == platform::kOk && !from_path.empty() && !to_path.empty()) {
    Entries& entries = current_[FolderOf(from_path)];
    auto it = FindEntry(entries, NameOf(from_path));
    if (it != entries.end()) {
      const int node = it->second;
      entries.erase(it);
      current_[FolderOf(to_path)][NameOf(to_path)] = node;
    }
  }
  return rc;
}

int CrashPlatform::SyncDirectory(std::string_view dir) {
  if (Stopped(std::string("sync directory ") + std::string(dir))) return platform::kDiskWriteError;
  const int rc = target_.SyncDirectory(dir);
  const std::string path = Tracked(dir);
  if (rc == platform::kOk && !path.empty()) durable_[path] = current_[path];
  return rc;
}

int CrashPlatform::LockRun(std::string_view name, int wait_ms, FileHandle* lock) {
  if (Stopped(std::string("lock ") + std::string(name))) return platform::kAccessDenied;
  return target_.LockRun(name, wait_ms, lock);
}

int CrashPlatform::QueryAttributes(std::string_view name, std::uint32_t* attr) {
  return Stopped(std::string("find ") + std::string(name)) ? platform::kDiskReadError
                                                           : target_.QueryAttributes(name, attr);
}

int CrashPlatform::FindFirst(std::string_view pattern, std::uint32_t attr_mask, platform::SearchHandle* search,
                             platform::DirEntry* entry) {
  return Stopped(std::string("find ") + std::string(pattern)) ? platform::kDiskReadError
                                                              : target_.FindFirst(pattern, attr_mask, search, entry);
}

int CrashPlatform::FindNext(platform::SearchHandle search, platform::DirEntry* entry) {
  return Stopped("find") ? platform::kDiskReadError : target_.FindNext(search, entry);
}

int CrashPlatform::MakeDirectory(std::string_view name) {
  if (Stopped(std::string("make directory ") + std::string(name))) return platform::kAccessDenied;
  const int rc = target_.MakeDirectory(name);
  const std::string path = Tracked(name);
  if (rc == platform::kOk && !path.empty() && path != root_) {
    current_[FolderOf(path)][NameOf(path)] = NewNode(true, "");
    current_[path].clear();
    durable_[path].clear();
  }
  return rc;
}

}  // namespace lw::test
