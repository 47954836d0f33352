// A platform that hands positioned reads and writes on as a seek followed
// by a plain read or write, and a many-file sync as one FlushFile per file,
// so that a test platform which watches only the plain calls (the JAM
// fault platform) still sees, counts and can fail every transfer and sync
// the base makes.  Everything else passes through unchanged.
#pragma once

#include "platform/platform_wrapper.h"

namespace lw::test {

class SeekingPlatform : public platform::PlatformWrapper {
 public:
  explicit SeekingPlatform(platform::Platform& target) : PlatformWrapper(target) {}

  platform::Result ReadFileAt(platform::FileHandle file, std::int64_t offset, void* buf, std::size_t count,
                              std::size_t* done) override {
    *done = 0;
    const platform::Result rc = target_.SeekFile(file, offset);
    return rc != platform::kOk ? rc : target_.ReadFile(file, buf, count, done);
  }
  platform::Result WriteFileAt(platform::FileHandle file, std::int64_t offset, const void* buf, std::size_t count,
                               std::size_t* done) override {
    *done = 0;
    const platform::Result rc = target_.SeekFile(file, offset);
    return rc != platform::kOk ? rc : target_.WriteFile(file, buf, count, done);
  }
  platform::Result SyncFiles(const platform::FileHandle* files, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      if (const platform::Result rc = target_.FlushFile(files[i]); rc != platform::kOk) return rc;
    }
    return platform::kOk;
  }
};

// Installs `target` behind a SeekingPlatform for the guard's lifetime.
class ScopedSeekingPlatform {
 public:
  explicit ScopedSeekingPlatform(platform::Platform* target) : seeking_(*target), use_(&seeking_) {}

 private:
  SeekingPlatform seeking_;
  platform::ScopedPlatform use_;
};

}  // namespace lw::test
