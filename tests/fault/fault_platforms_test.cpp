// The two fault platforms on their own: which call the counting platform
// fails, and what the power-cut platform leaves on the disk.
#include <gtest/gtest.h>

#include "fault/counting_platform.h"
#include "fault/crash_platform.h"
#include "test_util.h"

namespace lw::test {
namespace {

using platform::FileHandle;

// Creates `name`, writes `text` and closes it; the first failing result.
int WriteNewFile(platform::Platform& os, const std::string& name, const std::string& text) {
  FileHandle f = platform::kNoFile;
  if (int rc = os.CreateFile(name, platform::Sharing::kDenyNone, &f); rc != platform::kOk) return rc;
  std::size_t done = 0;
  int rc = os.WriteFile(f, text.data(), text.size(), &done);
  const int close_rc = os.CloseFile(f);
  return rc != platform::kOk ? rc : close_rc;
}

TEST(FaultCountingPlatform, FailsTheNumberedCallOfItsKindOnceOrForGood) {
  struct Case {
    CallKind kind;
    std::int64_t fail_at;
    bool persistent;
    int expected[3];  // results of three create-write-close sequences
  } cases[] = {
      {CallKind::kAny, 1, false, {platform::kAccessDenied, platform::kOk, platform::kOk}},
      {CallKind::kAny, 2, false, {platform::kDiskWriteError, platform::kOk, platform::kOk}},
      {CallKind::kAny, 3, false, {platform::kDiskWriteError, platform::kOk, platform::kOk}},
      {CallKind::kWrite, 2, false, {platform::kOk, platform::kDiskWriteError, platform::kOk}},
      {CallKind::kWrite, 2, true, {platform::kOk, platform::kDiskWriteError, platform::kDiskWriteError}},
      {CallKind::kClose, 3, false, {platform::kOk, platform::kOk, platform::kDiskWriteError}},
      {CallKind::kRead, 1, false, {platform::kOk, platform::kOk, platform::kOk}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    FaultPlan plan;
    plan.fail_at = c.fail_at;
    plan.kind = c.kind;
    plan.persistent = c.persistent;
    CallKind seen = CallKind::kAny;
    plan.on_reached = [&seen](CallKind kind, std::string_view) { seen = kind; };
    CountingPlatform counting(platform::NativePlatform(), plan);
    for (int i = 0; i < 3; ++i) {
      std::string name = "f";
      name += std::to_string(i);
      EXPECT_EQ(WriteNewFile(counting, dir / name, "text"), c.expected[i])
          << CallKindName(c.kind) << " " << c.fail_at << " sequence " << i;
    }
    EXPECT_EQ(counting.reached(), c.kind != CallKind::kRead) << CallKindName(c.kind);
    if (counting.reached()) {
      EXPECT_EQ(seen, counting.failed_kind());
    }
  }
}

TEST(FaultCrashPlatform, APowerCutKeepsOnlyWhatWasFlushedAndSynced) {
  TempDir dir;
  WriteFile(dir / "old", "old text");
  WriteFile(dir / "gone", "deleted but not synced");
  CrashPlatform crash(platform::NativePlatform(), dir.path(), 0, false);
  platform::Platform& os = crash;
  FileHandle f = platform::kNoFile;
  std::size_t done = 0;
  // Unflushed writes to an old file are lost.
  ASSERT_EQ(os.OpenFile(dir / "old", platform::Access::kReadWrite, platform::Sharing::kDenyNone, &f), platform::kOk);
  ASSERT_EQ(os.WriteFile(f, "NEW", 3, &done), platform::kOk);
  ASSERT_EQ(os.CloseFile(f), platform::kOk);
  // A new file flushed in a synced folder stays as flushed.
  ASSERT_EQ(os.CreateFile(dir / "kept", platform::Sharing::kDenyNone, &f), platform::kOk);
  ASSERT_EQ(os.WriteFile(f, "flushed", 7, &done), platform::kOk);
  ASSERT_EQ(os.FlushFile(f), platform::kOk);
  ASSERT_EQ(os.WriteFile(f, " and more", 9, &done), platform::kOk);
  ASSERT_EQ(os.CloseFile(f), platform::kOk);
  ASSERT_EQ(os.SyncDirectory(dir.path()), platform::kOk);
  // After the sync: a file renamed, one deleted, one created and flushed,
  // a folder made; none of it synced.
  ASSERT_EQ(os.RenameNoReplace(dir / "kept", dir / "renamed"), platform::kOk);
  ASSERT_EQ(os.DeleteFile(dir / "gone"), platform::kOk);
  ASSERT_EQ(WriteNewFile(os, dir / "unsynced", "x"), platform::kOk);
  ASSERT_EQ(os.MakeDirectory(dir / "sub"), platform::kOk);
  crash.Revert();
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"gone", "kept", "old"}));
  EXPECT_EQ(ReadFile(dir / "old"), "old text");
  EXPECT_EQ(ReadFile(dir / "kept"), "flushed");
  EXPECT_EQ(ReadFile(dir / "gone"), "deleted but not synced");
}

