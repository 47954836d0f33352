// A JAM base in a batch: the files a committed batch leaves are the ones
// the same changes leave one by one; a batch is seen whole through the
// object that makes it; a failing call or a power cut at any point of a
// batch leaves a base that opens, passes the checker and keeps every
// message that was durable before; and a commit costs the same few syncs
// however many messages it holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>

#include "fault/base_checker.h"
#include "fault/counting_platform.h"
#include "fault/crash_platform.h"
#include "fault/scratch_dir.h"
#include "msgbase/jam/jam_msg_base.h"
#include "msgbase/msgbase_helpers.h"
#include "test_util.h"

namespace lw {
namespace {

const char* const kExtensions[] = {".jhr", ".jdx", ".jdt", ".jlr"};

// One change a run makes: append `text`, or delete message `msg_num`
// (positioned by SeekFirst, as a move deletes its sources).
struct Op {
  std::string text;  // an append when not empty
  std::int32_t msg_num = 0;
};
Op Append(const std::string& text) { return Op{text, 0}; }
Op Delete(std::int32_t msg_num) { return Op{"", msg_num}; }

std::string OldText(std::size_t n) { return "old message " + std::to_string(n) + "\r"; }
std::string NewText(std::size_t n) { return "new message " + std::to_string(n) + "\r"; }

std::vector<Op> Appends(std::size_t count) {
  std::vector<Op> ops;
  for (std::size_t i = 1; i <= count; ++i) ops.push_back(Append(NewText(i)));
  return ops;
}

// Stores `text` with fixed dates, so that two runs write the same bytes.
bool Store(JamMsgBase& b, const std::string& text) {
  if (!b.CreateMsg()) return false;
  MsgDateTime when;
  when.Year = 2026;
  when.Month = 12;
  when.Day = 10;
  when.Hour = 18;
  b.SetDateWritten(when);
  b.SetDateArrived(when);
  b.SetTo(std::string("Sysop"));
  b.SetFrom(std::string("Sender"));
  b.GetTextStream()->Write(text.data(), static_cast<std::int32_t>(text.size()));
  const bool stored = b.WriteMsg();
  b.CloseMsg();
  return stored;
}

// A base of `count` messages OldText(1..count), numbered from 1.
void MakeBase(const std::string& path, std::size_t count) {
  JamMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(path));
  for (std::size_t i = 1; i <= count; ++i) ASSERT_TRUE(Store(b, OldText(i)));
  ASSERT_TRUE(b.CloseMsgBase());
}

void CopyBase(const std::string& from, const std::string& to) {
  for (const char* ext : kExtensions) test::WriteFile(to + ext, test::ReadFile(from + ext));
}

// What a run reported.
struct Reported {
  bool committed = false;             // the batch (or every single change) said durable
  std::vector<std::string> appended;  // WriteMsg said true
  std::vector<std::string> refused;   // WriteMsg said false
  std::vector<std::string> deleted;   // DeleteMsg said true: texts of old messages
};

// Opens the base, makes the changes (in one batch when `batched`), commits
// and closes it.
Reported RunChanges(const std::string& path, const std::vector<Op>& ops, bool batched) {
  Reported r;
  JamMsgBase b;
  if (!b.OpenMsgBase(path)) return r;
  if (batched) b.BeginBatch();
  bool each_ok = true;
  for (const Op& op : ops) {
    if (!op.text.empty()) {
      const bool stored = Store(b, op.text);
      (stored ? r.appended : r.refused).push_back(op.text);
      each_ok = each_ok && stored;
      continue;
    }
    b.SeekFirst(op.msg_num);
    const bool deleted = b.GetMsgNum() == op.msg_num && b.DeleteMsg();
    if (deleted) r.deleted.push_back(OldText(static_cast<std::size_t>(op.msg_num)));
    each_ok = each_ok && deleted;
  }
  r.committed = b.CommitBatch() && each_ok;
  r.committed = b.CloseMsgBase() && r.committed;
  return r;
}

// The texts of the live messages, each of which must open whole.
std::vector<std::string> Texts(JamMsgBase& b) {
  std::vector<std::string> texts;
  for (b.SeekFirst(1); b.SeekFound(); b.SeekNext()) {
    EXPECT_TRUE(b.OpenMsg()) << "message " << b.GetMsgNum() << " is there only in part";
    texts.push_back(test::TextOf(b));
  }
  return texts;
}

bool Has(const std::vector<std::string>& v, const std::string& s) { return std::count(v.begin(), v.end(), s) > 0; }

struct Compared {
  const char* name;
  std::size_t old_messages;
  std::vector<Op> ops;
};

const std::vector<Compared>& ComparedRuns() {
  static const std::vector<Compared> runs = {
      {"one append", 0, Appends(1)},
      {"forty appends", 2, Appends(40)},
      {"delete one", 5, {Delete(3)}},
      {"delete a run", 6, {Delete(2), Delete(3), Delete(4)}},
      {"delete scattered, last first", 7, {Delete(7), Delete(1), Delete(4)}},
      {"delete every message", 3, {Delete(1), Delete(2), Delete(3)}},
      {"appends between deletes", 3, {Delete(2), Append(NewText(1)), Append(NewText(2)), Delete(1)}},
      {"delete an appended message", 1, {Append(NewText(1)), Delete(2), Append(NewText(2))}},
  };
  return runs;
}

TEST(JamBatch, CommittedBatchLeavesTheFilesOfTheSameChangesOneByOne) {
  for (const Compared& c : ComparedRuns()) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    MakeBase(dir / "start", c.old_messages);
    CopyBase(dir / "start", dir / "single");
    CopyBase(dir / "start", dir / "batch");
    const Reported single = RunChanges(dir / "single", c.ops, false);
    const Reported batch = RunChanges(dir / "batch", c.ops, true);
    ASSERT_TRUE(single.committed);
    ASSERT_TRUE(batch.committed);
    for (const char* ext : kExtensions) {
      EXPECT_EQ(test::ReadFile(dir / ("batch" + std::string(ext))), test::ReadFile(dir / ("single" + std::string(ext))))
          << ext;
    }
  }
}

