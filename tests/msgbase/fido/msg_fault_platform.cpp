#include "msgbase/fido/msg_fault_platform.h"

#include <filesystem>
#include <vector>

#include "test_util.h"

namespace lw::test {

using platform::FileHandle;
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
    : InterceptingPlatform(platform::NativePlatform()),
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

// A failed call changes nothing on the disk.  A close that fails in a
// crash leaves its handle open until CrashNow; one that fails alone
// releases it all the same, as close(2) does.
int CountedFaults::OnCall(Call& call, const std::function<int()>& pass) {
  const bool fails = Fails();
  if (fails && !(call.op == Op::kCloseFile && mode_ == Mode::kFailOne)) {
    return call.kind == CallKind::kMakeDirectory ? kDiskWriteError : FailureCode(call.kind);
  }
  const int rc = pass();
  if (call.op == Op::kCloseFile) {
    open_.erase(call.file);
    handles_.erase(call.file);
    return fails ? kDiskWriteError : rc;
  }
  if (rc == kOk) Record(call);
  return rc;
}

void CountedFaults::Record(const Call& call) {
  switch (call.op) {
    case Op::kOpenFile:
    case Op::kCreateFile:
    case Op::kCreateNewFile:
    case Op::kOpenAppend: return Opened(call.name, call.file);
    case Op::kFlushFile: return Synced(call.file);
    case Op::kSyncFiles:
      for (std::size_t i = 0; i < call.file_count; ++i) Synced(call.files[i]);
      return;
    case Op::kDeleteFile: live_.erase(EntryOf(call.name)); return;
    case Op::kRenameNoReplace:
    case Op::kReplaceFile: return Renamed(call.name, call.to);
    case Op::kSyncDirectory: {
      const std::string synced = WithoutTrailingSlash(call.name);
      if (synced == folder_) durable_ = live_;
      if (synced == std::filesystem::path(folder_).parent_path().generic_string()) folder_durable_ = Exists(folder_);
      return;
    }
    default: return;
  }
}

void CountedFaults::Synced(FileHandle file) {
  auto it = handles_.find(file);
  if (it != handles_.end()) synced_[it->second] = ContentOf(file);
}

void CountedFaults::Renamed(std::string_view from, std::string_view to) {
  if (live_.count(EntryOf(from)) == 0) return;
  live_[EntryOf(to)] = live_[EntryOf(from)];
  live_.erase(EntryOf(from));
}

}  // namespace lw::test