TEST(FaultCrashPlatform, CallsFromTheCrashPointOnFailAndTouchNothing) {
  TempDir dir;
  CrashPlatform crash(platform::NativePlatform(), dir.path(), 3, true);
  EXPECT_EQ(WriteNewFile(crash, dir / "a", "text"), platform::kDiskWriteError);  // the close is call 3
  EXPECT_TRUE(crash.crashed());
  EXPECT_NE(WriteNewFile(crash, dir / "b", "text"), platform::kOk);
  EXPECT_NE(crash.MakeDirectory(dir / "sub"), platform::kOk);
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{}) << "the unsynced new file went with the crash";
}

TEST(FaultCrashPlatform, EachKindOfPowerCutLeavesItsPartOfTheUnsynced) {
  const std::string old_text(1024, 'o');
  const std::string early = "zz";    // written first, at 2000: past the old end
  const std::string late(700, 'a');  // written last, at 100: spans the sector boundary at 512
  const std::string grown = std::string(976, '\0') + early;
  struct Case {
    PowerCut cut;
    bool emptied;                      // the file is cut to nothing between the two writes
    std::string content;               // of "old" after the cut
    std::vector<std::string> entries;  // of the folder after the cut
  } cases[] = {
      {PowerCut::kSyncedOnly, false, old_text, {"old"}},
      {PowerCut::kTorn, false, old_text.substr(0, 100) + late.substr(0, 412) + old_text.substr(512) + grown, {"old"}},
      {PowerCut::kLastWriteOnly, false, old_text.substr(0, 100) + late + old_text.substr(800), {"old"}},
      {PowerCut::kEntriesFirst, false, old_text, {"new", "old"}},
      // The last write ends within the sector it starts in: it is lost,
      // the truncation before it is not.
      {PowerCut::kTorn, true, "", {"old"}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    TempDir dir;
    WriteFile(dir / "old", old_text);
    CrashPlatform crash(platform::NativePlatform(), dir.path(), 0, false, {}, c.cut);
    platform::Platform& os = crash;
    FileHandle f = platform::kNoFile;
    std::size_t done = 0;
    ASSERT_EQ(os.OpenFile(dir / "old", platform::Access::kReadWrite, platform::Sharing::kDenyNone, &f), platform::kOk);
    if (c.emptied) {
      ASSERT_EQ(os.WriteFileAt(f, 100, late.data(), late.size(), &done), platform::kOk);
      ASSERT_EQ(os.SeekFile(f, 0), platform::kOk);
      ASSERT_EQ(os.TruncateFile(f), platform::kOk);
      ASSERT_EQ(os.WriteFileAt(f, 10, early.data(), early.size(), &done), platform::kOk);
    } else {
      ASSERT_EQ(os.WriteFileAt(f, 2000, early.data(), early.size(), &done), platform::kOk);
      ASSERT_EQ(os.WriteFileAt(f, 100, late.data(), late.size(), &done), platform::kOk);
    }
    ASSERT_EQ(os.CloseFile(f), platform::kOk);
    ASSERT_EQ(WriteNewFile(os, dir / "new", "never flushed"), platform::kOk);
    crash.Revert();
    EXPECT_EQ(ReadFile(dir / "old"), c.content) << "case " << i;
    EXPECT_EQ(ListDir(dir.path()), c.entries) << "case " << i;
    if (c.entries.size() == 2) {
      EXPECT_EQ(ReadFile(dir / "new"), "") << "case " << i << ": a name durable before its data";
    }
  }
}

}  // namespace
}  // namespace lw::test
