// Batched updates of a Squish base: a batch leaves the same bytes as the
// same updates one at a time, writes the index once per commit, and a crash
// at any call inside it loses nothing that was durable before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fault/base_checker.h"
#include "fault/counting_platform.h"
#include "fault/crash_platform.h"
#include "fidoutil/helpers.h"
#include "msgbase/squish/squish_layout.h"
#include "msgbase/squish/squish_msg_base.h"
#include "msgbase/squish/squish_test_support.h"
#include "test_util.h"

namespace lw {
namespace {

using test::AllTexts;

std::string Text(int n, std::size_t body = 20) {
  return "\001MSGID: 2:5020/9 " + std::to_string(n) + "\r" + std::to_string(n) + " " + std::string(body, 'x') + "\r";
}

// Stores a message with fixed dates, so that two runs write the same bytes.
bool Store(SquishMsgBase& b, const std::string& text) {
  if (!b.CreateMsg()) return false;
  const MsgDateTime when{12, 30, 0, 0, 10, 12, 2026};
  b.SetDateWritten(when);
  b.SetDateArrived(when);
  b.SetTo("Bob");
  b.SetFrom("Sender");
  b.GetTextStream()->Write(text.data(), static_cast<std::int32_t>(text.size()));
  const bool stored = b.WriteMsg();
  b.CloseMsg();
  return stored;
}

// Deletes message `msg_num` the way a move does: positioned by number.
bool Delete(SquishMsgBase& b, std::int32_t msg_num) {
  b.SeekFirst(msg_num);
  if (!b.SeekFound() || b.GetMsgNum() != msg_num || !b.OpenMsg()) return false;
  const bool deleted = b.DeleteMsg();
  b.CloseMsg();
  return deleted;
}

using Files = std::map<std::string, std::string>;

Files FilesOf(const std::string& base) {
  return {{".sqd", test::ReadFile(base + ".sqd")}, {".sqi", test::ReadFile(base + ".sqi")}};
}

void PutFiles(const std::string& base, const Files& files) {
  for (const auto& [ext, bytes] : files) test::WriteFile(base + ext, bytes);
}

using Holes = std::vector<std::int32_t>;

// A base of messages 1..`count` (text sizes grow with the number, so
// frames differ); the messages in `holes` are deleted again, in that
// order, leaving their frames in the free chain.
Files MakeBase(const std::string& base, int count, const Holes& holes) {
  test::SkipSyncs fast;
  platform::ScopedPlatform use(&fast);
  SquishMsgBase b;
  EXPECT_TRUE(b.CreateMsgBase(base));
  for (int i = 1; i <= count; ++i) EXPECT_TRUE(Store(b, Text(i, 10 * static_cast<std::size_t>(i))));
  for (std::int32_t n : holes) EXPECT_TRUE(Delete(b, n));
  EXPECT_TRUE(b.CloseMsgBase());
  return FilesOf(base);
}

struct Updates {
  std::vector<int> appends;           // text numbers to store
  std::vector<std::int32_t> deletes;  // message numbers, in this order
};

std::string AppendedText(int t) { return Text(t, 5 + static_cast<std::size_t>(t) % 7); }

// Applies `u`; `done` (when given) collects the updates that reported
// success.  True when all did.
bool Apply(SquishMsgBase& b, const Updates& u, Updates* done = nullptr) {
  Updates reported;
  for (std::int32_t n : u.deletes) {
    if (Delete(b, n)) reported.deletes.push_back(n);
  }
  for (int t : u.appends) {
    if (Store(b, AppendedText(t))) reported.appends.push_back(t);
  }
  const bool all = reported.deletes.size() == u.deletes.size() && reported.appends.size() == u.appends.size();
  if (done != nullptr) *done = reported;
  return all;
}

struct SameBytesCase {
  const char* name;
  int count;
  Holes holes;
  Updates updates;
};

const SameBytesCase kSameBytesCases[] = {
    {"appends to an empty base", 0, {}, {{101, 102, 103, 104, 105}, {}}},
    {"appends reusing a free frame", 6, {2}, {{101, 102, 103, 104}, {}}},
    {"appends reusing a chain of free frames", 7, {2, 4, 5}, {{101, 102, 103, 104}, {}}},
    {"deletes from the end, highest first", 8, {}, {{}, {8, 7, 6}}},
    {"scattered deletes, highest first", 8, {2}, {{}, {7, 5, 3, 1}}},
    {"every message deleted", 5, {}, {{}, {5, 4, 3, 2, 1}}},
};

TEST(SquishBatch, LeavesTheSameBytesAsOneUpdateAtATime) {
  for (const SameBytesCase& c : kSameBytesCases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string base = dir / "area";
    const Files start = MakeBase(base, c.count, c.holes);
    {
      SquishMsgBase b;
      ASSERT_TRUE(b.OpenMsgBase(base));
      EXPECT_TRUE(Apply(b, c.updates));
      EXPECT_TRUE(b.CloseMsgBase());
    }
    const Files one_at_a_time = FilesOf(base);
    PutFiles(base, start);
    SquishMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(base));
    b.BeginBatch();
    EXPECT_TRUE(Apply(b, c.updates));
    // Seen through this object at once, before the commit.
    const auto expected_count =
        static_cast<std::int32_t>(c.count - c.holes.size() + c.updates.appends.size() - c.updates.deletes.size());
    EXPECT_EQ(b.GetMsgCount(), expected_count);
    EXPECT_EQ(static_cast<std::int32_t>(AllTexts(b).size()), expected_count);
    EXPECT_TRUE(b.CommitBatch());
    EXPECT_TRUE(b.CloseMsgBase());
    const Files batched = FilesOf(base);
    EXPECT_TRUE(batched.at(".sqi") == one_at_a_time.at(".sqi")) << "index differs";
    EXPECT_TRUE(batched.at(".sqd") == one_at_a_time.at(".sqd")) << "data differs";
    EXPECT_TRUE(batched.at(".sqd").substr(0, squish::kBaseHeaderSize) ==
                one_at_a_time.at(".sqd").substr(0, squish::kBaseHeaderSize))
        << "base header differs";
    EXPECT_EQ(test::CheckSquishBase(base), test::Violations{});
  }
}

TEST(SquishBatch, NumbersAndTextsOfStagedMessagesReadBackBeforeTheCommit) {
  test::TempDir dir;
  const std::string base = dir / "area";
  MakeBase(base, 3, {});
  SquishMsgBase b;
  ASSERT_TRUE(b.OpenMsgBase(base));
  b.BeginBatch();
  ASSERT_TRUE(Delete(b, 3));
  ASSERT_TRUE(Store(b, Text(50)));
  EXPECT_EQ(b.GetMsgNum(), 4);
  EXPECT_EQ(b.GetHighMsgNum(), 4);
  ASSERT_TRUE(Store(b, Text(51)));
  EXPECT_EQ(b.GetHighMsgNum(), 5);
  EXPECT_FALSE(b.MsgExists(3));
  EXPECT_EQ(AllTexts(b), (std::vector<std::string>{Text(1, 10), Text(2, 20), Text(50), Text(51)}));
  // Closing commits the batch.
  EXPECT_TRUE(b.CloseMsgBase());
  ASSERT_TRUE(b.OpenMsgBase(base));
  EXPECT_EQ(AllTexts(b), (std::vector<std::string>{Text(1, 10), Text(2, 20), Text(50), Text(51)}));
  EXPECT_EQ(test::CheckSquishBase(base), test::Violations{});
}

// Counts the writes that reach the index file and the truncates.
class IndexWrites : public test::CountingPlatform {
 public:
  // Whether `name` ends in ".sqi", in any case (the Win32 build may name
  // the file in upper case).
  // An index written whole under a temporary name (".sqi.new") counts.
  static bool IsIndexName(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) c = LowerChar(c);
    return lower.size() >= 4 && (lower.compare(lower.size() - 4, 4, ".sqi") == 0 ||
                                 (lower.size() >= 8 && lower.compare(lower.size() - 8, 8, ".sqi.new") == 0));
  }
  IndexWrites() : CountingPlatform(platform::NativePlatform(), test::FaultPlan{}) {}
  platform::Result OpenFile(std::string_view name, platform::Access access, platform::Sharing sharing,
                            platform::FileHandle* file) override {
    const int rc = CountingPlatform::OpenFile(name, access, sharing, file);
    // The Win32 build may name the file in upper case.
    if (rc == platform::kOk && IsIndexName(name)) sqi_.insert(*file);
    return rc;
  }
  platform::Result CreateFile(std::string_view name, platform::Sharing sharing, platform::FileHandle* file) override {
    const int rc = CountingPlatform::CreateFile(name, sharing, file);
    if (rc == platform::kOk && IsIndexName(name)) sqi_.insert(*file);
    return rc;
  }
  platform::Result CloseFile(platform::FileHandle file) override {
    sqi_.erase(file);
    return CountingPlatform::CloseFile(file);
  }
  platform::Result WriteFile(platform::FileHandle file, const void* buf, std::size_t count,
                             std::size_t* done) override {
    index_writes += sqi_.count(file);
    return CountingPlatform::WriteFile(file, buf, count, done);
  }
  platform::Result WriteFileAt(platform::FileHandle file, std::int64_t offset, const void* buf, std::size_t count,
                               std::size_t* done) override {
    index_writes += sqi_.count(file);
    return CountingPlatform::WriteFileAt(file, offset, buf, count, done);
  }
  platform::Result TruncateFile(platform::FileHandle file) override {
    index_truncates += sqi_.count(file);
    return CountingPlatform::TruncateFile(file);
  }

