// What an interrupted or failed change leaves in a JAM base, and what the
// next open, the walk and the readers make of it.
#include <gtest/gtest.h>

#include <filesystem>

#include "msgbase/area.h"
#include "msgbase/jam/jam_fault_platform.h"
#include "msgbase/jam/jam_msg_base.h"
#include "msgbase/jam/seeking_platform.h"
#include "msgbase/le_bytes.h"
#include "msgbase/msgbase_helpers.h"
#include "test_util.h"

namespace lw {
namespace {

using test::AddMessage;
using test::JamFaultPlatform;
using test::TextOf;
using test::Walk;
using Mode = JamFaultPlatform::Mode;
using Log = std::vector<std::string>;

constexpr std::size_t kActiveMsgs = jam::fixed_at::kActiveMsgs;
constexpr std::size_t kBaseMsgNum = jam::fixed_at::kBaseMsgNum;
// Where message 1's header and fields lie in a base that holds messages
// from 1 on, and where the index record of message n does.
constexpr std::size_t kFirstHeader = jam::kFixedHeaderSize;
constexpr std::size_t IndexAt(std::size_t msg_num, std::size_t field) {
  return (msg_num - 1) * jam::kIndexRecordSize + field;
}

class JamRepair : public ::testing::Test {
 protected:
  std::string Base() const { return dir_ / "area"; }
  std::uint32_t At32(const std::string& ext, std::size_t at) {
    std::string s = test::ReadFile(Base() + ext);
    return at + 4 <= s.size() ? GetLe32(reinterpret_cast<const std::uint8_t*>(s.data() + at)) : 0xDEADDEAD;
  }
  void Patch32(const std::string& ext, std::size_t at, std::uint32_t v) {
    std::string s = test::ReadFile(Base() + ext);
    ASSERT_LE(at + 4, s.size());
    PutLe32(reinterpret_cast<std::uint8_t*>(s.data() + at), v);
    test::WriteFile(Base() + ext, s);
  }
  // The change marker a change of this program leaves in the fixed header
  // until it is whole, as a crash part way leaves it.
  // `at` is the marker's place in the reserved area.
  void MarkChangeInProgress(std::size_t at = jam::kChangeMarkerAt) {
    std::string s = test::ReadFile(Base() + ".jhr");
    ASSERT_GE(s.size(), static_cast<std::size_t>(jam::kFixedHeaderSize));
    s.replace(jam::fixed_at::kReserved + at, sizeof jam::kChangeMarker,
              reinterpret_cast<const char*>(jam::kChangeMarker), sizeof jam::kChangeMarker);
    test::WriteFile(Base() + ".jhr", s);
  }
  // A base of messages "one", "two", "three" to "a", "b", "c".
  void MakeThree() {
    JamMsgBase b;
    ASSERT_TRUE(b.CreateMsgBase(Base()));
    AddMessage(b, "a", "one\r");
    AddMessage(b, "b", "two\r");
    AddMessage(b, "c", "three\r");
    ASSERT_TRUE(b.CloseMsgBase());
  }
  // The texts of the live messages, first to last; every one must open.
  std::vector<std::string> Texts(JamMsgBase& b) {
    std::vector<std::string> texts;
    for (b.SeekFirst(1); b.SeekFound(); b.SeekNext()) {
      EXPECT_TRUE(b.OpenMsg()) << b.GetMsgNum();
      texts.push_back(TextOf(b));
    }
    return texts;
  }
  // What opening the base writes, with the writes and syncs it made.
  Log OpenLog(JamMsgBase& b) {
    JamFaultPlatform watch;
    test::ScopedSeekingPlatform use(&watch);
    EXPECT_TRUE(b.OpenMsgBase(Base())) << b.Status;
    return watch.Log();
  }

