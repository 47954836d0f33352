#include "fault/intercepting_platform.h"

#include <algorithm>
#include <cctype>

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

int FailureCode(CallKind kind) {
  switch (kind) {
    case CallKind::kOpen:
    case CallKind::kCreate:
    case CallKind::kDelete:
    case CallKind::kRename:
    case CallKind::kMakeDirectory:
    case CallKind::kLock: return platform::kAccessDenied;
    case CallKind::kRead:
    case CallKind::kSeek:
    case CallKind::kSize:
    case CallKind::kFind: return platform::kDiskReadError;
    default: return platform::kDiskWriteError;
  }
}

namespace {

CallKind KindOf(Op op) {
  switch (op) {
    case Op::kOpenFile:
    case Op::kOpenAppend: return CallKind::kOpen;
    case Op::kCreateFile:
    case Op::kCreateNewFile: return CallKind::kCreate;
    case Op::kReadFile:
    case Op::kReadFileAt: return CallKind::kRead;
    case Op::kWriteFile:
    case Op::kWriteFileAt: return CallKind::kWrite;
    case Op::kSeekFile:
    case Op::kSeekFileEnd:
    case Op::kTellFile: return CallKind::kSeek;
    case Op::kFileSize: return CallKind::kSize;
    case Op::kTruncateFile: return CallKind::kTruncate;
    case Op::kFlushFile:
    case Op::kSyncFiles: return CallKind::kFlush;
    case Op::kCloseFile: return CallKind::kClose;
    case Op::kDeleteFile: return CallKind::kDelete;
    case Op::kRenameNoReplace:
    case Op::kReplaceFile: return CallKind::kRename;
    case Op::kSyncDirectory: return CallKind::kSyncDirectory;
    case Op::kLockRun: return CallKind::kLock;
    case Op::kQueryAttributes:
    case Op::kFindFirst:
    case Op::kFindNext: return CallKind::kFind;
    case Op::kMakeDirectory: return CallKind::kMakeDirectory;
  }
  return CallKind::kAny;
}

Call ByName(Op op, std::string_view name) {
  Call call;
  call.op = op;
  call.kind = KindOf(op);
  call.name = name;
  return call;
}

}  // namespace

std::chrono::steady_clock::time_point InterceptingPlatform::SteadyNow() {
  return clock_ ? clock_->now : target_.SteadyNow();
}

