// The one base of the test platforms that fail, count, log or crash
// file-system calls: it passes every call to another platform through a
// single hook that sees the call's kind, its name and its handle.
//
// Console, clock and name calls (FullPath) and FindClose pass by unseen.
#pragma once

#include <cstdint>
#include <functional>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform_wrapper.h"

namespace lw::test {

// The kinds of file-system call, for faults that hit only one kind.
enum class CallKind {
  kOpen,
  kCreate,
  kRead,
  kWrite,
  kSeek,
  kSize,
  kTruncate,
  kFlush,
  kClose,
  kDelete,
  kRename,
  kSyncDirectory,
  kFind,
  kMakeDirectory,
  kLock,
  kAny,
};

// A short lower-case name of the kind ("write", "sync directory").
const char* CallKindName(CallKind kind);

// The error a failing disk gives for a call of `kind`: a refused open,
// create, rename, delete or lock (kAccessDenied), an I/O error on a read,
// seek, size or search (kDiskReadError), a full disk on a write, truncate,
// flush, close or folder sync (kDiskWriteError).
int FailureCode(CallKind kind);

// The Platform calls that the hook sees, one for each.
enum class Op {
  kOpenFile,
  kCreateFile,
  kCreateNewFile,
  kOpenAppend,
  kReadFile,
  kReadFileAt,
  kWriteFile,
  kWriteFileAt,
  kSeekFile,
  kSeekFileEnd,
  kTellFile,
  kFileSize,
  kTruncateFile,
  kFlushFile,
  kSyncFiles,
  kCloseFile,
  kDeleteFile,
  kRenameNoReplace,
  kReplaceFile,
  kSyncDirectory,
  kLockRun,
  kQueryAttributes,
  kFindFirst,
  kFindNext,
  kMakeDirectory,
};

// One file-system call as the hook sees it.
struct Call {
  Op op = Op::kOpenFile;
  CallKind kind = CallKind::kAny;
  // The file, folder or pattern named; for a call on a handle, the name it
  // was opened by ("" when unknown); for a rename, the old name.
  std::string_view name;
  std::string_view to;  // a rename's new name
  // The handle the call is on; for an open, the new handle once it passed.
  platform::FileHandle file = platform::kNoFile;
  // The bytes a transfer asks for; a hook may lower it before passing.
  std::size_t count = 0;
  // SyncFiles: its handles.
  const platform::FileHandle* files = nullptr;
  std::size_t file_count = 0;
};

class InterceptingPlatform : public platform::PlatformWrapper {
 public:
  explicit InterceptingPlatform(platform::Platform& target) : PlatformWrapper(target) {}

  platform::Result OpenFile(std::string_view name, platform::Access access, platform::Sharing sharing,
                            platform::FileHandle* file) override;
  platform::Result CreateFile(std::string_view name, platform::Sharing sharing, platform::FileHandle* file) override;
  platform::Result CreateNewFile(std::string_view name, platform::FileHandle* file) override;
  platform::Result OpenAppend(std::string_view name, platform::FileHandle* file) override;
  platform::Result ReadFile(platform::FileHandle file, void* buf, std::size_t count, std::size_t* done) override;
  platform::Result ReadFileAt(platform::FileHandle file, std::int64_t offset, void* buf, std::size_t count,
                              std::size_t* done) override;
  platform::Result WriteFile(platform::FileHandle file, const void* buf, std::size_t count, std::size_t* done) override;
  platform::Result WriteFileAt(platform::FileHandle file, std::int64_t offset, const void* buf, std::size_t count,
                               std::size_t* done) override;
  platform::Result SeekFile(platform::FileHandle file, std::int64_t pos) override;
  platform::Result SeekFileEnd(platform::FileHandle file) override;
  platform::Result TellFile(platform::FileHandle file, std::int64_t* pos) override;
  platform::Result FileSize(platform::FileHandle file, std::int64_t* size) override;
  platform::Result TruncateFile(platform::FileHandle file) override;
  platform::Result FlushFile(platform::FileHandle file) override;
  platform::Result SyncFiles(const platform::FileHandle* files, std::size_t count) override;
  platform::Result CloseFile(platform::FileHandle file) override;
  platform::Result DeleteFile(std::string_view name) override;
  platform::Result RenameNoReplace(std::string_view from, std::string_view to) override;
  platform::Result ReplaceFile(std::string_view from, std::string_view to) override;
  platform::Result SyncDirectory(std::string_view dir) override;
  platform::Result LockRun(std::string_view name, int wait_ms, platform::FileHandle* lock) override;
  platform::Result QueryAttributes(std::string_view name, std::uint32_t* attr) override;
  platform::Result FindFirst(std::string_view pattern, std::uint32_t attr_mask, platform::SearchHandle* search,
                             platform::DirEntry* entry) override;
  platform::Result FindNext(platform::SearchHandle search, platform::DirEntry* entry) override;
  platform::Result MakeDirectory(std::string_view name) override;
  std::chrono::steady_clock::time_point SteadyNow() override;

  // From now on the clock the run reads (SteadyNow) stands still, but for
  // one jump of `jump` at the `creates`-th file created under a name
  // holding `name_part` (case aside; 0: never): a run's batches and holds
  // then end at the same calls at every fault point, however slow the
  // machine.
  void StopClock(std::string name_part, std::int64_t creates, std::chrono::steady_clock::duration jump);

 protected:
  // Every file-system call comes here; `pass` makes it on the target and
  // returns its result.  A subclass fails a call by returning a code
  // without calling `pass` (the caller then gets no handle and no bytes),
  // passes it and notes what it did, or answers in its place.
  virtual int OnCall(Call& call, const std::function<int()>& pass) = 0;
  // The name the open handle `file` was opened by ("" when unknown).
  std::string_view OpenName(platform::FileHandle file) const;

 private:
  Call OnHandle(Op op, platform::FileHandle file) const;
  // Moves the stopped clock on when `call` is the create it waits for,
  // then hands the call to OnCall.
  int Intercept(Call& call, const std::function<int()>& pass);
  // Runs an open through the hook and remembers the new handle's name.
  int Open(Op op, std::string_view name, platform::FileHandle* file,
           const std::function<int(platform::FileHandle*)>& open);

  std::map<platform::FileHandle, std::string> open_names_;
  struct StoppedClock {
    std::chrono::steady_clock::time_point now;
    std::string name_part;  // folded to lower case
    std::int64_t creates = 0;  // files still to be created under it before the jump
    std::chrono::steady_clock::duration jump{};
  };
  std::optional<StoppedClock> clock_;
};

}  // namespace lw::test
