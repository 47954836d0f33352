// Batched stores and deletions in *.MSG areas, and the real names the
// area reaches its files by.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fault/crash_platform.h"
#include "msgbase/fido/fido_msg_base.h"
#include "msgbase/fido/msg_fault_platform.h"
#include "msgbase/fido/msg_file.h"
#include "msgbase/fido/msg_layout.h"
#include "platform/platform_wrapper.h"
#include "test_util.h"

namespace lw {
namespace {

std::string Body(int i) {
  return "\001MSGID: 2:5020/1 " + std::to_string(1000 + i) + "\rmessage " + std::to_string(i) + "\r";
}

// Appends message `i` with fixed dates, so that two runs write the same
// bytes; false when any step failed.
bool Append(FidoMsgBase& base, int i) {
  if (!base.CreateMsg()) return false;
  MsgDateTime dt;
  dt.Year = 2024;
  dt.Month = 5;
  dt.Day = 6;
  dt.Hour = 7;
  dt.Min = 8;
  dt.Sec = i % 60;
  base.SetDateWritten(dt);
  base.SetDateArrived(dt);
  base.SetFrom("Sender " + std::to_string(i));
  base.SetTo("Sysop");
  base.SetSubj("Subject " + std::to_string(i));
  const std::string text = Body(i);
  base.GetTextStream()->Write(text.data(), static_cast<std::int32_t>(text.size()));
  const bool stored = base.WriteMsg();
  base.CloseMsg();
  return stored;
}

// Counts the calls that reach stable storage, and notes every file that
// is given a new name while some of what was written to it is unsynced.
class SyncWatch : public platform::PlatformWrapper {
 public:
  explicit SyncWatch(platform::Platform& target) : PlatformWrapper(target) {}
  platform::Result CreateFile(std::string_view n, platform::Sharing s, platform::FileHandle* f) override {
    const int rc = target_.CreateFile(n, s, f);
    if (rc == platform::kOk) names_[*f] = std::string(n);
    return rc;
  }
  platform::Result WriteFile(platform::FileHandle f, const void* b, std::size_t n, std::size_t* done) override {
    unsynced_.insert(f);
    return target_.WriteFile(f, b, n, done);
  }
  platform::Result FlushFile(platform::FileHandle f) override {
    ++flushes;
    const int rc = target_.FlushFile(f);
    if (rc == platform::kOk) unsynced_.erase(f);
    return rc;
  }
  platform::Result SyncFiles(const platform::FileHandle* files, std::size_t count) override {
    ++sync_files;
    largest_sync = std::max(largest_sync, count);
    const int rc = target_.SyncFiles(files, count);
    for (std::size_t i = 0; i < count && rc == platform::kOk; ++i) unsynced_.erase(files[i]);
    return rc;
  }
  platform::Result CloseFile(platform::FileHandle f) override {
    names_.erase(f);
    unsynced_.erase(f);
    return target_.CloseFile(f);
  }
  platform::Result RenameNoReplace(std::string_view from, std::string_view to) override {
    for (platform::FileHandle f : unsynced_) {
      if (names_[f] == from) named_unsynced.emplace_back(to);
    }
    return target_.RenameNoReplace(from, to);
  }
  platform::Result SyncDirectory(std::string_view dir) override {
    ++folder_syncs;
    return target_.SyncDirectory(dir);
  }
  int flushes = 0;
  int sync_files = 0;
  std::size_t largest_sync = 0;
  int folder_syncs = 0;
  std::vector<std::string> named_unsynced;

 private:
  std::map<platform::FileHandle, std::string> names_;
  std::set<platform::FileHandle> unsynced_;
};

class MsgBatch : public ::testing::Test {
 protected:
  void Seed(const std::string& area) {
    test::MakeDirs(area);
    test::WriteFile(area + "/1.msg", test::MsgFile{}.Bytes());
    test::WriteFile(area + "/2.MSG", test::MsgFile{}.Bytes());
  }
  std::map<std::string, std::string> Files(const std::string& area) {
    std::map<std::string, std::string> files;
    for (const std::string& name : test::ListDir(area)) files[name] = test::ReadFile(area + "/" + name);
    return files;
  }