  test::TempDir dir_;
};

// A move stopped after message 1's index record was emptied, before the
// fixed header was written: ActiveMsgs still said 2, under the marker.
TEST_F(JamRepair, CountLeftBehindByAnInterruptedDeleteIsRecountedOnOpen) {
  {
    JamMsgBase b;
    ASSERT_TRUE(b.CreateMsgBase(Base()));
    AddMessage(b, "a", "one\r");
    AddMessage(b, "b", "two\r");
  }
  Patch32(".jdx", IndexAt(1, jam::index_at::kUserCrc), 0xFFFFFFFFu);
  Patch32(".jdx", IndexAt(1, jam::index_at::kHdrOffset), 0xFFFFFFFFu);
  ASSERT_EQ(At32(".jhr", kActiveMsgs), 2u);
  MarkChangeInProgress();
  JamMsgBase b;
  EXPECT_EQ(OpenLog(b), (Log{"write area.jhr", "sync area.jhr"}));
  EXPECT_EQ(b.GetMsgCount(), 1);
  EXPECT_FALSE(jam::HasChangeMarker(b.FixedHeader()));
  EXPECT_EQ(At32(".jhr", kActiveMsgs), 1u);  // on disk before any close
  EXPECT_EQ(Texts(b), std::vector<std::string>{"two\r"});
  ASSERT_TRUE(b.CloseMsgBase());
  // Consistent now: the next open writes nothing.
  EXPECT_EQ(OpenLog(b), Log{});
}

// A base an earlier build left in the middle of a change carries the
// marker at the end of the reserved area: the open still finds it, checks
// the whole base and takes it out.
TEST_F(JamRepair, TheMarkerWhereEarlierBuildsPutItIsFoundAndTakenOut) {
  {
    JamMsgBase b;
    ASSERT_TRUE(b.CreateMsgBase(Base()));
    AddMessage(b, "a", "one\r");
    AddMessage(b, "b", "two\r");
  }
  Patch32(".jdx", IndexAt(1, jam::index_at::kUserCrc), 0xFFFFFFFFu);
  Patch32(".jdx", IndexAt(1, jam::index_at::kHdrOffset), 0xFFFFFFFFu);
  MarkChangeInProgress(jam::kEarlierChangeMarkerAt);
  JamMsgBase b;
  EXPECT_EQ(OpenLog(b), (Log{"write area.jhr", "sync area.jhr"}));
  EXPECT_EQ(b.GetMsgCount(), 1);
  EXPECT_EQ(At32(".jhr", kActiveMsgs), 1u);
  const std::string jhr = test::ReadFile(Base() + ".jhr");
  EXPECT_EQ(jhr.find(std::string(reinterpret_cast<const char*>(jam::kChangeMarker), sizeof jam::kChangeMarker)),
            std::string::npos);
  ASSERT_TRUE(b.CloseMsgBase());
  EXPECT_EQ(OpenLog(b), Log{});
}

// Another program set a header's deleted attribute and left the count: a
// cheap open cannot see it, the whole check (--repair) recounts.
TEST_F(JamRepair, HeaderDeletedByAnotherProgramIsNotCounted) {
  MakeThree();
  Patch32(".jhr", kFirstHeader + jam::header_at::kAttribute,
          At32(".jhr", kFirstHeader + jam::header_at::kAttribute) | jam::kAttrDeleted);
  const std::string jdx = test::ReadFile(Base() + ".jdx");
  JamMsgBase b;
  EXPECT_EQ(OpenLog(b), Log{});
  EXPECT_EQ(b.GetMsgCount(), 3);
  ASSERT_TRUE(b.CloseMsgBase());
  b.CheckWholeOnNextOpen();
  EXPECT_EQ(OpenLog(b), (Log{"write area.jhr", "sync area.jhr"}));
  EXPECT_EQ(b.RepairsOnOpen(), std::vector<std::string>{"ActiveMsgs was 3, now 2"});
  EXPECT_EQ(b.GetMsgCount(), 2);
  EXPECT_EQ(test::ReadFile(Base() + ".jdx"), jdx);  // its record stays as that program left it
}

// Index records that lead to no header are messages never finished: they
// read as absent, their records are emptied, the rest of the base stays.
// A record pointing outside .jhr is found by every open; one pointing at
// bytes without the signature only by the whole check, which the marker of
// the change that stopped part way asks for.
TEST_F(JamRepair, RecordsOfMessagesNeverFinishedReadAsAbsent) {
  MakeThree();
  const std::uint32_t second = At32(".jdx", IndexAt(2, jam::index_at::kHdrOffset));
  const std::uint32_t jhr_size = static_cast<std::uint32_t>(test::FileSizeOf(Base() + ".jhr"));
  const std::string jhr = test::ReadFile(Base() + ".jhr");
  const std::string jdx = test::ReadFile(Base() + ".jdx");
  struct Case {
    const char* what;
    std::uint32_t hdr_offset;
    std::string jhr;
    bool marked;
  } cases[] = {
      {"past the end of the header file", jhr_size, jhr, false},
      {"far past the end", 0x7FFFFFF0u, jhr, false},
      {"into the fixed header", 16, jhr, false},
      {"at bytes without the signature", second + 4, jhr, true},
      {"at a header cut short", second, jhr.substr(0, second + 40), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteFile(Base() + ".jhr", c.jhr);
    test::WriteFile(Base() + ".jdx", jdx);
    Patch32(".jdx", IndexAt(2, jam::index_at::kHdrOffset), c.hdr_offset);
    if (c.marked) MarkChangeInProgress();
    JamMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(Base()));
    EXPECT_EQ(At32(".jdx", IndexAt(2, jam::index_at::kHdrOffset)), 0xFFFFFFFFu);
    EXPECT_EQ(b.GetMsgCount(), c.jhr.size() == jhr.size() ? 2 : 1);
    EXPECT_FALSE(b.MsgExists(2));
    b.CurMsgNum = 2;
    EXPECT_FALSE(b.OpenMsg());
    EXPECT_EQ(AddMessage(b, "d", "four\r"), 4);
    ASSERT_TRUE(b.CloseMsgBase());
    JamMsgBase r;
    ASSERT_TRUE(r.OpenMsgBase(Base()));
    if (c.jhr.size() == jhr.size()) {
      EXPECT_EQ(Texts(r), (std::vector<std::string>{"one\r", "three\r", "four\r"}));
    } else {
      EXPECT_EQ(Texts(r), (std::vector<std::string>{"one\r", "four\r"}));
    }
  }
}

// Text and header synced, the index record never written: the header is
// nobody's, and the next message takes the number.
TEST_F(JamRepair, HeaderWithoutIndexRecordIsPassedOver) {
  MakeThree();
  const std::string jdx = test::ReadFile(Base() + ".jdx");
  test::WriteFile(Base() + ".jdx", jdx.substr(0, 16 + 5));  // and a torn record
  JamMsgBase b;
  ASSERT_TRUE(b.OpenMsgBase(Base()));
  EXPECT_EQ(b.GetMsgCount(), 2);
  EXPECT_EQ(AddMessage(b, "d", "four\r"), 3);
  EXPECT_EQ(Texts(b), (std::vector<std::string>{"one\r", "two\r", "four\r"}));
  ASSERT_TRUE(b.CloseMsgBase());
  EXPECT_EQ(test::FileSizeOf(Base() + ".jdx"), 24);
}

// A creation killed before its fixed header was whole left files that the
// opener saw but could not open, run after run.
TEST_F(JamRepair, BaseLeftByAnInterruptedCreationIsCompleted) {
  const std::string header_start("JAM\0\0\0", 6);
  struct Case {
    const char* what;
    const char* jhr;  // nullptr: missing
    std::size_t jhr_size;
    bool others;  // .jdx, .jdt and .jlr exist
  } cases[] = {
      {"all four files empty", "", 0, true},
      {"a fixed header cut short", header_start.data(), 6, true},
      {"a fixed header of zeros", nullptr, jam::kFixedHeaderSize, true},
      {"only the header file", "", 0, false},
      {"no header file", nullptr, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const std::string base = dir / "area";
    if (c.jhr != nullptr || c.jhr_size > 0) {
      test::WriteFile(base + ".jhr", c.jhr ? std::string(c.jhr, c.jhr_size) : std::string(c.jhr_size, '\0'));
    }
    for (const char* ext : {".jdx", ".jdt", ".jlr"}) {
      if (c.others) test::WriteFile(base + ext, "");
    }
    MsgBasePtr area;
    ASSERT_TRUE(OpenOrCreateArea(area, "J" + base));
    EXPECT_EQ(AddMessage(*area, "x", "hello\r"), 1);
    ASSERT_TRUE(area->CloseMsgBase());
    JamMsgBase r;
    ASSERT_TRUE(r.OpenMsgBase(base));
    EXPECT_EQ(r.GetMsgCount(), 1);
    EXPECT_EQ(r.FixedHeader().base_msg_num, 1u);
    EXPECT_NE(r.FixedHeader().date_created, 0u);
  }
}

TEST_F(JamRepair, HeaderlessBaseWithContentIsNotOverwritten) {
  MakeThree();
  const std::string jdt = test::ReadFile(Base() + ".jdt");
  test::WriteFile(Base() + ".jhr", "");
  JamMsgBase b;
  EXPECT_FALSE(b.OpenMsgBase(Base()));
  EXPECT_FALSE(b.CreateMsgBase(Base()));
  EXPECT_EQ(test::FileSizeOf(Base() + ".jhr"), 0);
  EXPECT_EQ(test::ReadFile(Base() + ".jdt"), jdt);
}

TEST_F(JamRepair, CreatingOverAnExistingBaseKeepsItsMessages) {
  MakeThree();
  std::filesystem::remove(Base() + ".jlr");
  JamMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(Base()));
  EXPECT_EQ(Texts(b), (std::vector<std::string>{"one\r", "two\r", "three\r"}));
}

TEST_F(JamRepair, CloseReportsEveryFailure) {
  // A clean base: only the four closes can fail.
  for (long call = 1;; ++call) {
    JamMsgBase b;
    ASSERT_TRUE(b.CreateMsgBase(Base()));
    JamFaultPlatform faults;
    faults.Arm(Mode::kFailOne, call);
    test::ScopedSeekingPlatform use(&faults);
    const bool closed = b.CloseMsgBase();
    if (!faults.Reached()) {
      EXPECT_TRUE(closed);
      EXPECT_EQ(call, 5);
      break;
    }
    EXPECT_FALSE(closed) << call;
  }
  // A fixed header whose sync failed in WriteMsg is written again at close,
  // and a failure there is reported too.
  for (bool close_fails : {true, false}) {
    SCOPED_TRACE(close_fails);
    JamFaultPlatform faults;
    test::ScopedSeekingPlatform use(&faults);
    JamMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(Base()));
    ASSERT_TRUE(b.CreateMsg());
    b.GetTextStream()->Write("x\r", 2);
    const long before = faults.Calls();
    ASSERT_TRUE(b.WriteMsg());
    const long write_calls = faults.Calls() - before;
    ASSERT_TRUE(b.CreateMsg());
    b.GetTextStream()->Write("y\r", 2);
    faults.Arm(Mode::kFailOne, faults.Calls() + write_calls);  // the last: the sync of the fixed header
    EXPECT_FALSE(b.WriteMsg());
    ASSERT_EQ(faults.Log().back(), "write area.jhr");
    faults.ClearLog();
    faults.Arm(close_fails ? Mode::kFailOne : Mode::kPass, faults.Calls() + 3);  // seek, write, sync
    EXPECT_EQ(b.CloseMsgBase(), !close_fails);
    EXPECT_EQ(faults.Log().front(), "write area.jhr");
  }
}

// BaseMsgNum 2,013,265,921 made the walk count up from 1, with a size
// query per number, for hours.
TEST_F(JamRepair, WalkOverAHighBaseMsgNumVisitsTheRecordsPresent) {
  constexpr std::uint32_t kHigh = 2013265921u;
  {
    JamMsgBase b;
    ASSERT_TRUE(b.CreateMsgBase(Base()));
  }
  Patch32(".jhr", kBaseMsgNum, kHigh);
  JamMsgBase b;
  ASSERT_TRUE(b.OpenMsgBase(Base()));
  const std::int32_t first = AddMessage(b, "a", "one\r");
  AddMessage(b, "b", "two\r");
  AddMessage(b, "c", "three\r");
  EXPECT_EQ(first, static_cast<std::int32_t>(kHigh));
  b.CurMsgNum = first + 1;
  ASSERT_TRUE(b.DeleteMsg());
  JamFaultPlatform count;
  test::ScopedSeekingPlatform use(&count);
  EXPECT_EQ(Walk(b), (std::vector<std::int32_t>{first, first + 2}));
  b.SeekFirst(first + 1);
  EXPECT_EQ(b.GetMsgNum(), first + 2);
  b.SeekPrior();
  EXPECT_EQ(b.GetMsgNum(), first);
  b.SeekPrior();
  EXPECT_FALSE(b.SeekFound());
  EXPECT_EQ(b.GetHighMsgNum(), first + 2);
  EXPECT_LT(count.Calls(), 200);
}

// Numbers are unsigned 32-bit values on disk: the last one is 4294967295,
// and numbers past 2147483647 are walked like any other.
TEST_F(JamRepair, MessageNumbersEndAtTheLargestUint32) {
  {
    JamMsgBase b;
    ASSERT_TRUE(b.CreateMsgBase(Base()));
  }
  Patch32(".jhr", kBaseMsgNum, 0xFFFFFFFEu);
  JamMsgBase b;
  ASSERT_TRUE(b.OpenMsgBase(Base()));
  AddMessage(b, "a", "one\r");
  AddMessage(b, "b", "two\r");
  EXPECT_EQ(b.GetHighMsgNum(), MsgNum{0xFFFFFFFF});
  EXPECT_FALSE(b.CreateMsg());  // no number left
  std::vector<MsgNum> walked;
  for (b.SeekFirst(1); b.SeekFound(); b.SeekNext()) walked.push_back(b.GetMsgNum());
  EXPECT_EQ(walked, (std::vector<MsgNum>{0xFFFFFFFE, 0xFFFFFFFF}));
  ASSERT_TRUE(b.CloseMsgBase());
  Patch32(".jhr", kBaseMsgNum, 0);
  EXPECT_FALSE(b.OpenMsgBase(Base()));
}

TEST_F(JamRepair, AppendAndDeleteSyncEachStepBeforeTheNext) {
  JamFaultPlatform watch;
  test::ScopedSeekingPlatform use(&watch);
  JamMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(Base()));
  AddMessage(b, "a", "one\r");
  watch.ClearLog();
  AddMessage(b, "b", "two\r");
  // The body; the header with the marked fixed header; the index record;
  // the fixed header counting the message, unmarked.
  EXPECT_EQ(watch.Log(), (Log{"write area.jdt", "sync area.jdt", "write area.jhr", "write area.jhr", "sync area.jhr",
                              "write area.jdx", "sync area.jdx", "write area.jhr", "sync area.jhr"}));
  watch.ClearLog();
  b.CurMsgNum = 1;
  ASSERT_TRUE(b.DeleteMsg());
  // The count first (fixed header, marked), then the deleted attribute,
  // then the index record: ActiveMsgs never counts a message the index has
  // dropped.  Then the fixed header without the marker.
  EXPECT_EQ(watch.Log(), (Log{"write area.jhr", "sync area.jhr", "write area.jhr", "sync area.jhr", "write area.jdx",
                              "sync area.jdx", "write area.jhr", "sync area.jhr"}));
  watch.ClearLog();
  ASSERT_TRUE(b.CloseMsgBase());
  EXPECT_EQ(watch.Log(), Log{});  // everything was on disk already
}

