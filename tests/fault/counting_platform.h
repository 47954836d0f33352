// A platform that numbers every file-system call and makes one of them fail,
// the way SQLite's fault tests walk a fault through every I/O of an
// operation: run once with the fault at call 1, then at call 2, ... until a
// run finishes without reaching the numbered call.
//
// Console and clock calls are passed on unnumbered, and so is FullPath,
// which only computes a name.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
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

struct FaultPlan {
  // The number of the call that fails (1 = the first numbered call of the
  // kind); 0 never fails.
  std::int64_t fail_at = 0;
  // Only calls of this kind are numbered for `fail_at` (kAny: all).
  CallKind kind = CallKind::kAny;
  // False: only call `fail_at` fails (a transient error).  True: it and
  // every later numbered call fail (the disk went away).
  bool persistent = false;
  // Runs with the kind and name (if any) of call `fail_at` when it is
  // reached, before it fails; may end the process (a kill at that call).
  std::function<void(CallKind kind, std::string_view name)> on_reached;
};

class CountingPlatform : public platform::PlatformWrapper {
 public:
  CountingPlatform(platform::Platform& target, FaultPlan plan);

  // Numbered calls seen so far (of the plan's kind, or all for kAny).
  std::int64_t calls() const { return calls_; }
  // Whether call `fail_at` was reached (and failed).
  bool reached() const { return reached_; }
  // The kind and name of the call that failed ("" before it happened).
  CallKind failed_kind() const { return failed_kind_; }
  const std::string& failed_name() const { return failed_name_; }

  int OpenFile(std::string_view name, platform::Access access, platform::Sharing sharing,
               platform::FileHandle* file) override;
  int CreateFile(std::string_view name, platform::Sharing sharing, platform::FileHandle* file) override;
  int CreateNewFile(std::string_view name, platform::FileHandle* file) override;
  int ReadFile(platform::FileHandle file, void* buf, std::size_t count, std::size_t* done) override;
  int WriteFile(platform::FileHandle file, const void* buf, std::size_t count, std::size_t* done) override;
  int SeekFile(platform::FileHandle file, std::int64_t pos) override;
  int SeekFileEnd(platform::FileHandle file) override;
  int TellFile(platform::FileHandle file, std::int64_t* pos) override;
  int FileSize(platform::FileHandle file, std::int64_t* size) override;
  int TruncateFile(platform::FileHandle file) override;
  int FlushFile(platform::FileHandle file) override;
  int SyncFiles(const platform::FileHandle* files, std::size_t count) override;
  int ReadFileAt(platform::FileHandle file, std::int64_t offset, void* buf, std::size_t count,
                 std::size_t* done) override;
  int WriteFileAt(platform::FileHandle file, std::int64_t offset, const void* buf, std::size_t count,
                  std::size_t* done) override;
  int CloseFile(platform::FileHandle file) override;
  int DeleteFile(std::string_view name) override;
  int OpenAppend(std::string_view name, platform::FileHandle* file) override;
  int RenameNoReplace(std::string_view from, std::string_view to) override;
  int SyncDirectory(std::string_view dir) override;
  int LockRun(std::string_view name, int wait_ms, platform::FileHandle* lock) override;
  int QueryAttributes(std::string_view name, std::uint32_t* attr) override;
  int FindFirst(std::string_view pattern, std::uint32_t attr_mask, platform::SearchHandle* search,
                platform::DirEntry* entry) override;
  int FindNext(platform::SearchHandle search, platform::DirEntry* entry) override;
  int MakeDirectory(std::string_view name) override;

 private:
  // Numbers the call; true when it is to fail.
  bool Fails(CallKind kind, std::string_view name);
  bool Fails(CallKind kind, platform::FileHandle file);
  // Remembers the name of a file just opened, for fault notes.
  int Opened(int rc, std::string_view name, platform::FileHandle* file);

  FaultPlan plan_;
  std::int64_t calls_ = 0;
  bool reached_ = false;
  CallKind failed_kind_ = CallKind::kAny;
  std::string failed_name_;
  std::map<platform::FileHandle, std::string> open_names_;
};

}  // namespace lw::test