// The moves keep a destination open across a batch and read it back (a
// duplicate check, a walk): what the batch holds must be there at once.
TEST(JamBatch, TheBaseShowsTheBatchBeforeItIsCommitted) {
  test::TempDir dir;
  const std::string path = dir / "area";
  MakeBase(path, 3);
  JamMsgBase b;
  ASSERT_TRUE(b.OpenMsgBase(path));
  b.BeginBatch();
  ASSERT_TRUE(Store(b, NewText(1)));
  EXPECT_EQ(b.GetMsgNum(), 4);
  ASSERT_TRUE(Store(b, NewText(2)));
  EXPECT_EQ(b.GetMsgNum(), 5);
  b.SeekFirst(2);
  ASSERT_EQ(b.GetMsgNum(), 2);
  ASSERT_TRUE(b.DeleteMsg());
  EXPECT_EQ(b.GetMsgCount(), 4);
  EXPECT_EQ(b.GetHighMsgNum(), 5);
  EXPECT_EQ(test::Walk(b), (std::vector<std::int32_t>{1, 3, 4, 5}));
  EXPECT_EQ(Texts(b), (std::vector<std::string>{OldText(1), OldText(3), NewText(1), NewText(2)}));
  EXPECT_FALSE(b.MsgExists(2));
  // Another reader of the files sees none of it before the commit.
  EXPECT_EQ(test::FileSizeOf(path + ".jdx"), 3 * jam::kIndexRecordSize);
  ASSERT_TRUE(b.CommitBatch());
  EXPECT_EQ(test::FileSizeOf(path + ".jdx"), 5 * jam::kIndexRecordSize);
  ASSERT_TRUE(b.CloseMsgBase());
  JamMsgBase again;
  ASSERT_TRUE(again.OpenMsgBase(path));
  EXPECT_EQ(Texts(again), (std::vector<std::string>{OldText(1), OldText(3), NewText(1), NewText(2)}));
  EXPECT_EQ(again.GetMsgCount(), 4);
}

// Closing commits a batch still open; the next open finds nothing to repair.
TEST(JamBatch, CloseCommitsAnOpenBatch) {
  test::TempDir dir;
  const std::string path = dir / "area";
  MakeBase(path, 2);
  {
    JamMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(path));
    b.BeginBatch();
    ASSERT_TRUE(Store(b, NewText(1)));
    b.SeekFirst(1);
    ASSERT_TRUE(b.DeleteMsg());
    ASSERT_TRUE(b.CloseMsgBase());
  }
  EXPECT_EQ(test::CheckJamBase(path), test::Violations{});
  JamMsgBase b;
  ASSERT_TRUE(b.OpenMsgBase(path));
  EXPECT_EQ(Texts(b), (std::vector<std::string>{OldText(2), NewText(1)}));
}

// ---- Calls per commit ----

// Counts the calls of four kinds a piece of work makes.
struct CallCounts {
  std::int64_t flushes = 0, writes = 0, seeks = 0, sizes = 0;
};

template <typename Work>
CallCounts Count(Work work) {
  using test::CallKind;
  test::CountingPlatform sizes(platform::NativePlatform(), {0, CallKind::kSize, false, {}});
  test::CountingPlatform seeks(sizes, {0, CallKind::kSeek, false, {}});
  test::CountingPlatform writes(seeks, {0, CallKind::kWrite, false, {}});
  test::CountingPlatform flushes(writes, {0, CallKind::kFlush, false, {}});
  {
    platform::ScopedPlatform use(&flushes);
    work();
  }
  return {flushes.calls(), writes.calls(), seeks.calls(), sizes.calls()};
}