  int index_writes = 0;
  int index_truncates = 0;

 private:
  std::set<platform::FileHandle> sqi_;  // open handles of index files
};

TEST(SquishBatch, WritesTheIndexOncePerCommit) {
  // Deletions replace the index whole (no cut); a batch that turns from
  // deleting to appending commits its deletions first.
  struct Case {
    const char* name;
    Updates updates;
    int writes_before_commit;
    int writes;
  };
  std::vector<std::int32_t> every_other;
  for (std::int32_t n = 39; n >= 1; n -= 2) every_other.push_back(n);
  const Case cases[] = {
      {"twenty appends",
       {{101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118, 119, 120}, {}},
       0,
       1},
      {"every other message deleted", {{}, every_other}, 0, 1},
      {"deletes and appends", {{101, 102, 103}, {30, 20, 10}}, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string base = dir / "area";
    MakeBase(base, 40, {});
    IndexWrites counting;
    platform::ScopedPlatform use(&counting);
    SquishMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(base));
    b.BeginBatch();
    ASSERT_TRUE(Apply(b, c.updates));
    EXPECT_EQ(counting.index_writes, c.writes_before_commit);
    ASSERT_TRUE(b.CommitBatch());
    EXPECT_EQ(counting.index_writes, c.writes);
    EXPECT_EQ(counting.index_truncates, 0);
    EXPECT_TRUE(b.CloseMsgBase());
    EXPECT_EQ(test::CheckSquishBase(base), test::Violations{});
  }
}