  test::TempDir dir_;
};

// A batch of N stores leaves N messages under consecutive numbers, byte
// for byte as N single stores leave them, with one sync of the files and
// one of the folder per kMostPending messages; no file takes its message
// name before its bytes are synced.
TEST_F(MsgBatch, StoresAsSingleStoresDoWithFewerSyncs) {
  constexpr int kMost = static_cast<int>(FidoMsgBase::kMostPending);
  struct Case {
    int messages;
    int sync_files;  // calls of SyncFiles
    int flushes;     // single-file syncs
    int folder_syncs;
  } cases[] = {
      {1, 0, 1, 1},
      {5, 1, 0, 1},
      {kMost, 1, 0, 1},
      {kMost + 3, 2, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.messages);
    const std::string single = dir_ / ("single" + std::to_string(c.messages));
    const std::string batched = dir_ / ("batched" + std::to_string(c.messages));
    Seed(single);
    Seed(batched);
    SyncWatch single_watch(platform::NativePlatform());
    {
      platform::ScopedPlatform installed(&single_watch);
      FidoMsgBase base;
      ASSERT_TRUE(base.OpenMsgBase(single));
      for (int i = 0; i < c.messages; ++i) ASSERT_TRUE(Append(base, i));
    }
    EXPECT_EQ(single_watch.named_unsynced, std::vector<std::string>{});
    FidoMsgBase base;
    ASSERT_TRUE(base.OpenMsgBase(batched));
    SyncWatch counter(platform::NativePlatform());
    {
      platform::ScopedPlatform installed(&counter);
      base.BeginBatch();
      for (int i = 0; i < c.messages; ++i) {
        ASSERT_TRUE(Append(base, i));
        EXPECT_EQ(base.GetMsgNum(), 3 + i);
      }
      if (c.messages <= kMost) {
        EXPECT_EQ(test::ListDir(batched).size(), 2u + c.messages);  // the new ones only as temporary files
        EXPECT_FALSE(test::Exists(batched + "/3.msg"));
      }
      ASSERT_TRUE(base.CommitBatch());
    }
    EXPECT_EQ(counter.sync_files, c.sync_files);
    EXPECT_EQ(counter.flushes, c.flushes);
    EXPECT_EQ(counter.folder_syncs, c.folder_syncs);
    EXPECT_LE(counter.largest_sync, FidoMsgBase::kMostPending);
    EXPECT_EQ(counter.named_unsynced, std::vector<std::string>{});
    EXPECT_EQ(base.GetMsgCount(), 2 + c.messages);
    EXPECT_EQ(base.GetHighMsgNum(), 2 + c.messages);
    EXPECT_TRUE(Files(batched) == Files(single));
    EXPECT_TRUE(test::Exists(batched + "/" + std::to_string(2 + c.messages) + ".msg"));
  }
}

// Fails when the area names a file in another case than it has on disk:
// every name it opens, deletes or renames from must exist as written.
class ExactNames : public platform::PlatformWrapper {
 public:
  ExactNames() : PlatformWrapper(platform::NativePlatform()) {}
  platform::Result OpenFile(std::string_view n, platform::Access a, platform::Sharing s,
                            platform::FileHandle* f) override {
    Check(n);
    return target_.OpenFile(n, a, s, f);
  }
  platform::Result DeleteFile(std::string_view n) override {
    Check(n);
    return target_.DeleteFile(n);
  }
  platform::Result ReplaceFile(std::string_view from, std::string_view to) override {
    Check(from);
    Check(to);
    return target_.ReplaceFile(from, to);
  }
  platform::Result RenameNoReplace(std::string_view from, std::string_view to) override {
    Check(from);
    return target_.RenameNoReplace(from, to);
  }
  std::vector<std::string> misses;