// A batch, as a move writes its destination and deletes its sources:
// bodies synced before the headers that point at them are written, both
// synced before the index names them, ActiveMsgs raised only after the
// index and lowered before any deletion shows.
TEST_F(JamRepair, ABatchSyncsEachStepBeforeTheNext) {
  {
    JamMsgBase b;
    ASSERT_TRUE(b.CreateMsgBase(Base()));
    for (const char* to : {"a", "b", "c"}) AddMessage(b, to, "text\r");
    ASSERT_TRUE(b.CloseMsgBase());
  }
  JamFaultPlatform watch;
  test::ScopedSeekingPlatform use(&watch);
  JamMsgBase b;
  ASSERT_TRUE(b.OpenMsgBase(Base()));
  watch.ClearLog();
  b.BeginBatch();
  AddMessage(b, "d", "four\r");
  AddMessage(b, "e", "five\r");
  ASSERT_TRUE(b.CommitBatch());
  // The bodies, synced; both headers in one write and the marked fixed
  // header after them, synced; the records; the fixed header unmarked.
  EXPECT_EQ(watch.Log(), (Log{"write area.jdt", "write area.jdt", "sync area.jdt", "write area.jhr", "write area.jhr",
                              "sync area.jhr", "write area.jdx", "sync area.jdx", "write area.jhr", "sync area.jhr"}));
  watch.ClearLog();
  b.BeginBatch();
  for (std::int32_t n : {3, 1}) {
    b.CurMsgNum = n;
    ASSERT_TRUE(b.DeleteMsg());
  }
  ASSERT_TRUE(b.CommitBatch());
  // The lowered count under the marker, synced; both attributes and the
  // records, synced together; the fixed header without the marker.
  EXPECT_EQ(watch.Log(), (Log{"write area.jhr", "sync area.jhr", "write area.jhr", "write area.jhr", "write area.jdx",
                              "write area.jdx", "sync area.jdx", "sync area.jhr", "write area.jhr", "sync area.jhr"}));
  watch.ClearLog();
  ASSERT_TRUE(b.CloseMsgBase());
  EXPECT_EQ(watch.Log(), Log{});
}

