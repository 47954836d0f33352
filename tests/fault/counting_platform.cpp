#include "fault/counting_platform.h"

namespace lw::test {

using platform::FileHandle;

const char* CallKindName(CallKind kind) {
  switch (kind) {
    case CallKind::kOpen: return "open";
    case CallKind::kCreate: return "create";
    case CallKind::kRead: return "read";
    case CallKind::kWrite: return "write";
    case CallKind::kSeek: return "seek";
    case CallKind::kSize: return "size";
    case CallKind::kTruncate: return "truncate";
    case CallKind::kFlush: return "flush";
    case CallKind::kClose: return "close";
    case CallKind::kDelete: return "delete";
    case CallKind::kRename: return "rename";
    case CallKind::kSyncDirectory: return "sync directory";
    case CallKind::kFind: return "find";
    case CallKind::kMakeDirectory: return "make directory";
    case CallKind::kLock: return "lock";
    case CallKind::kAny: return "any";
  }
  return "?";
}

CountingPlatform::CountingPlatform(platform::Platform& target, FaultPlan plan)
    : PlatformWrapper(target), plan_(std::move(plan)) {}

bool CountingPlatform::Fails(CallKind kind, std::string_view name) {
  if (plan_.kind != CallKind::kAny && plan_.kind != kind) return false;
  ++calls_;
  if (plan_.fail_at == 0 || calls_ < plan_.fail_at) return false;
  if (calls_ > plan_.fail_at) return plan_.persistent;
  reached_ = true;
  failed_kind_ = kind;
  failed_name_ = name;
  if (plan_.on_reached) plan_.on_reached(kind, name);
  return true;
}

bool CountingPlatform::Fails(CallKind kind, FileHandle file) {
  auto it = open_names_.find(file);
  return Fails(kind, it == open_names_.end() ? std::string_view() : std::string_view(it->second));
}

int CountingPlatform::Opened(int rc, std::string_view name, FileHandle* file) {
  if (rc == platform::kOk) open_names_[*file] = name;
  return rc;
}

// The errors below are those a failing disk gives: a refused open, an I/O
// error on a read (EIO), a full disk on a write, a sync or a truncate
// (ENOSPC).  A failed call changes nothing on the disk.

int CountingPlatform::OpenFile(std::string_view name, platform::Access access, platform::Sharing sharing,
                               FileHandle* file) {
  if (Fails(CallKind::kOpen, name)) {
    *file = platform::kNoFile;
    return platform::kAccessDenied;
  }
  return Opened(target_.OpenFile(name, access, sharing, file), name, file);
}

int CountingPlatform::CreateFile(std::string_view name, platform::Sharing sharing, FileHandle* file) {
  if (Fails(CallKind::kCreate, name)) {
    *file = platform::kNoFile;
    return platform::kAccessDenied;
  }
  return Opened(target_.CreateFile(name, sharing, file), name, file);
}

int CountingPlatform::CreateNewFile(std::string_view name, FileHandle* file) {
  if (Fails(CallKind::kCreate, name)) {
    *file = platform::kNoFile;
    return platform::kAccessDenied;
  }
  return Opened(target_.CreateNewFile(name, file), name, file);
}

int CountingPlatform::ReadFile(FileHandle file, void* buf, std::size_t count, std::size_t* done) {
  if (Fails(CallKind::kRead, file)) {
    *done = 0;
    return platform::kDiskReadError;
  }
  return target_.ReadFile(file, buf, count, done);
}

int CountingPlatform::WriteFile(FileHandle file, const void* buf, std::size_t count, std::size_t* done) {
  if (Fails(CallKind::kWrite, file)) {
    *done = 0;
    return platform::kDiskWriteError;
  }
  return target_.WriteFile(file, buf, count, done);
}

int CountingPlatform::SeekFile(FileHandle file, std::int64_t pos) {
  if (Fails(CallKind::kSeek, file)) return platform::kDiskReadError;
  return target_.SeekFile(file, pos);
}

int CountingPlatform::SeekFileEnd(FileHandle file) {
  if (Fails(CallKind::kSeek, file)) return platform::kDiskReadError;
  return target_.SeekFileEnd(file);
}

int CountingPlatform::TellFile(FileHandle file, std::int64_t* pos) {
  if (Fails(CallKind::kSeek, file)) return platform::kDiskReadError;
  return target_.TellFile(file, pos);
}

int CountingPlatform::FileSize(FileHandle file, std::int64_t* size) {
  if (Fails(CallKind::kSize, file)) return platform::kDiskReadError;
  return target_.FileSize(file, size);
}

int CountingPlatform::TruncateFile(FileHandle file) {
  if (Fails(CallKind::kTruncate, file)) return platform::kDiskWriteError;
  return target_.TruncateFile(file);
}

int CountingPlatform::FlushFile(FileHandle file) {
  if (Fails(CallKind::kFlush, file)) return platform::kDiskWriteError;
  return target_.FlushFile(file);
}

int CountingPlatform::SyncFiles(const FileHandle* files, std::size_t count) {
  if (Fails(CallKind::kFlush, count == 0 ? platform::kNoFile : files[0])) return platform::kDiskWriteError;
  return target_.SyncFiles(files, count);
}

int CountingPlatform::ReadFileAt(FileHandle file, std::int64_t offset, void* buf, std::size_t count,
                                 std::size_t* done) {
  if (Fails(CallKind::kRead, file)) {
    *done = 0;
    return platform::kDiskReadError;
  }
  return target_.ReadFileAt(file, offset, buf, count, done);
}

int CountingPlatform::WriteFileAt(FileHandle file, std::int64_t offset, const void* buf, std::size_t count,
                                  std::size_t* done) {
  if (Fails(CallKind::kWrite, file)) {
    *done = 0;
    return platform::kDiskWriteError;
  }
  return target_.WriteFileAt(file, offset, buf, count, done);
}

int CountingPlatform::CloseFile(FileHandle file) {
  // A failed close still gives the handle back, as close(2) does.
  const bool fails = Fails(CallKind::kClose, file);
  open_names_.erase(file);
  if (fails) {
    target_.CloseFile(file);
    return platform::kDiskWriteError;
  }
  return target_.CloseFile(file);
}

int CountingPlatform::DeleteFile(std::string_view name) {
  if (Fails(CallKind::kDelete, name)) return platform::kAccessDenied;
  return target_.DeleteFile(name);
}

int CountingPlatform::OpenAppend(std::string_view name, FileHandle* file) {
  if (Fails(CallKind::kOpen, name)) {
    *file = platform::kNoFile;
    return platform::kAccessDenied;
  }
  return Opened(target_.OpenAppend(name, file), name, file);
}

int CountingPlatform::RenameNoReplace(std::string_view from, std::string_view to) {
  if (Fails(CallKind::kRename, from)) return platform::kAccessDenied;
  return target_.RenameNoReplace(from, to);
}

int CountingPlatform::SyncDirectory(std::string_view dir) {
  if (Fails(CallKind::kSyncDirectory, dir)) return platform::kDiskWriteError;
  return target_.SyncDirectory(dir);
}

int CountingPlatform::LockRun(std::string_view name, int wait_ms, FileHandle* lock) {
  if (Fails(CallKind::kLock, name)) {
    *lock = platform::kNoFile;
    return platform::kAccessDenied;
  }
  return Opened(target_.LockRun(name, wait_ms, lock), name, lock);
}

int CountingPlatform::QueryAttributes(std::string_view name, std::uint32_t* attr) {
  if (Fails(CallKind::kFind, name)) return platform::kDiskReadError;
  return target_.QueryAttributes(name, attr);
}

int CountingPlatform::FindFirst(std::string_view pattern, std::uint32_t attr_mask, platform::SearchHandle* search,
                                platform::DirEntry* entry) {
  if (Fails(CallKind::kFind, pattern)) return platform::kDiskReadError;
  return target_.FindFirst(pattern, attr_mask, search, entry);
}

int CountingPlatform::FindNext(platform::SearchHandle search, platform::DirEntry* entry) {
  if (Fails(CallKind::kFind, "")) return platform::kDiskReadError;
  return target_.FindNext(search, entry);
}

int CountingPlatform::MakeDirectory(std::string_view name) {
  if (Fails(CallKind::kMakeDirectory, name)) return platform::kAccessDenied;
  return target_.MakeDirectory(name);
}

}  // namespace lw::test