 private:
  void Check(std::string_view name) {
    const std::filesystem::path path{std::string(name)};
    bool listed = false;
    for (const std::string& entry : test::ListDir(path.parent_path().string())) listed |= entry == path.filename();
    if (!listed) misses.emplace_back(name);
  }
};

TEST_F(MsgBatch, FilesAreReachedByTheirRealNames) {
  const std::string area = dir_ / "Net";
  test::MakeDirs(area);
  const std::map<std::int32_t, std::string> names = {{23, "23.MSG"}, {7, "7.msg"}, {12, "12.Msg"}, {30, "30.mSG"}};
  for (const auto& [n, name] : names) {
    test::MsgFile m;
    m.text = "in " + name + "\r";
    test::WriteFile(area + "/" + name, m.Bytes());
  }
  ExactNames exact;
  platform::ScopedPlatform installed(&exact);
  FidoMsgBase base;
  ASSERT_TRUE(base.OpenMsgBase(area));
  std::vector<std::int32_t> walk;
  for (base.SeekFirst(1); base.SeekFound(); base.SeekNext()) {
    walk.push_back(base.GetMsgNum());
    ASSERT_TRUE(base.OpenMsg());
    std::string text(static_cast<std::size_t>(base.GetTextStream()->GetSize()), '\0');
    base.GetTextStream()->Read(text.data(), static_cast<std::int32_t>(text.size()));
    EXPECT_EQ(text, "in " + names.at(base.GetMsgNum()) + "\r");
    if (base.GetMsgNum() == 12) {
      base.SetSubj("rewritten");
      EXPECT_TRUE(base.WriteMsg());
    }
    if (base.GetMsgNum() == 30) {
      base.SetSubj("header only");
      EXPECT_TRUE(base.WriteMsgHeader());
    }
    base.CloseMsg();
  }
  EXPECT_EQ(walk, (std::vector<std::int32_t>{7, 12, 23, 30}));
  base.BeginBatch();
  for (std::int32_t n : {7, 23}) {
    base.SeekFirst(n);
    EXPECT_TRUE(base.DeleteMsg()) << n;
  }
  EXPECT_TRUE(base.CommitBatch());
  EXPECT_TRUE(base.CloseMsgBase());
  EXPECT_EQ(exact.misses, std::vector<std::string>{});
  EXPECT_EQ(test::ListDir(area), (std::vector<std::string>{"12.Msg", "30.mSG"}));
  EXPECT_EQ(test::ReadFile(area + "/12.Msg").substr(fido::kSubjectOffset, 9), "rewritten");
  EXPECT_EQ(test::ReadFile(area + "/30.mSG").substr(fido::kSubjectOffset, 11), "header only");
}

// A power cut after CommitBatch keeps the batch's deletions; one before it
// may undo them, since nothing but the commit syncs the folder.
TEST_F(MsgBatch, DeletionsAreDurableOnceCommitted) {
  for (bool commit : {true, false}) {
    SCOPED_TRACE(commit);
    const std::string area = dir_ / (commit ? "committed" : "cut");
    test::MakeDirs(area);
    for (int n = 1; n <= 3; ++n) test::WriteFile(area + "/" + std::to_string(n) + ".msg", test::MsgFile{}.Bytes());
    test::CrashPlatform disk(platform::NativePlatform(), area, 0, false);
    SyncWatch counter(disk);
    {
      platform::ScopedPlatform installed(&disk);
      FidoMsgBase base;
      ASSERT_TRUE(base.OpenMsgBase(area));
      base.BeginBatch();
      for (std::int32_t n : {1, 3}) {
        base.SeekFirst(n);
        ASSERT_TRUE(base.DeleteMsg());
      }
      EXPECT_EQ(test::ListDir(area), std::vector<std::string>{"2.msg"});
      if (commit) {
        platform::ScopedPlatform counting(&counter);
        ASSERT_TRUE(base.CommitBatch());
      }
      disk.Revert();  // the power goes
    }
    EXPECT_EQ(counter.folder_syncs, commit ? 1 : 0);
    const std::vector<std::string> left =
        commit ? std::vector<std::string>{"2.msg"} : std::vector<std::string>{"1.msg", "2.msg", "3.msg"};
    EXPECT_EQ(test::ListDir(area), left);
  }
}

// Fails the first call of one kind that puts a batch in place.
class FailingCommitStep : public platform::PlatformWrapper {
 public:
  enum Step { kSyncFiles, kRename, kClose, kSyncFolder };
  explicit FailingCommitStep(Step step) : PlatformWrapper(platform::NativePlatform()), step_(step) {}
  platform::Result SyncFiles(const platform::FileHandle* files, std::size_t count) override {
    return Fails(kSyncFiles) ? platform::kDiskWriteError : target_.SyncFiles(files, count);
  }
  platform::Result RenameNoReplace(std::string_view from, std::string_view to) override {
    // The second rename fails, after the first message took its name.
    if (step_ == kRename && ++renames_ == 2) return Fails(kRename) ? platform::kDiskWriteError : platform::kOk;
    return target_.RenameNoReplace(from, to);
  }
  platform::Result CloseFile(platform::FileHandle f) override {
    const int rc = target_.CloseFile(f);
    return Fails(kClose) ? platform::kDiskWriteError : rc;
  }
  platform::Result SyncDirectory(std::string_view dir) override {
    return Fails(kSyncFolder) ? platform::kDiskWriteError : target_.SyncDirectory(dir);
  }
  bool failed = false;

