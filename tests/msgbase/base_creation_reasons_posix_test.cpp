// A base that cannot be created says which file or folder failed and the
// system's reason (errno values injected as Linux reports them).
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "msgbase/area.h"
#include "platform/platform_wrapper.h"
#include "test_util.h"

namespace lw {
namespace {

enum class Step { kMakeDirectory, kCreateNewFile, kCreateFile, kRename, kSyncDirectory };

// Fails the first call of `step` whose name holds `name_part`.
class StepFails : public platform::PlatformWrapper {
 public:
  StepFails(Step step, std::string name_part, platform::Result failure)
      : PlatformWrapper(platform::NativePlatform()), step_(step), name_part_(std::move(name_part)), failure_(failure) {}
  platform::Result MakeDirectory(std::string_view name) override {
    return Hit(Step::kMakeDirectory, name) ? failure_ : PlatformWrapper::MakeDirectory(name);
  }
  platform::Result CreateNewFile(std::string_view name, platform::FileHandle* file) override {
    return Hit(Step::kCreateNewFile, name) ? failure_ : PlatformWrapper::CreateNewFile(name, file);
  }
  platform::Result CreateFile(std::string_view name, platform::Sharing sharing, platform::FileHandle* file) override {
    return Hit(Step::kCreateFile, name) ? failure_ : PlatformWrapper::CreateFile(name, sharing, file);
  }
  platform::Result RenameNoReplace(std::string_view from, std::string_view to) override {
    return Hit(Step::kRename, to) ? failure_ : PlatformWrapper::RenameNoReplace(from, to);
  }
  platform::Result SyncDirectory(std::string_view dir) override {
    return Hit(Step::kSyncDirectory, dir) ? failure_ : PlatformWrapper::SyncDirectory(dir);
  }

 private:
  bool Hit(Step step, std::string_view name) {
    if (done_ || step != step_ || name.find(name_part_) == std::string_view::npos) return false;
    done_ = true;
    return true;
  }
  Step step_;
  std::string name_part_;
  platform::Result failure_;
  bool done_ = false;
};

TEST(BaseCreation, AFailedCreationNamesTheFileOrFolderAndTheSystemsReason) {
  const platform::Result denied(platform::kAccessDenied, EACCES);
  const platform::Result full(platform::kDiskWriteError, ENOSPC);
  const platform::Result io(platform::kDiskWriteError, EIO);
  struct Case {
    const char* letter;
    Step step;
    const char* name_part;  // the call that fails names this
    platform::Result failure;
    const char* named;  // and the cause names this, with the reason
  } cases[] = {
      {"S", Step::kMakeDirectory, "/new", denied, "/new"},
      {"S", Step::kCreateNewFile, ".sqi", full, ".sqi"},
      {"S", Step::kCreateFile, ".sqd", full, ".sqd"},
      {"S", Step::kRename, ".sqd", io, "base.sqd"},
      {"S", Step::kSyncDirectory, "/new", io, "/new"},
      {"J", Step::kMakeDirectory, "/new", denied, "/new"},
      {"J", Step::kCreateNewFile, ".jdt", full, "base.jdt"},
      {"J", Step::kCreateFile, ".jhr", full, ".jhr"},
      {"J", Step::kRename, ".jhr", io, "base.jhr"},
      {"J", Step::kSyncDirectory, "/new", io, "/new"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.letter) + " " + c.name_part + " step " + std::to_string(static_cast<int>(c.step)));
    test::TempDir dir;
    StepFails os(c.step, c.name_part, c.failure);
    MsgBasePtr base;
    {
      platform::ScopedPlatform guard(&os);
      ASSERT_FALSE(OpenOrCreateArea(base, c.letter + (dir / "new/base")));
    }
    ASSERT_TRUE(base);
    const std::string cause = base->FailureCause();
    EXPECT_NE(cause.find(c.named), std::string::npos) << cause;
    const std::string reason = ": " + platform::ReasonText(c.failure);
    EXPECT_TRUE(cause.size() > reason.size() && cause.ends_with(reason)) << cause;
  }
}

}  // namespace
}  // namespace lw