// ---- Crashes inside a batch ----

struct CrashCase {
  const char* name;
  int count;
  Holes holes;
  Updates updates;
};

const CrashCase kCrashCases[] = {
    {"appends to a base with free frames", 5, {2, 4}, {{101, 102, 103}, {}}},
    {"deletes, highest first", 6, {}, {{}, {6, 4, 1}}},
    {"deletes then appends", 5, {2}, {{101, 102}, {5, 3}}},
};

// Runs the batch on a copy of `start` with a crash at call `n`; false when
// the run finished before call `n`.
bool RunCrashing(const std::string& dir, const Files& start, const CrashCase& c, std::int64_t n, bool power_cut,
                 Updates& committed) {
  const std::string base = dir + "/area";
  PutFiles(base, start);
  test::SkipSyncs fast;  // the crash model decides what a sync kept
  test::CrashPlatform crash(fast, dir, n, false);
  {
    platform::ScopedPlatform use(&crash);
    SquishMsgBase b;
    if (b.OpenMsgBase(base)) {
      b.BeginBatch();
      Updates reported;
      Apply(b, c.updates, &reported);
      if (b.CommitBatch()) committed = reported;
      b.CloseMsgBase();
    }
  }
  if (power_cut) crash.Revert();
  return crash.crashed();
}

