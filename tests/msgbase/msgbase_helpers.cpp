#include "msgbase/msgbase_helpers.h"

#include <gtest/gtest.h>

#include "platform/platform_wrapper.h"

namespace lw::test {

MsgNum AddMessage(MessageBase& base, const std::string& to, const std::string& text) {
  EXPECT_TRUE(base.CreateMsg());
  base.SetTo(std::string(to));
  base.SetFrom(std::string("Sender"));
  base.GetTextStream()->Write(text.data(), static_cast<std::int32_t>(text.size()));
  EXPECT_TRUE(base.WriteMsg());
  base.CloseMsg();
  return base.GetMsgNum();
}

std::string TextOf(MessageBase& base) {
  Stream* t = base.GetTextStream();
  return t == nullptr ? "" : ReadAllBytes(*t);
}

std::vector<std::int32_t> Walk(MessageBase& base) {
  std::vector<std::int32_t> ids;
  for (base.SeekFirst(1); base.SeekFound(); base.SeekNext()) ids.push_back(base.GetMsgNum());
  return ids;
}

namespace {

class HalfWritesOfSize : public platform::PlatformWrapper {
 public:
  explicit HalfWritesOfSize(std::size_t size) : PlatformWrapper(platform::NativePlatform()), size_(size) {}
  platform::Result WriteFile(platform::FileHandle f, const void* b, std::size_t n, std::size_t* done) override {
    if (n != size_) return target_.WriteFile(f, b, n, done);
    return target_.WriteFile(f, b, n / 2, done);
  }

 private:
  std::size_t size_;
};

}  // namespace

std::vector<std::int32_t> WalkDeletingAllBut(MessageBase& base, std::int32_t keep) {
  std::vector<std::int32_t> seen;
  for (base.SeekFirst(1); base.SeekFound(); base.SeekNext()) {
    EXPECT_TRUE(base.OpenMsg());
    base.CloseMsg();
    seen.push_back(base.GetMsgNum());
    if (base.GetMsgNum() != keep) {
      EXPECT_TRUE(base.DeleteMsg());
    }
  }
  return seen;
}

bool StoredWhileWritesOfSizeFail(MessageBase& base, std::size_t size) {
  EXPECT_TRUE(base.CreateMsg());
  base.GetTextStream()->Write("body\r", 5);
  HalfWritesOfSize failing(size);
  platform::ScopedPlatform guard(&failing);
  return base.WriteMsg();
}

}  // namespace lw::test
