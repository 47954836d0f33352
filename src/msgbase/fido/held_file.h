// A file handle of the platform with one owner, closed when the owner ends.
#pragma once

#include <utility>

#include "platform/platform.h"

namespace lw::fido {

class HeldFile {
 public:
  HeldFile() = default;
  explicit HeldFile(platform::FileHandle handle) : handle_(handle) {}
  HeldFile(HeldFile&& other) noexcept : handle_(std::exchange(other.handle_, platform::kNoFile)) {}
  HeldFile& operator=(HeldFile&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, platform::kNoFile);
    }
    return *this;
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  // A file still held here is closed without a word: every path that
  // needs the close to succeed calls Close itself.
  ~HeldFile() { Close(); }

  platform::FileHandle Handle() const { return handle_; }
  bool IsOpen() const { return handle_ != platform::kNoFile; }
  // Closes the file; false when the close failed (the handle is released
  // all the same).  True when nothing was held.
  bool Close() {
    if (handle_ == platform::kNoFile) return true;
    const int rc = platform::Os().CloseFile(std::exchange(handle_, platform::kNoFile));
    return rc == platform::kOk;
  }

 private:
  platform::FileHandle handle_ = platform::kNoFile;
};

}  // namespace lw::fido