// What the base holds after the crash, opened with the plain platform:
// every message durable before the batch and not deleted in it, once; the
// deletes and appends of a commit that reported success, done; nothing
// that is not a whole message of the run.
void ExpectNothingDurableLost(const std::string& base, const std::vector<std::string>& before, const CrashCase& c,
                              const Updates& committed) {
  test::SkipSyncs fast;
  platform::ScopedPlatform use(&fast);
  SquishMsgBase b;
  ASSERT_TRUE(b.OpenMsgBase(base));
  std::vector<std::string> texts;
  for (b.SeekFirst(1); b.SeekFound(); b.SeekNext()) {
    ASSERT_TRUE(b.OpenMsg()) << b.GetMsgNum();
    texts.push_back(ReadAllBytes(*b.GetTextStream()));
    // A message of the base before the batch keeps its number; one of the
    // batch never takes the number of one that was there.
    const auto n = static_cast<std::size_t>(b.GetMsgNum());
    if (n <= before.size()) {
      EXPECT_EQ(texts.back(), before[n - 1]) << "message " << n << " damaged";
    }
    b.CloseMsg();
  }
  ASSERT_TRUE(b.CloseMsgBase());
  EXPECT_EQ(test::CheckSquishBase(base), test::Violations{});
  auto times = [&texts](const std::string& t) { return std::count(texts.begin(), texts.end(), t); };
  auto listed = [](const auto& list, auto item) { return std::count(list.begin(), list.end(), item) != 0; };
  for (std::size_t i = 0; i < before.size(); ++i) {
    const auto num = static_cast<std::int32_t>(i + 1);
    if (before[i].empty()) continue;
    if (!listed(c.updates.deletes, num)) {
      EXPECT_EQ(times(before[i]), 1) << "lost: " << before[i];
    }
    if (listed(committed.deletes, num)) {
      EXPECT_EQ(times(before[i]), 0) << "kept after its commit: " << before[i];
    }
    EXPECT_LE(times(before[i]), 1) << "twice: " << before[i];
  }
  std::vector<std::string> appended;
  for (int t : c.updates.appends) {
    appended.push_back(AppendedText(t));
    if (listed(committed.appends, t)) {
      EXPECT_EQ(times(AppendedText(t)), 1) << "lost after its commit: " << t;
    }
    EXPECT_LE(times(AppendedText(t)), 1) << "twice: " << t;
  }
  for (const std::string& t : texts) {
    EXPECT_TRUE(listed(before, t) || listed(appended, t)) << "not whole: " << t;
  }
}

TEST(SquishBatch, ACrashAtEveryCallLosesNothingDurable) {
  for (const bool power_cut : {true, false}) {
    for (const CrashCase& c : kCrashCases) {
      SCOPED_TRACE(testing::Message() << c.name << (power_cut ? ", power cut" : ", killed"));
      test::TempDir dir;
      const Files start = MakeBase(dir / "area", c.count, c.holes);
      // Indexed by message number - 1; a hole's text is never in the base.
      std::vector<std::string> before;
      for (int i = 1; i <= c.count; ++i) {
        const bool hole = std::count(c.holes.begin(), c.holes.end(), i) != 0;
        before.push_back(hole ? "" : Text(i, 10 * static_cast<std::size_t>(i)));
      }
      for (std::int64_t n = 1;; ++n) {
        SCOPED_TRACE(testing::Message() << "crash at call " << n);
        Updates committed;
        const bool crashed = RunCrashing(dir.path(), start, c, n, power_cut, committed);
        ExpectNothingDurableLost(dir / "area", before, c, committed);
        if (!crashed || ::testing::Test::HasFailure()) break;
        ASSERT_LT(n, 2000) << "the run never ends";
      }
    }
  }
}

}  // namespace
}  // namespace lw

