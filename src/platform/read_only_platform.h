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
  Result OpenFile(std::string_view name, Access, Sharing sharing, FileHandle* file) override {
    return target_.OpenFile(name, Access::kRead, sharing, file);
  }
  Result CreateFile(std::string_view, Sharing, FileHandle* file) override { return Refuse(file); }
  Result CreateNewFile(std::string_view, FileHandle* file) override { return Refuse(file); }
  Result OpenAppend(std::string_view, FileHandle* file) override { return Refuse(file); }
  Result WriteFile(FileHandle, const void*, std::size_t, std::size_t* done) override {
    *done = 0;
    return kAccessDenied;
  }
  Result WriteFileAt(FileHandle, std::int64_t, const void*, std::size_t, std::size_t* done) override {
    *done = 0;
    return kAccessDenied;
  }
  Result TruncateFile(FileHandle) override { return kAccessDenied; }
  // Nothing was written, so there is nothing to sync.
  Result FlushFile(FileHandle) override { return kOk; }
  Result SyncFiles(const FileHandle*, std::size_t) override { return kOk; }
  Result SyncDirectory(std::string_view) override { return kOk; }
  Result DeleteFile(std::string_view) override { return kAccessDenied; }
  Result RenameNoReplace(std::string_view, std::string_view) override { return kAccessDenied; }
  Result ReplaceFile(std::string_view, std::string_view) override { return kAccessDenied; }
  Result MakeDirectory(std::string_view) override { return kAccessDenied; }

 private:
  static int Refuse(FileHandle* file) {
    *file = kNoFile;
    return kAccessDenied;
  }
};

}  // namespace lw::platform