 private:
  bool Fails(Step step) {
    if (step != step_ || failed) return false;
    failed = true;
    return true;
  }
  Step step_;
  int renames_ = 0;
};

// A commit that fails at any step reports it and takes every new message
// of the batch back: the area holds what it held before.  A failed early
// commit fails the store that needed it, and the batch's CommitBatch.
TEST_F(MsgBatch, FailedCommitTakesTheBatchBack) {
  constexpr int kMost = static_cast<int>(FidoMsgBase::kMostPending);
  struct Case {
    FailingCommitStep::Step step;
    int messages;
  } cases[] = {
      {FailingCommitStep::kSyncFiles, 3},
      {FailingCommitStep::kRename, 3},
      {FailingCommitStep::kClose, 3},
      {FailingCommitStep::kSyncFolder, 3},
      {FailingCommitStep::kSyncFiles, kMost + 2},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("step " + std::to_string(c.step) + ", " + std::to_string(c.messages) + " messages");
    const std::string area = dir_ / ("area" + std::to_string(row++));
    Seed(area);
    const std::map<std::string, std::string> before = Files(area);
    FidoMsgBase base;
    ASSERT_TRUE(base.OpenMsgBase(area));
    FailingCommitStep failing(c.step);
    int stored = 0;
    bool committed;
    {
      platform::ScopedPlatform installed(&failing);
      base.BeginBatch();
      for (int i = 0; i < c.messages; ++i) stored += Append(base, i) ? 1 : 0;
      committed = base.CommitBatch();
    }
    EXPECT_TRUE(failing.failed);
    EXPECT_FALSE(committed);
    if (c.messages > kMost) {
      EXPECT_EQ(stored, c.messages - 1);     // the store that needed the early commit failed
      EXPECT_EQ(base.GetMsgCount(), 2 + 1);  // the one after it was committed on its own
    } else {
      EXPECT_EQ(stored, c.messages);
      EXPECT_TRUE(Files(area) == before);
      EXPECT_EQ(base.GetMsgCount(), 2);
    }
    EXPECT_TRUE(base.CommitBatch());  // the batch ended with the failed commit
  }
}

// What a batched run did: which of its steps reported success.
struct BatchRun {
  int stored = 0;
  bool deleted = false;
  bool committed = false;
};

constexpr int kNewMessages = 3;

// Appends kNewMessages and deletes message 2 in one batch.
BatchRun AppendThreeDeleteOne(const std::string& area) {
  BatchRun run;
  FidoMsgBase base;
  if (!base.OpenMsgBase(area)) return run;
  base.BeginBatch();
  for (int i = 0; i < kNewMessages; ++i) run.stored += Append(base, i) ? 1 : 0;
  base.SeekFirst(2);
  run.deleted = base.GetMsgNum() == 2 && base.DeleteMsg();
  run.committed = base.CommitBatch();
  base.CloseMsgBase();
  return run;
}

// The platform a faulted run goes through, and how the disk is left.
struct FaultPoint {
  std::unique_ptr<platform::Platform> platform;
  std::function<bool()> reached;
  std::function<void()> aftermath;  // the power cut, when there is one
};

class MsgBatchFaults : public ::testing::TestWithParam<bool> {
 protected:
  bool Crash() const { return GetParam(); }