// The header file, which makes the base exist for other programs, comes
// last: written whole under a temporary name, synced, renamed into place.
TEST_F(JamRepair, CreationSyncsTheFolderBeforeTheHeader) {
  JamFaultPlatform watch;
  test::ScopedSeekingPlatform use(&watch);
  JamMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(dir_ / "new/area"));
  EXPECT_EQ(watch.Log(), (Log{"syncdir", "syncdir", "truncate area.jhr.new", "write area.jhr.new",
                              "sync area.jhr.new", "rename area.jhr.new", "syncdir"}));
}

// A failed read handed out an empty header (the rules then skipped the
// message) or NULs in place of the text.
TEST_F(JamRepair, EveryFailedOrShortReadFailsOpenMsg) {
  {
    JamMsgBase b;
    ASSERT_TRUE(b.CreateMsgBase(Base()));
    AddMessage(b, "a", "\001MSGID: 1:2/3 4\rthe text\r");
  }
  for (Mode mode : {Mode::kFailOne, Mode::kShortOne}) {
    for (long call = 1;; ++call) {
      JamMsgBase b;
      ASSERT_TRUE(b.OpenMsgBase(Base()));
      b.CurMsgNum = 1;
      JamFaultPlatform faults;
      faults.Arm(mode, call);
      test::ScopedSeekingPlatform use(&faults);
      const bool opened = b.OpenMsg();
      if (!faults.Reached()) {
        ASSERT_TRUE(opened);
        EXPECT_EQ(TextOf(b), "\001MSGID: 1:2/3 4\rthe text\r");
        break;
      }
      if (mode == Mode::kShortOne && !faults.Shortened()) continue;  // no read at that call
      EXPECT_FALSE(opened) << call;
      EXPECT_EQ(b.GetTextStream(), nullptr);
      ASSERT_LT(call, 100);
    }
  }
}

TEST_F(JamRepair, DeletingTheOpenMessageKeepsItReadable) {
  MakeThree();
  JamMsgBase b;
  ASSERT_TRUE(b.OpenMsgBase(Base()));
  b.SeekFirst(2);
  ASSERT_TRUE(b.OpenMsg());
  ASSERT_TRUE(b.DeleteMsg());
  EXPECT_EQ(TextOf(b), "two\r");
  EXPECT_FALSE(b.DeleteMsg());  // once only
  EXPECT_TRUE(b.CloseMsg());
  EXPECT_EQ(Walk(b), (std::vector<std::int32_t>{1, 3}));
  EXPECT_EQ(b.GetMsgCount(), 2);
  ASSERT_TRUE(b.CloseMsgBase());
  EXPECT_EQ(At32(".jhr", kActiveMsgs), 2u);
}

}  // namespace
}  // namespace lw
