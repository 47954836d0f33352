// A Platform that reads through another one and refuses every change to
// the file system, for a dry run: whatever the code above it tries, no
// file or folder is created, written, cut, renamed or deleted.
#pragma once

#include "platform/platform_wrapper.h"

namespace lw::platform {

class ReadOnlyPlatform final : public PlatformWrapper {
 public:
  explicit ReadOnlyPlatform(Platform& target) : PlatformWrapper(target) {}

  // A file opened for writing is opened for reading only: reads work, a
  // write through it fails.  The sharing asked for is kept.
  int OpenFile(std::string_view name, Access, Sharing sharing, FileHandle* file) override {
    return target_.OpenFile(name, Access::kRead, sharing, file);
  }
  int CreateFile(std::string_view, Sharing, FileHandle* file) override { return Refuse(file); }
  int CreateNewFile(std::string_view, FileHandle* file) override { return Refuse(file); }
  int OpenAppend(std::string_view, FileHandle* file) override { return Refuse(file); }
  int WriteFile(FileHandle, const void*, std::size_t, std::size_t* done) override {
    *done = 0;
    return kAccessDenied;
  }
  int WriteFileAt(FileHandle, std::int64_t, const void*, std::size_t, std::size_t* done) override {
    *done = 0;
    return kAccessDenied;
  }
  int TruncateFile(FileHandle) override { return kAccessDenied; }
  // Nothing was written, so there is nothing to sync.
  int FlushFile(FileHandle) override { return kOk; }
  int SyncFiles(const FileHandle*, std::size_t) override { return kOk; }
  int SyncDirectory(std::string_view) override { return kOk; }
  int DeleteFile(std::string_view) override { return kAccessDenied; }
  int RenameNoReplace(std::string_view, std::string_view) override { return kAccessDenied; }
  int ReplaceFile(std::string_view, std::string_view) override { return kAccessDenied; }
  int MakeDirectory(std::string_view) override { return kAccessDenied; }

 private:
  static int Refuse(FileHandle* file) {
    *file = kNoFile;
    return kAccessDenied;
  }
};

}  // namespace lw::platform