void InterceptingPlatform::StopClock(std::string name_part, std::int64_t creates,
                                     std::chrono::steady_clock::duration jump) {
  std::transform(name_part.begin(), name_part.end(), name_part.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  clock_ = StoppedClock{target_.SteadyNow(), std::move(name_part), creates, jump};
}

int InterceptingPlatform::Intercept(Call& call, const std::function<int()>& pass) {
  if (clock_ && clock_->creates > 0 && call.kind == CallKind::kCreate) {
    std::string name(call.name);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (name.find(clock_->name_part) != std::string::npos && --clock_->creates == 0) clock_->now += clock_->jump;
  }
  return OnCall(call, pass);
}

std::string_view InterceptingPlatform::OpenName(FileHandle file) const {
  auto it = open_names_.find(file);
  return it == open_names_.end() ? std::string_view() : std::string_view(it->second);
}

Call InterceptingPlatform::OnHandle(Op op, FileHandle file) const {
  Call call = ByName(op, OpenName(file));
  call.file = file;
  return call;
}

int InterceptingPlatform::Open(Op op, std::string_view name, FileHandle* file,
                               const std::function<int(FileHandle*)>& open) {
  *file = platform::kNoFile;
  Call call = ByName(op, name);
  const int rc = Intercept(call, [&] {
    const int opened = open(file);
    call.file = *file;
    return opened;
  });
  if (rc == platform::kOk && *file != platform::kNoFile) open_names_[*file] = std::string(name);
  return rc;
}

platform::Result InterceptingPlatform::OpenFile(std::string_view name, platform::Access access,
                                                platform::Sharing sharing, FileHandle* file) {
  return Open(Op::kOpenFile, name, file, [&](FileHandle* f) { return target_.OpenFile(name, access, sharing, f); });
}

platform::Result InterceptingPlatform::CreateFile(std::string_view name, platform::Sharing sharing, FileHandle* file) {
  return Open(Op::kCreateFile, name, file, [&](FileHandle* f) { return target_.CreateFile(name, sharing, f); });
}

platform::Result InterceptingPlatform::CreateNewFile(std::string_view name, FileHandle* file) {
  return Open(Op::kCreateNewFile, name, file, [&](FileHandle* f) { return target_.CreateNewFile(name, f); });
}

platform::Result InterceptingPlatform::OpenAppend(std::string_view name, FileHandle* file) {
  return Open(Op::kOpenAppend, name, file, [&](FileHandle* f) { return target_.OpenAppend(name, f); });
}

platform::Result InterceptingPlatform::LockRun(std::string_view name, int wait_ms, FileHandle* lock) {
  return Open(Op::kLockRun, name, lock, [&](FileHandle* f) { return target_.LockRun(name, wait_ms, f); });
}

platform::Result InterceptingPlatform::ReadFile(FileHandle file, void* buf, std::size_t count, std::size_t* done) {
  *done = 0;
  Call call = OnHandle(Op::kReadFile, file);
  call.count = count;
  return Intercept(call, [&] { return target_.ReadFile(file, buf, call.count, done); });
}

platform::Result InterceptingPlatform::ReadFileAt(FileHandle file, std::int64_t offset, void* buf, std::size_t count,
                                                  std::size_t* done) {
  *done = 0;
  Call call = OnHandle(Op::kReadFileAt, file);
  call.count = count;
  return Intercept(call, [&] { return target_.ReadFileAt(file, offset, buf, call.count, done); });
}

platform::Result InterceptingPlatform::WriteFile(FileHandle file, const void* buf, std::size_t count,
                                                 std::size_t* done) {
  *done = 0;
  Call call = OnHandle(Op::kWriteFile, file);
  call.count = count;
  return Intercept(call, [&] { return target_.WriteFile(file, buf, call.count, done); });
}

platform::Result InterceptingPlatform::WriteFileAt(FileHandle file, std::int64_t offset, const void* buf,
                                                   std::size_t count, std::size_t* done) {
  *done = 0;
  Call call = OnHandle(Op::kWriteFileAt, file);
  call.count = count;
  return Intercept(call, [&] { return target_.WriteFileAt(file, offset, buf, call.count, done); });
}

platform::Result InterceptingPlatform::SeekFile(FileHandle file, std::int64_t pos) {
  Call call = OnHandle(Op::kSeekFile, file);
  return Intercept(call, [&] { return target_.SeekFile(file, pos); });
}

platform::Result InterceptingPlatform::SeekFileEnd(FileHandle file) {
  Call call = OnHandle(Op::kSeekFileEnd, file);
  return Intercept(call, [&] { return target_.SeekFileEnd(file); });
}

platform::Result InterceptingPlatform::TellFile(FileHandle file, std::int64_t* pos) {
  Call call = OnHandle(Op::kTellFile, file);
  return Intercept(call, [&] { return target_.TellFile(file, pos); });
}

platform::Result InterceptingPlatform::FileSize(FileHandle file, std::int64_t* size) {
  Call call = OnHandle(Op::kFileSize, file);
  return Intercept(call, [&] { return target_.FileSize(file, size); });
}

platform::Result InterceptingPlatform::TruncateFile(FileHandle file) {
  Call call = OnHandle(Op::kTruncateFile, file);
  return Intercept(call, [&] { return target_.TruncateFile(file); });
}

platform::Result InterceptingPlatform::FlushFile(FileHandle file) {
  Call call = OnHandle(Op::kFlushFile, file);
  return Intercept(call, [&] { return target_.FlushFile(file); });
}

platform::Result InterceptingPlatform::SyncFiles(const FileHandle* files, std::size_t count) {
  Call call = OnHandle(Op::kSyncFiles, count == 0 ? platform::kNoFile : files[0]);
  call.files = files;
  call.file_count = count;
  return Intercept(call, [&] { return target_.SyncFiles(files, count); });
}

platform::Result InterceptingPlatform::CloseFile(FileHandle file) {
  Call call = OnHandle(Op::kCloseFile, file);
  const int rc = Intercept(call, [&] { return target_.CloseFile(file); });
  open_names_.erase(file);
  return rc;
}

platform::Result InterceptingPlatform::DeleteFile(std::string_view name) {
  Call call = ByName(Op::kDeleteFile, name);
  return Intercept(call, [&] { return target_.DeleteFile(name); });
}

platform::Result InterceptingPlatform::RenameNoReplace(std::string_view from, std::string_view to) {
  Call call = ByName(Op::kRenameNoReplace, from);
  call.to = to;
  return Intercept(call, [&] { return target_.RenameNoReplace(from, to); });
}

platform::Result InterceptingPlatform::ReplaceFile(std::string_view from, std::string_view to) {
  Call call = ByName(Op::kReplaceFile, from);
  call.to = to;
  return Intercept(call, [&] { return target_.ReplaceFile(from, to); });
}

platform::Result InterceptingPlatform::SyncDirectory(std::string_view dir) {
  Call call = ByName(Op::kSyncDirectory, dir);
  return Intercept(call, [&] { return target_.SyncDirectory(dir); });
}

platform::Result InterceptingPlatform::QueryAttributes(std::string_view name, std::uint32_t* attr) {
  Call call = ByName(Op::kQueryAttributes, name);
  return Intercept(call, [&] { return target_.QueryAttributes(name, attr); });
}

platform::Result InterceptingPlatform::FindFirst(std::string_view pattern, std::uint32_t attr_mask,
                                                 platform::SearchHandle* search, platform::DirEntry* entry) {
  *search = 0;
  Call call = ByName(Op::kFindFirst, pattern);
  return Intercept(call, [&] { return target_.FindFirst(pattern, attr_mask, search, entry); });
}

platform::Result InterceptingPlatform::FindNext(platform::SearchHandle search, platform::DirEntry* entry) {
  Call call = ByName(Op::kFindNext, "");
  return Intercept(call, [&] { return target_.FindNext(search, entry); });
}

platform::Result InterceptingPlatform::MakeDirectory(std::string_view name) {
  Call call = ByName(Op::kMakeDirectory, name);
  return Intercept(call, [&] { return target_.MakeDirectory(name); });
}

}  // namespace lw::test