namespace lw {
namespace {

// Logs every write, sync, rename and folder sync of a Squish base in the
// terms of the format: "header" (the base header), "link" (a frame header
// alone), "frame" (a whole frame), "index" (.sqi), "new index" (the index
// written under its temporary name).
class SquishWriteLog : public test::CountingPlatform {
 public:
  SquishWriteLog() : CountingPlatform(platform::NativePlatform(), test::FaultPlan{}) {}
  platform::Result OpenFile(std::string_view name, platform::Access access, platform::Sharing sharing,
               platform::FileHandle* file) override {
    const platform::Result rc = CountingPlatform::OpenFile(name, access, sharing, file);
    if (rc == platform::kOk) names_[*file] = Kind(name);
    return rc;
  }
  platform::Result CreateFile(std::string_view name, platform::Sharing sharing, platform::FileHandle* file) override {
    const platform::Result rc = CountingPlatform::CreateFile(name, sharing, file);
    if (rc == platform::kOk) names_[*file] = Kind(name);
    return rc;
  }
  platform::Result WriteFileAt(platform::FileHandle file, std::int64_t offset, const void* buf, std::size_t count,
                  std::size_t* done) override {
    const std::string& kind = names_[file];
    if (kind != "sqd") {
      log.push_back(kind);
    } else {
      log.push_back(offset == 0 ? "header" : count == squish::kFrameHeaderSize ? "link" : "frame");
    }
    return CountingPlatform::WriteFileAt(file, offset, buf, count, done);
  }
  platform::Result TruncateFile(platform::FileHandle file) override {
    log.push_back("cut " + names_[file]);
    return CountingPlatform::TruncateFile(file);
  }
  platform::Result FlushFile(platform::FileHandle file) override {
    log.push_back("sync " + names_[file]);
    return CountingPlatform::FlushFile(file);
  }
  platform::Result ReplaceFile(std::string_view from, std::string_view to) override {
    log.push_back("rename " + Kind(from) + " to " + Kind(to));
    return CountingPlatform::ReplaceFile(from, to);
  }
  platform::Result SyncDirectory(std::string_view dir) override {
    log.push_back("syncdir");
    return CountingPlatform::SyncDirectory(dir);
  }

  std::vector<std::string> log;

 private:
  static std::string Kind(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) c = LowerChar(c);
    if (lower.size() >= 8 && lower.compare(lower.size() - 8, 8, ".sqi.new") == 0) return "new index";
    if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".sqi") == 0) return "index";
    return "sqd";
  }
  std::map<platform::FileHandle, std::string> names_;
};

// The order of a batch's writes, which keeps the base valid for programs
// that never repair at every point between them, whichever of a step's
// unsynced writes a power cut keeps (squish_update.cpp): new frames whole
// and synced before anything points at them, end_frame and uid past them
// before they are linked, linked before the header names the last, named
// before the index does, the counts raised last; deletions lower the
// counts first, replace the index whole, then move the chain's ends,
// unlink, free and only then join the free chain, each synced.
TEST(SquishBatch, EachStepIsSyncedBeforeTheNextNeedsIt) {
  using Log = std::vector<std::string>;
  const struct Case {
    const char* name;
    Updates updates;
    Log log;
  } cases[] = {
      {"two appends",
       {{101, 102}, {}},
       {"frame", "frame",                  // staged, unsynced, past end_frame
        "link", "link", "sync sqd",        // linked among themselves
        "header", "sync sqd",              // end_frame and uid past them
        "link", "sync sqd",                // the old last frame's link to them
        "header", "sync sqd",              // last_frame
        "index", "sync index",             // now the index names them
        "header", "sync sqd"}},            // the counts
      {"two deletes",
       {{}, {3, 2}},
       {"header", "sync sqd",  // the counts down
        "new index", "sync new index", "rename new index to index", "syncdir",
        "link", "link", "sync sqd",   // the frames that stay skip them
        "link", "link", "sync sqd",   // freed, linked among themselves
        "header", "sync sqd"}},       // the free chain's ends
      {"deleting the last",
       {{}, {4}},
       {"header", "sync sqd",  // the counts down
        "new index", "sync new index", "rename new index to index", "syncdir",
        "header", "sync sqd",   // last_frame moves back
        "link", "sync sqd",     // the new last frame ends the chain
        "link", "sync sqd",     // freed
        "header", "sync sqd"}},  // the free chain's ends
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string base = dir / "area";
    MakeBase(base, 4, {});
    SquishWriteLog watch;
    platform::ScopedPlatform use(&watch);
    SquishMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(base));
    b.BeginBatch();
    ASSERT_TRUE(Apply(b, c.updates));
    ASSERT_TRUE(b.CommitBatch());
    EXPECT_EQ(watch.log, c.log);
    EXPECT_TRUE(b.CloseMsgBase());
    EXPECT_EQ(test::CheckSquishBase(base), test::Violations{});
  }
}

}  // namespace
}  // namespace lw