  FaultPoint At(int n) {
    FaultPoint point;
    if (Crash()) {
      auto crash = std::make_unique<test::CrashPlatform>(platform::NativePlatform(), area_, n, false);
      test::CrashPlatform* p = crash.get();
      point.reached = [p] { return p->crashed(); };
      point.aftermath = [p] { p->Revert(); };
      point.platform = std::move(crash);
    } else {
      auto faults = std::make_unique<test::CountedFaults>(test::CountedFaults::Mode::kFailOne, n, area_);
      test::CountedFaults* p = faults.get();
      point.reached = [p] { return p->Reached(); };
      point.aftermath = [] {};
      point.platform = std::move(faults);
    }
    return point;
  }

  void Seed() {
    std::filesystem::remove_all(area_);
    test::MakeDirs(area_);
    for (int n = 1; n <= 3; ++n) {
      test::MsgFile m;
      m.text = "old " + std::to_string(n) + "\r";
      test::WriteFile(area_ + "/" + std::to_string(n) + ".msg", m.Bytes());
    }
  }

  // Every numbered file a whole message; the old ones kept (2 unless it
  // was deleted); the new ones whole, each at most once, and all there
  // when the run said they were durable (after a power cut: all or none).
  void Check(int n, const BatchRun& run) {
    SCOPED_TRACE("fault at call " + std::to_string(n));
    std::set<std::string> expected_new;
    for (int i = 0; i < kNewMessages; ++i) expected_new.insert(Body(i));
    std::map<std::string, int> seen;
    FidoMsgBase base;
    ASSERT_TRUE(base.OpenMsgBase(area_));
    for (const std::string& name : test::ListDir(area_)) {
      if (name.find("lwtemp") == 0) continue;
      const std::int32_t num = std::stoi(name);
      base.SeekFirst(num);
      ASSERT_TRUE(base.OpenMsg()) << name;
      std::string text(static_cast<std::size_t>(base.GetTextStream()->GetSize()), '\0');
      base.GetTextStream()->Read(text.data(), static_cast<std::int32_t>(text.size()));
      EXPECT_EQ(test::FileSizeOf(area_ + "/" + name), fido::kHeaderSize + static_cast<std::int64_t>(text.size()) + 1)
          << name;
      if (num <= 3) {
        EXPECT_EQ(text, "old " + std::to_string(num) + "\r") << name;
      } else {
        EXPECT_EQ(expected_new.count(text), 1u) << name << " is no message that was written";
        ++seen[text];
      }
      base.CloseMsg();
    }
    EXPECT_TRUE(base.MsgExists(1));
    EXPECT_TRUE(base.MsgExists(3));
    if (run.committed && run.deleted) {
      EXPECT_FALSE(base.MsgExists(2));
    }
    for (const auto& [text, count] : seen) EXPECT_EQ(count, 1) << text;
    const int found = static_cast<int>(seen.size());
    if (run.committed) {
      EXPECT_GE(found, run.stored);
    }
    if (Crash()) {
      EXPECT_TRUE(found == 0 || found == kNewMessages) << found << " new messages";
    }
    // The next store removes what the cut-off batch left.
    ASSERT_TRUE(Append(base, 99));
    for (const std::string& name : test::ListDir(area_)) EXPECT_EQ(name.find("lwtemp"), std::string::npos) << name;
  }

  test::TempDir dir_;
  std::string area_ = dir_ / "Net";
};

TEST_P(MsgBatchFaults, EveryCallOfABatch) {
  int n = 1;
  for (; n < 2000; ++n) {
    Seed();
    FaultPoint point = At(n);
    BatchRun run;
    {
      platform::ScopedPlatform installed(point.platform.get());
      run = AppendThreeDeleteOne(area_);
    }
    const bool reached = point.reached();
    if (reached) point.aftermath();
    Check(n, run);
    if (HasFatalFailure()) return;
    if (!reached) {
      EXPECT_TRUE(run.committed && run.deleted && run.stored == kNewMessages);
      break;
    }
  }
  EXPECT_GT(n, 15);  // the run did reach the disk
}

INSTANTIATE_TEST_SUITE_P(Msg, MsgBatchFaults, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "Crash" : "FailOne"); });

}  // namespace
}  // namespace lw