TEST(JamBatch, ACommitSyncsAtMostFourTimesHoweverLargeTheBatch) {
  for (std::size_t n : {1u, 10u, 200u}) {
    SCOPED_TRACE(n);
    test::TempDir dir;
    const std::string path = dir / "area";
    MakeBase(path, n);
    JamMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(path));
    // n appends: a body written each, synced; the headers in one write and
    // the fixed header marked as a change in progress, synced; the index
    // records in one write, synced; the fixed header once more, unmarked.
    const CallCounts appends = Count([&] {
      b.BeginBatch();
      for (std::size_t i = 1; i <= n; ++i) ASSERT_TRUE(Store(b, NewText(i)));
      ASSERT_TRUE(b.CommitBatch());
    });
    EXPECT_EQ(appends.flushes, 4);
    EXPECT_EQ(appends.writes, static_cast<std::int64_t>(n + 4));
    EXPECT_EQ(appends.seeks, 0);
    EXPECT_EQ(appends.sizes, 0);
    // n deletes of consecutive messages: the fixed header, lowered and
    // marked, synced; an attribute written each and the emptied records in
    // one write, synced together; the fixed header unmarked, synced.
    const CallCounts deletes = Count([&] {
      b.BeginBatch();
      for (std::size_t i = 1; i <= n; ++i) {
        b.SeekFirst(static_cast<std::int32_t>(i));
        ASSERT_TRUE(b.DeleteMsg());
      }
      ASSERT_TRUE(b.CommitBatch());
    });
    EXPECT_EQ(deletes.flushes, 3);
    EXPECT_EQ(deletes.writes, static_cast<std::int64_t>(n + 3));
    EXPECT_EQ(b.GetMsgCount(), static_cast<std::int32_t>(n));
  }
}

// Outside a batch each change is durable on its own, as it always was.
TEST(JamBatch, WithoutABatchEachChangeSyncsItself) {
  test::TempDir dir;
  const std::string path = dir / "area";
  MakeBase(path, 1);
  JamMsgBase b;
  ASSERT_TRUE(b.OpenMsgBase(path));
  const CallCounts append = Count([&] { ASSERT_TRUE(Store(b, NewText(1))); });
  EXPECT_EQ(append.flushes, 4);  // body, header with the marked fixed header, index record, fixed header
  EXPECT_EQ(append.writes, 5);
  b.SeekFirst(1);
  const CallCounts del = Count([&] { ASSERT_TRUE(b.DeleteMsg()); });
  EXPECT_EQ(del.flushes, 4);  // marked fixed header, attribute, index record, fixed header
  EXPECT_EQ(del.writes, 4);
}

// ---- Faults inside a batch ----

struct FaultRun {
  const char* name;
  std::size_t old_messages;
  std::vector<Op> ops;
};

const std::vector<FaultRun>& FaultRuns() {
  static const std::vector<FaultRun> runs = {
      {"a batch of appends", 2, Appends(3)},
      {"a batch of deletes", 4, {Delete(1), Delete(3), Delete(4)}},
      {"appends and deletes", 3, {Append(NewText(1)), Delete(2), Append(NewText(2))}},
  };
  return runs;
}

// After the run under a fault (and the power cut, if one came): the base
// opens (repairing what it must), then passes the checker; every message
// durable before the batch that the batch did not delete is there once;
// a committed batch is there whole; nothing unknown or refused is there.
void CheckAfterFault(const std::string& path, const FaultRun& run, const Reported& r) {
  {
    JamMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(path)) << b.Status;
    ASSERT_TRUE(b.CloseMsgBase());
  }
  EXPECT_EQ(test::CheckJamBase(path), test::Violations{});
  JamMsgBase b;
  ASSERT_TRUE(b.OpenMsgBase(path));
  const std::vector<std::string> texts = Texts(b);
  std::map<std::string, int> seen;
  for (const std::string& t : texts) ++seen[t];
  std::vector<std::string> asked_deleted;
  for (const Op& op : run.ops) {
    if (op.text.empty()) asked_deleted.push_back(OldText(static_cast<std::size_t>(op.msg_num)));
  }
  for (std::size_t i = 1; i <= run.old_messages; ++i) {
    if (!Has(asked_deleted, OldText(i))) {
      EXPECT_EQ(seen[OldText(i)], 1) << "lost: " << OldText(i);
    }
  }
  for (const auto& [text, count] : seen) {
    EXPECT_EQ(count, 1) << text;
    EXPECT_TRUE(text.rfind("old message ", 0) == 0 || Has(r.appended, text)) << "unknown or refused: " << text;
  }
  if (!r.committed) return;
  for (const std::string& text : r.appended) EXPECT_EQ(seen[text], 1) << "committed, then lost: " << text;
  for (const std::string& text : r.deleted) EXPECT_EQ(seen[text], 0) << "deleted, then back: " << text;
  EXPECT_EQ(b.GetMsgCount(), static_cast<std::int32_t>(texts.size()));
}

