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
                             bool revert_at_crash, std::function<void(const std::string&)> on_crash, PowerCut cut)
    : InterceptingPlatform(target),
      root_(fs::absolute(root).lexically_normal().generic_string()),
      crash_at_(crash_at),
      revert_at_crash_(revert_at_crash),
      cut_(cut),
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
  nodes_.push_back(Node{is_folder, std::move(durable), {}});
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

std::string CrashPlatform::Describe(const Call& call) const {
  const std::string kind = CallKindName(call.kind);
  if (call.op == Op::kFindNext) return kind;
  if (call.file == platform::kNoFile || call.op == Op::kLockRun || call.op == Op::kOpenFile ||
      call.op == Op::kCreateFile || call.op == Op::kCreateNewFile || call.op == Op::kOpenAppend) {
    return kind + " " + std::string(call.name);
  }
  auto open = open_files_.find(call.file);
  if (open == open_files_.end()) return kind;
  for (const auto& [folder, entries] : current_) {
    for (const auto& [name, node] : entries) {
      if (node == open->second) return kind + " " + folder + "/" + name;
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

void CrashPlatform::Opened(const std::string& path, FileHandle handle, bool created, bool emptied) {
  if (path.empty()) return;
  int node = NodeOf(path);
  if (node < 0) {
    // A new file's content is empty until its first flush.
    node = NewNode(false, created ? "" : ReadWhole(path));
    current_[FolderOf(path)][NameOf(path)] = node;
    if (!created) durable_[FolderOf(path)][NameOf(path)] = node;
  }
  open_files_[handle] = node;
  if (emptied) nodes_[static_cast<std::size_t>(node)].pending.push_back(Pending{0, "", true});
}

void CrashPlatform::Changed(FileHandle file, Pending change) {
  auto open = open_files_.find(file);
  if (open != open_files_.end()) nodes_[static_cast<std::size_t>(open->second)].pending.push_back(std::move(change));
}

platform::Result CrashPlatform::WriteFile(FileHandle file, const void* buf, std::size_t count, std::size_t* done) {
  const platform::Result rc = InterceptingPlatform::WriteFile(file, buf, count, done);
  std::int64_t end = 0;
  // The position after the write tells where it went, appending or not.
  if (rc == platform::kOk && *done > 0 && target_.TellFile(file, &end) == platform::kOk) {
    Changed(file, Pending{end - static_cast<std::int64_t>(*done), std::string(static_cast<const char*>(buf), *done)});
  }
  return rc;
}

platform::Result CrashPlatform::WriteFileAt(FileHandle file, std::int64_t offset, const void* buf, std::size_t count,
                                            std::size_t* done) {
  const platform::Result rc = InterceptingPlatform::WriteFileAt(file, offset, buf, count, done);
  if (rc == platform::kOk && *done > 0) {
    Changed(file, Pending{offset, std::string(static_cast<const char*>(buf), *done)});
  }
  return rc;
}

platform::Result CrashPlatform::TruncateFile(FileHandle file) {
  std::int64_t at = 0;
  const bool known = target_.TellFile(file, &at) == platform::kOk;
  const platform::Result rc = InterceptingPlatform::TruncateFile(file);
  if (rc == platform::kOk && known) Changed(file, Pending{at, "", true});
  return rc;
}

void CrashPlatform::Revert() {
  // Names reach the disk first: every entry as it is now is durable.
  if (cut_ == PowerCut::kEntriesFirst) durable_ = current_;
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
  for (const auto& [path, node] : files) WriteWhole(path, ContentAfterCut(nodes_[static_cast<std::size_t>(node)]));
  current_ = durable_;
  for (Node& node : nodes_) {
    node.durable = ContentAfterCut(node);
    node.pending.clear();
  }
}

std::string CrashPlatform::ContentAfterCut(const Node& node) const {
  std::string content = node.durable;
  if (node.pending.empty() || cut_ == PowerCut::kSyncedOnly || cut_ == PowerCut::kEntriesFirst) return content;
  constexpr std::int64_t kSector = 512;
  const auto apply = [&content](const Pending& p, std::size_t length) {
    const auto at = static_cast<std::size_t>(p.offset);
    if (p.truncation) {
      content.resize(at);
      return;
    }
    if (content.size() < at + length) content.resize(at + length, '\0');
    content.replace(at, length, p.bytes, 0, length);
  };
  const std::size_t first = cut_ == PowerCut::kLastWriteOnly ? node.pending.size() - 1 : 0;
  for (std::size_t i = first; i + 1 < node.pending.size(); ++i) apply(node.pending[i], node.pending[i].bytes.size());
  const Pending& last = node.pending.back();
  if (cut_ == PowerCut::kLastWriteOnly || last.truncation) {
    apply(last, last.bytes.size());
  } else {
    // The last sector boundary inside the write: what lies before it was
    // written, the sector it starts and what follows not.
    const std::int64_t end = last.offset + static_cast<std::int64_t>(last.bytes.size());
    const std::int64_t boundary = (end - 1) / kSector * kSector;
    if (boundary > last.offset) apply(last, static_cast<std::size_t>(boundary - last.offset));
  }
  return content;
}

// Calls after the crash fail as a disk that went away would make them.
// Giving a handle back touches no disk, so a close is passed on even after
// the crash (the call still fails).  SyncFiles is numbered as one flush per
// file, so that the crash may come between two of them.
int CrashPlatform::OnCall(Call& call, const std::function<int()>& pass) {
  if (call.op == Op::kSyncFiles) {
    for (std::size_t i = 0; i < call.file_count; ++i) {
      if (int rc = FlushFile(call.files[i]); rc != platform::kOk) return rc;
    }
    return platform::kOk;
  }
  const bool stopped = Stopped(Describe(call));
  if (call.op == Op::kCloseFile) open_files_.erase(call.file);
  if (stopped) {
    if (call.op == Op::kCloseFile) pass();
    return FailureCode(call.kind);
  }
  const int rc = pass();
  if (rc == platform::kOk) Record(call);
  return rc;
}

void CrashPlatform::Record(const Call& call) {
  switch (call.op) {
    case Op::kOpenFile: return Opened(Tracked(call.name), call.file, false, false);
    case Op::kCreateFile: return Opened(Tracked(call.name), call.file, true, true);
    case Op::kCreateNewFile:
    case Op::kOpenAppend: return Opened(Tracked(call.name), call.file, true, false);
    case Op::kFlushFile: {
      auto open = open_files_.find(call.file);
      if (open == open_files_.end()) return;
      // The content is read back by the file's present name.
      for (const auto& [folder, entries] : current_) {
        for (const auto& [name, node] : entries) {
          if (node != open->second) continue;
          nodes_[static_cast<std::size_t>(node)].durable = ReadWhole(folder + "/" + name);
          nodes_[static_cast<std::size_t>(node)].pending.clear();
        }
      }
      return;
    }
    case Op::kDeleteFile: {
      const std::string path = Tracked(call.name);
      if (path.empty()) return;
      Entries& entries = current_[FolderOf(path)];
      auto it = FindEntry(entries, NameOf(path));
      if (it != entries.end()) entries.erase(it);
      return;
    }
    case Op::kRenameNoReplace:
    case Op::kReplaceFile: return Renamed(call.name, call.to);
    case Op::kSyncDirectory: {
      const std::string path = Tracked(call.name);
      if (!path.empty()) durable_[path] = current_[path];
      return;
    }
    case Op::kMakeDirectory: {
      const std::string path = Tracked(call.name);
      if (path.empty() || path == root_) return;
      current_[FolderOf(path)][NameOf(path)] = NewNode(true, "");
      current_[path].clear();
      durable_[path].clear();
      return;
    }
    default: return;
  }
}

// The entry moves to its new name; one that stood there (ReplaceFile) is
// gone from the folder, though its node lives on in the durable entries.
void CrashPlatform::Renamed(std::string_view from, std::string_view to) {
  const std::string from_path = Tracked(from), to_path = Tracked(to);
  if (from_path.empty() || to_path.empty()) return;
  Entries& entries = current_[FolderOf(from_path)];
  auto it = FindEntry(entries, NameOf(from_path));
  if (it == entries.end()) return;
  const int node = it->second;
  entries.erase(it);
  Entries& target = current_[FolderOf(to_path)];
  auto old = FindEntry(target, NameOf(to_path));
  if (old != target.end()) target.erase(old);
  target[NameOf(to_path)] = node;
}

}  // namespace lw::test
