// The pool of open destinations: one open base per area, given back after
// its hold so that another program can lock it.
#include "app/scan/destination_pool.h"

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "test_util.h"

namespace lw {
namespace {

using test::AreaIdOf;

// Whether another opener gets the JAM base's header file for itself (a
// refused lock is retried for a while before the open gives up).
bool LockableByOthers(const std::string& path) {
  platform::FileHandle file = platform::kNoFile;
  const int rc =
      platform::Os().OpenFile(path + ".jhr", platform::Access::kReadWrite, platform::Sharing::kExclusive, &file);
  if (rc == platform::kOk) platform::Os().CloseFile(file);
  return rc == platform::kOk;
}

TEST(DestinationPool, KeepsABaseOpenUntilItsHoldEnds) {
  struct Case {
    const char* what;
    int seconds_later;
    int messages;
    bool all;
    bool still_open;
  };
  const Case kCases[] = {
      {"within the hold", 0, 3, false, true},
      {"the hold's time is up", 2, 0, false, false},
      {"the hold's messages are written", 0, 5, false, false},
      {"the area ends", 0, 0, true, false},
  };
  for (const Case& c : kCases) {
    test::TempDir dir;
    PoolClock::time_point now{};
    HoldLimits limits;
    limits.hold = std::chrono::seconds(1);
    limits.hold_messages = 5;
    DestinationPool pool(limits, [&now] { return now; });
    const std::string area = AreaIdOf('J', dir / "dest");
    MessageBase* base = nullptr;
    ASSERT_TRUE(pool.Use(area, base).ok()) << c.what;
    MessageBase* again = nullptr;
    ASSERT_TRUE(pool.Use(area, again).ok());
    EXPECT_EQ(again, base) << c.what << ": one open base per area";
    for (int i = 0; i < c.messages; ++i) pool.CountMessage(area);
    ASSERT_TRUE(pool.CommitAll().ok());
    now += std::chrono::seconds(c.seconds_later);
    ASSERT_TRUE(pool.Close(c.all).ok()) << c.what;
    EXPECT_EQ(pool.IsOpen(area), c.still_open) << c.what;
    EXPECT_EQ(LockableByOthers(dir / "dest"), !c.still_open) << c.what;
  }
}

TEST(DestinationPool, AnAreaThatCannotBeOpenedIsNamed) {
  test::TempDir dir;
  test::WriteFile(dir / "file", "a file where a folder should be");
  const std::string area = AreaIdOf('J', dir / "file/dest");
  DestinationPool pool;
  MessageBase* base = nullptr;
  const Status used = pool.Use(area, base);
  EXPECT_FALSE(used.ok());
  EXPECT_EQ(used.text(), "unable to open destination messagebase - " + area);
  EXPECT_FALSE(pool.IsOpen(area));
}

}  // namespace
}  // namespace lw