// Runs every fault run with the platform `make(n, root)` for n = 1, 2, ...
// until a run no longer reaches call n.  `reached` tells whether it did;
// `after` runs once the faulted run is over (a power cut's revert).
template <typename Make>
void AtEveryCall(Make make) {
  for (const FaultRun& run : FaultRuns()) {
    for (std::int64_t n = 1;; ++n) {
      SCOPED_TRACE(std::string(run.name) + ", call " + std::to_string(n));
      test::ScratchDir dir;
      const std::string path = dir.path() + "/area";
      MakeBase(path, run.old_messages);
      auto faulted = make(n, dir.path());
      Reported r;
      {
        platform::ScopedPlatform use(faulted.get());
        r = RunChanges(path, run.ops, true);
      }
      const bool reached = faulted->Reached();
      faulted->After();
      CheckAfterFault(path, run, r);
      if (::testing::Test::HasFatalFailure() || !reached) break;
      ASSERT_LT(n, 1000) << "the run does not end";
    }
  }
}

class FailOne : public test::CountingPlatform {
 public:
  explicit FailOne(std::int64_t n)
      : CountingPlatform(platform::NativePlatform(), {n, test::CallKind::kAny, false, {}}) {}
  bool Reached() const { return reached(); }
  void After() {}
};

class PowerCut : public test::CrashPlatform {
 public:
  PowerCut(std::int64_t n, const std::string& root) : CrashPlatform(platform::NativePlatform(), root, n, false) {}
  bool Reached() const { return crashed(); }
  void After() { Revert(); }
};

TEST(JamBatch, EverySingleFailingCallInABatch) {
  AtEveryCall([](std::int64_t n, const std::string&) { return std::make_unique<FailOne>(n); });
}

TEST(JamBatch, APowerCutAtEveryCallInABatch) {
  AtEveryCall([](std::int64_t n, const std::string& root) { return std::make_unique<PowerCut>(n, root); });
}

// A commit that fails part way leaves the object seeing what the next open
// sees, so a caller that goes on with the base numbers and counts right.
TEST(JamBatch, AfterAFailedCommitTheBaseSeesWhatTheNextOpenSees) {
  for (std::int64_t n = 1;; ++n) {
    SCOPED_TRACE("commit call " + std::to_string(n));
    test::ScratchDir dir;
    const std::string path = dir.path() + "/area";
    MakeBase(path, 3);
    JamMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(path));
    b.BeginBatch();
    ASSERT_TRUE(Store(b, NewText(1)));
    ASSERT_TRUE(Store(b, NewText(2)));
    b.SeekFirst(2);
    ASSERT_TRUE(b.DeleteMsg());
    FailOne failing(n);
    bool committed = false;
    {
      platform::ScopedPlatform use(&failing);
      committed = b.CommitBatch();
    }
    EXPECT_EQ(committed, !failing.Reached());
    const std::vector<std::string> seen = Texts(b);
    const std::int32_t count = b.GetMsgCount();
    const std::int32_t high = b.GetHighMsgNum();
    ASSERT_TRUE(b.CloseMsgBase());
    JamMsgBase again;
    ASSERT_TRUE(again.OpenMsgBase(path));
    EXPECT_EQ(Texts(again), seen);
    EXPECT_EQ(again.GetMsgCount(), count);
    EXPECT_EQ(again.GetHighMsgNum(), high);
    EXPECT_EQ(count, static_cast<std::int32_t>(seen.size()));
    if (!failing.Reached()) break;
    ASSERT_LT(n, 100) << "the commit does not end";
  }
}

// The loops above prove something only when the runs do what they say
// without faults.
TEST(JamBatch, FaultRunsWithoutFaults) {
  for (const FaultRun& run : FaultRuns()) {
    SCOPED_TRACE(run.name);
    test::TempDir dir;
    const std::string path = dir / "area";
    MakeBase(path, run.old_messages);
    const Reported r = RunChanges(path, run.ops, true);
    EXPECT_TRUE(r.committed);
    EXPECT_TRUE(r.refused.empty());
    std::size_t deletes = 0;
    for (const Op& op : run.ops) deletes += op.text.empty() ? 1 : 0;
    EXPECT_EQ(r.deleted.size(), deletes);
    CheckAfterFault(path, run, r);
  }
}

}  // namespace
}  // namespace lw
