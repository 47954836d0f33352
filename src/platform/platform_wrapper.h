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
  std::string ErrorReason(int code) override { return target_.ErrorReason(code); }
  int OpenFile(std::string_view name, Access access, Sharing sharing, FileHandle* file) override {
    return target_.OpenFile(name, access, sharing, file);
  }
  int CreateFile(std::string_view name, Sharing sharing, FileHandle* file) override {
    return target_.CreateFile(name, sharing, file);
  }
  int CreateNewFile(std::string_view name, FileHandle* file) override { return target_.CreateNewFile(name, file); }
  int ReadFile(FileHandle file, void* buf, std::size_t count, std::size_t* done) override {
    return target_.ReadFile(file, buf, count, done);
  }
  int WriteFile(FileHandle file, const void* buf, std::size_t count, std::size_t* done) override {
    return target_.WriteFile(file, buf, count, done);
  }
  int SeekFile(FileHandle file, std::int64_t pos) override { return target_.SeekFile(file, pos); }
  int SeekFileEnd(FileHandle file) override { return target_.SeekFileEnd(file); }
  int TellFile(FileHandle file, std::int64_t* pos) override { return target_.TellFile(file, pos); }
  int FileSize(FileHandle file, std::int64_t* size) override { return target_.FileSize(file, size); }
  int TruncateFile(FileHandle file) override { return target_.TruncateFile(file); }
  int FlushFile(FileHandle file) override { return target_.FlushFile(file); }
  int SyncFiles(const FileHandle* files, std::size_t count) override { return target_.SyncFiles(files, count); }
  int ReadFileAt(FileHandle file, std::int64_t offset, void* buf, std::size_t count, std::size_t* done) override {
    return target_.ReadFileAt(file, offset, buf, count, done);
  }
  int WriteFileAt(FileHandle file, std::int64_t offset, const void* buf, std::size_t count,
                  std::size_t* done) override {
    return target_.WriteFileAt(file, offset, buf, count, done);
  }
  int CloseFile(FileHandle file) override { return target_.CloseFile(file); }
  int DeleteFile(std::string_view name) override { return target_.DeleteFile(name); }
  int OpenAppend(std::string_view name, FileHandle* file) override { return target_.OpenAppend(name, file); }
  int RenameNoReplace(std::string_view from, std::string_view to) override { return target_.RenameNoReplace(from, to); }
  int ReplaceFile(std::string_view from, std::string_view to) override { return target_.ReplaceFile(from, to); }
  int SyncDirectory(std::string_view dir) override { return target_.SyncDirectory(dir); }
  int LockRun(std::string_view name, int wait_ms, FileHandle* lock) override {
    return target_.LockRun(name, wait_ms, lock);
  }
  int QueryAttributes(std::string_view name, std::uint32_t* attr) override {
    return target_.QueryAttributes(name, attr);
  }
  int FindFirst(std::string_view pattern, std::uint32_t attr_mask, SearchHandle* search, DirEntry* entry) override {
    return target_.FindFirst(pattern, attr_mask, search, entry);
  }
  int FindNext(SearchHandle search, DirEntry* entry) override { return target_.FindNext(search, entry); }
  void FindClose(SearchHandle search) override { target_.FindClose(search); }
  int MakeDirectory(std::string_view name) override { return target_.MakeDirectory(name); }
  std::string FullPath(std::string_view name) override { return target_.FullPath(name); }
  MsgDateTime Now() override { return target_.Now(); }
  void Yield() override { target_.Yield(); }

 protected:
  Platform& target_;
};

}  // namespace lw::platform
