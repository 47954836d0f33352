// A Platform that passes every call to another one.  Tests derive from it
// and override single calls to inject faults.
#pragma once

#include "platform/platform.h"

namespace lw::platform {

class PlatformWrapper : public Platform {
 public:
  explicit PlatformWrapper(Platform& target) : target_(target) {}

  void ConsoleWrite(std::string_view text) override { target_.ConsoleWrite(text); }
  void ConsoleWriteKeepCursor(std::string_view text) override { target_.ConsoleWriteKeepCursor(text); }
  void ConsoleFlush() override { target_.ConsoleFlush(); }
  void ConsoleSetColor(int color) override { target_.ConsoleSetColor(color); }
  void ConsoleResetColor() override { target_.ConsoleResetColor(); }
  void ErrorWrite(std::string_view text) override { target_.ErrorWrite(text); }
  bool GetEnv(std::string_view name, std::string* value) override { return target_.GetEnv(name, value); }
  std::string TerminalCharset() override { return target_.TerminalCharset(); }
  bool ConvertText(std::string_view text, std::string_view from, std::string_view to, std::string* out) override {
    return target_.ConvertText(text, from, to, out);
  }
  Result OpenFile(std::string_view name, Access access, Sharing sharing, FileHandle* file) override {
    return target_.OpenFile(name, access, sharing, file);
  }
  Result CreateFile(std::string_view name, Sharing sharing, FileHandle* file) override {
    return target_.CreateFile(name, sharing, file);
  }
  Result CreateNewFile(std::string_view name, FileHandle* file) override { return target_.CreateNewFile(name, file); }
  Result ReadFile(FileHandle file, void* buf, std::size_t count, std::size_t* done) override {
    return target_.ReadFile(file, buf, count, done);
  }
  Result WriteFile(FileHandle file, const void* buf, std::size_t count, std::size_t* done) override {
    return target_.WriteFile(file, buf, count, done);
  }
  Result SeekFile(FileHandle file, std::int64_t pos) override { return target_.SeekFile(file, pos); }
  Result SeekFileEnd(FileHandle file) override { return target_.SeekFileEnd(file); }
  Result TellFile(FileHandle file, std::int64_t* pos) override { return target_.TellFile(file, pos); }
  Result FileSize(FileHandle file, std::int64_t* size) override { return target_.FileSize(file, size); }
  Result TruncateFile(FileHandle file) override { return target_.TruncateFile(file); }
  Result FlushFile(FileHandle file) override { return target_.FlushFile(file); }
  Result SyncFiles(const FileHandle* files, std::size_t count) override { return target_.SyncFiles(files, count); }
  Result ReadFileAt(FileHandle file, std::int64_t offset, void* buf, std::size_t count, std::size_t* done) override {
    return target_.ReadFileAt(file, offset, buf, count, done);
  }
  Result WriteFileAt(FileHandle file, std::int64_t offset, const void* buf, std::size_t count,
                     std::size_t* done) override {
    return target_.WriteFileAt(file, offset, buf, count, done);
  }
  Result CloseFile(FileHandle file) override { return target_.CloseFile(file); }
  Result DeleteFile(std::string_view name) override { return target_.DeleteFile(name); }
  Result OpenAppend(std::string_view name, FileHandle* file) override { return target_.OpenAppend(name, file); }
  Result RenameNoReplace(std::string_view from, std::string_view to) override {
    return target_.RenameNoReplace(from, to);
  }
  Result ReplaceFile(std::string_view from, std::string_view to) override { return target_.ReplaceFile(from, to); }
  Result SyncDirectory(std::string_view dir) override { return target_.SyncDirectory(dir); }
  Result LockRun(std::string_view name, int wait_ms, FileHandle* lock) override {
    return target_.LockRun(name, wait_ms, lock);
  }
  Result QueryAttributes(std::string_view name, std::uint32_t* attr) override {
    return target_.QueryAttributes(name, attr);
  }
  Result FindFirst(std::string_view pattern, std::uint32_t attr_mask, SearchHandle* search, DirEntry* entry) override {
    return target_.FindFirst(pattern, attr_mask, search, entry);
  }
  Result FindNext(SearchHandle search, DirEntry* entry) override { return target_.FindNext(search, entry); }
  void FindClose(SearchHandle search) override { target_.FindClose(search); }
  Result MakeDirectory(std::string_view name) override { return target_.MakeDirectory(name); }
  std::string FullPath(std::string_view name) override { return target_.FullPath(name); }
  MsgDateTime Now() override { return target_.Now(); }
  void Yield() override { target_.Yield(); }
  std::chrono::steady_clock::time_point SteadyNow() override { return target_.SteadyNow(); }

 protected:
  Platform& target_;
};

}  // namespace lw::platform
