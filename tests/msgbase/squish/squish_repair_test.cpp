// A base left part way through an update (by a crash of this program or of
// an older one, a full disk or a failing disk) is repaired when opened, and
// an update that fails says so without leaving a header that claims it.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "msgbase/area.h"
#include "msgbase/le_bytes.h"
#include "msgbase/msgbase_helpers.h"
#include "msgbase/squish/squish_msg_base.h"
#include "msgbase/squish/squish_test_support.h"
#include "test_util.h"

namespace lw {
namespace {

using squish::kBaseHeaderSize;
using squish::kFrameHeaderSize;
using squish::kIndexRecordSize;
using squish::kMsgHeaderSize;
using test::AllTexts;
using test::ExpectSquishConsistent;
using test::StoreMessage;
using test::Walk;

std::string Text(int n) {
  return "\001MSGID: 2:5020/1 " + std::to_string(1000 + n) + "\rmessage " + std::to_string(n) + "\r";
}

// Fails (or cuts short) file reads or writes of one size.
class FailIo : public platform::PlatformWrapper {
 public:
  enum What { kReads, kWrites };
  FailIo(What what, std::size_t size, bool short_only = false)
      : PlatformWrapper(platform::NativePlatform()), what_(what), size_(size), short_only_(short_only) {}
  platform::Result ReadFile(platform::FileHandle f, void* b, std::size_t n, std::size_t* done) override {
    if (what_ != kReads || (size_ != 0 && n != size_)) return target_.ReadFile(f, b, n, done);
    return short_only_ ? target_.ReadFile(f, b, n / 2, done) : platform::kDiskReadError;
  }
  platform::Result WriteFile(platform::FileHandle f, const void* b, std::size_t n, std::size_t* done) override {
    if (what_ != kWrites || n != size_) return target_.WriteFile(f, b, n, done);
    return short_only_ ? target_.WriteFile(f, b, n / 2, done) : platform::kDiskWriteError;
  }
  platform::Result ReadFileAt(platform::FileHandle f, std::int64_t at, void* b, std::size_t n,
                              std::size_t* done) override {
    if (what_ != kReads || (size_ != 0 && n != size_)) return target_.ReadFileAt(f, at, b, n, done);
    return short_only_ ? target_.ReadFileAt(f, at, b, n / 2, done) : platform::kDiskReadError;
  }
  platform::Result WriteFileAt(platform::FileHandle f, std::int64_t at, const void* b, std::size_t n,
                               std::size_t* done) override {
    if (what_ != kWrites || n != size_) return target_.WriteFileAt(f, at, b, n, done);
    return short_only_ ? target_.WriteFileAt(f, at, b, n / 2, done) : platform::kDiskWriteError;
  }

 private:
  What what_;
  std::size_t size_;
  bool short_only_;
};

class SquishRepair : public ::testing::Test {
 protected:
  struct Files {
    std::string sqd, sqi;
  };
  std::string Base() const { return dir_ / "area"; }
  Files Save() const { return Files{test::ReadFile(Base() + ".sqd"), test::ReadFile(Base() + ".sqi")}; }
  void Restore(const Files& f) {
    test::WriteFile(Base() + ".sqd", f.sqd);
    test::WriteFile(Base() + ".sqi", f.sqi);
  }
  // A base holding messages 1..count.
  void MakeBase(int count) {
    SquishMsgBase b;
    ASSERT_TRUE(b.CreateMsgBase(Base()));
    for (int i = 1; i <= count; ++i) ASSERT_TRUE(StoreMessage(b, Text(i)));
    ASSERT_TRUE(b.CloseMsgBase());
  }
  void Delete(std::int32_t num) {
    SquishMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(Base()));
    b.SeekFirst(num);
    ASSERT_EQ(b.GetMsgNum(), num);
    ASSERT_TRUE(b.OpenMsg());
    ASSERT_TRUE(b.DeleteMsg());
    ASSERT_TRUE(b.CloseMsgBase());
  }
  // Opens the base: it must hold `texts`, be consistent on disk, and take
  // one more message numbered above all it had.
  void ExpectRepairedTo(const std::vector<std::string>& texts) {
    {
      SquishMsgBase b;
      ASSERT_TRUE(b.OpenMsgBase(Base()));
      EXPECT_EQ(AllTexts(b), texts);
      EXPECT_TRUE(b.CloseMsgBase());
    }
    ExpectSquishConsistent(Base());
    SquishMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(Base()));
    std::vector<std::int32_t> before = Walk(b);
    ASSERT_TRUE(StoreMessage(b, "\001MSGID: 1:1/1 9\rafter the repair\r"));
    for (std::int32_t n : before) EXPECT_GT(b.GetMsgNum(), n);
    ASSERT_TRUE(b.CloseMsgBase());
    ExpectSquishConsistent(Base());
  }
  std::string WithHeaderOf(const std::string& sqd, const std::string& header_from) {
    return header_from.substr(0, kBaseHeaderSize) + sqd.substr(kBaseHeaderSize);
  }

  test::TempDir dir_;
};

// Each state an append can stop in, under the order this program used to
// write (frame, neighbour link, index, header) and under power cuts that
// kept some files' newest data and not others'.
TEST_F(SquishRepair, AppendStoppedPartWay) {
  MakeBase(2);
  const Files two = Save();
  {
    SquishMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(Base()));
    ASSERT_TRUE(StoreMessage(b, Text(3)));
  }
  const Files three = Save();
  const std::vector<std::string> first_two{Text(1), Text(2)};
  const std::vector<std::string> all_three{Text(1), Text(2), Text(3)};
  struct Case {
    const char* name;
    Files files;
    std::vector<std::string> texts;
  } cases[] = {
      {"all but the header", {WithHeaderOf(three.sqd, two.sqd), three.sqi}, all_three},
      {"frame and link, no index record", {WithHeaderOf(three.sqd, two.sqd), two.sqi}, first_two},
      {"index record, frame lost", {two.sqd, three.sqi}, first_two},
      {"index record, frame torn", {three.sqd.substr(0, three.sqd.size() - 9), three.sqi}, first_two},
      {"torn index record", {three.sqd, three.sqi.substr(0, 30)}, first_two},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restore(c.files);
    ExpectRepairedTo(c.texts);
  }
}

// Delete states: the index still lists a message whose frame is already in
// the free chain (every open failed on this before); or such a frame was
// taken again by a newer message.
TEST_F(SquishRepair, DeleteStoppedPartWay) {
  MakeBase(3);
  const Files three = Save();
  Delete(2);
  const Files deleted = Save();
  {
    SquishMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(Base()));
    ASSERT_TRUE(StoreMessage(b, Text(4)));  // takes message 2's frame
    ASSERT_EQ(b.FrameOffset(), GetLe32(reinterpret_cast<const std::uint8_t*>(three.sqi.data()) + kIndexRecordSize));
  }
  const Files reused = Save();
  // 1, 2 (its frame now 4's), 3, 4
  std::string stale_index = three.sqi + reused.sqi.substr(2 * kIndexRecordSize, kIndexRecordSize);

  Restore(Files{deleted.sqd, three.sqi});
  ExpectRepairedTo({Text(1), Text(2), Text(3)});
  Restore(Files{WithHeaderOf(deleted.sqd, three.sqd), three.sqi});
  ExpectRepairedTo({Text(1), Text(2), Text(3)});
  Restore(Files{reused.sqd, stale_index});
  ExpectRepairedTo({Text(1), Text(3), Text(4)});
  // A kept message can be deleted again.
  Restore(Files{deleted.sqd, three.sqi});
  Delete(2);
  ExpectRepairedTo({Text(1), Text(3)});
}

// A header that lies: every field is recomputed from the index and the
// file, and nothing grows the file because the header says so.
TEST_F(SquishRepair, HostileHeaderFields) {
  MakeBase(2);
  Delete(1);
  const Files good = Save();
  struct Case {
    std::size_t at;
    std::uint32_t value;
  } cases[] = {
      {120, 0x7FFFF000u},  // end_frame
      {120, 10},           // end_frame inside the header
      {4, 0xFFFFFFFFu},    // num_msg
      {20, 0},             // uid
      {20, 1},             // uid below the messages'
      {104, 0x7FFFFFF0u},  // begin_frame
      {108, 257},          // last_frame
      {112, 0},            // free_frame dropped
      {116, 1u << 30},     // last_free_frame
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.at);
    Files bad = good;
    PutLe32(reinterpret_cast<std::uint8_t*>(bad.sqd.data()) + c.at, c.value);
    Restore(bad);
    ExpectRepairedTo({Text(2)});
    EXPECT_LT(test::FileSizeOf(Base() + ".sqd"), 4096);
  }
}

// Whatever a stopped creation leaves, the next open or create of the area
// completes the base; a data file that holds messages is never emptied.
TEST_F(SquishRepair, CreationStoppedPartWay) {
  const std::string header = [&] {
    SquishMsgBase b;
    EXPECT_TRUE(b.CreateMsgBase(Base()));
    b.CloseMsgBase();
    return test::ReadFile(Base() + ".sqd");
  }();
  struct Case {
    const char* name;
    const char* sqd;  // nullptr: no such file
    const char* sqi;
  } cases[] = {
      {"empty files", "", ""},         {"torn header", "half", ""},
      {"data file only", "", nullptr}, {"data file with header only", "whole", nullptr},
      {"index only", nullptr, ""},     {"zeroed header", "zeros", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove((Base() + ".sqd").c_str());
    std::remove((Base() + ".sqi").c_str());
    if (c.sqd != nullptr) {
      const std::string kind = c.sqd;
      test::WriteFile(Base() + ".sqd", kind == "half"    ? header.substr(0, 100)
                                       : kind == "whole" ? header
                                       : kind == "zeros" ? std::string(kBaseHeaderSize, '\0')
                                                         : std::string());
    }
    if (c.sqi != nullptr) test::WriteFile(Base() + ".sqi", c.sqi);
    MsgBasePtr area;
    ASSERT_TRUE(OpenOrCreateArea(area, "S" + Base()));
    EXPECT_EQ(area->GetMsgCount(), 0);
    EXPECT_TRUE(StoreMessage(*area, Text(1)));
    EXPECT_TRUE(CloseArea(area));
    ExpectSquishConsistent(Base());
    EXPECT_EQ(test::ReadFile(Base() + ".sqd").substr(0, 104).substr(24), header.substr(24, 80));
  }
  // Messages next to a lost index: creating the area refuses to start over.
  std::remove((Base() + ".sqd").c_str());
  std::remove((Base() + ".sqi").c_str());
  MakeBase(1);
  std::remove((Base() + ".sqi").c_str());
  const std::string sqd = test::ReadFile(Base() + ".sqd");
  MsgBasePtr area;
  EXPECT_FALSE(OpenOrCreateArea(area, "S" + Base()));
  EXPECT_EQ(test::ReadFile(Base() + ".sqd"), sqd);
}

// A full disk while the header of a new base is written: the call fails,
// and the next run completes the base.
TEST_F(SquishRepair, FullDiskWhileCreating) {
  {
    FailIo full(FailIo::kWrites, kBaseHeaderSize);
    platform::ScopedPlatform use(&full);
    SquishMsgBase b;
    EXPECT_FALSE(b.CreateMsgBase(Base()));
  }
  MsgBasePtr area;
  ASSERT_TRUE(OpenOrCreateArea(area, "S" + Base()));
  EXPECT_TRUE(StoreMessage(*area, Text(1)));
  EXPECT_TRUE(CloseArea(area));
  ExpectRepairedTo({Text(1)});
}

// A failed write of the index record (a full disk) or a failed read of the
// previous frame: WriteMsg fails, the header on disk still counts what it
// did, the earlier messages stay in the chain, and the next append in the
// same open of the base works.
TEST_F(SquishRepair, FailedStepOfAnAppend) {
  struct Case {
    const char* name;
    FailIo::What what;
    std::size_t size;
    bool short_only;
    bool indexed;  // the failure came after the index record was synced
  } cases[] = {
      {"index record not written", FailIo::kWrites, kIndexRecordSize, false, false},
      {"index record cut short", FailIo::kWrites, kIndexRecordSize, true, false},
      {"previous frame unreadable", FailIo::kReads, kFrameHeaderSize, false, false},
      {"previous frame read short", FailIo::kReads, kFrameHeaderSize, true, false},
      // The header moves end_frame past the new frame before any record
      // names it, so this failure comes before the index is written.
      {"base header not written", FailIo::kWrites, kBaseHeaderSize, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove((Base() + ".sqd").c_str());
    std::remove((Base() + ".sqi").c_str());
    MakeBase(2);
    const std::string header = test::ReadFile(Base() + ".sqd").substr(0, kBaseHeaderSize);
    SquishMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(Base()));
    {
      FailIo failing(c.what, c.size, c.short_only);
      platform::ScopedPlatform use(&failing);
      EXPECT_FALSE(StoreMessage(b, Text(3)));
    }
    // The counts on disk never run ahead of the index (the frame may be
    // linked and end_frame past it: nothing an index record names).
    EXPECT_EQ(test::ReadFile(Base() + ".sqd").substr(squish::base_at::kNumMsg, 8), header.substr(squish::base_at::kNumMsg, 8));
    EXPECT_TRUE(StoreMessage(b, Text(4)));
    // A message whose record reached the index stays (whole): it is never
    // lost, at worst copied again.
    std::vector<std::string> texts{Text(1), Text(2), Text(4)};
    if (c.indexed) texts.insert(texts.begin() + 2, Text(3));
    EXPECT_EQ(AllTexts(b), texts);
    EXPECT_TRUE(b.CloseMsgBase());
    ExpectRepairedTo(texts);
  }
}

// A read that fails or comes back short never hands out a header or text
// of zeros, and leaves the message that was open as it was.
TEST_F(SquishRepair, FailedReadsOfAMessage) {
  MakeBase(0);
  {
    SquishMsgBase w;
    ASSERT_TRUE(w.OpenMsgBase(Base()));
    ASSERT_TRUE(StoreMessage(w, Text(1), "Alice"));
    ASSERT_TRUE(StoreMessage(w, Text(2) + std::string(300, 'x'), "Carol"));
  }
  const std::size_t clen = std::string("\001MSGID: 2:5020/1 1002").size() + 1;
  const std::size_t frame = kFrameHeaderSize, rest_of_header = kMsgHeaderSize + clen,
                    whole = kMsgHeaderSize + clen + 10 + 300 + 1;
  struct Case {
    std::size_t read_size;
    bool short_only;
    bool header_only;
  } cases[] = {
      {frame, false, false},        {frame, true, false},  {rest_of_header, false, true},
      {rest_of_header, true, true}, {whole, false, false}, {whole, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.read_size << (c.short_only ? " short" : " failed"));
    SquishMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(Base()));
    b.SeekFirst(1);
    ASSERT_TRUE(b.OpenMsg());
    b.SeekFirst(2);
    {
      FailIo failing(FailIo::kReads, c.read_size, c.short_only);
      platform::ScopedPlatform use(&failing);
      EXPECT_FALSE(c.header_only ? b.OpenMsgHeader() : b.OpenMsg());
    }
    std::string from;
    b.GetFrom(from);
    EXPECT_EQ(from, "Alice");
    EXPECT_EQ(test::TextOf(b), Text(1));
    ASSERT_TRUE(b.OpenMsg());
    b.GetFrom(from);
    EXPECT_EQ(from, "Carol");
  }
}

// The open message is deleted while open; closing it afterwards is
// harmless, and lastread values are written durably or reported.
TEST_F(SquishRepair, DeleteWhileOpenAndLastRead) {
  MakeBase(3);
  SquishMsgBase b;
  ASSERT_TRUE(b.OpenMsgBase(Base()));
  b.SeekFirst(2);
  ASSERT_TRUE(b.OpenMsg());
  ASSERT_TRUE(b.DeleteMsg());
  b.CloseMsg();
  b.SeekNext();
  EXPECT_EQ(b.GetMsgNum(), 3);
  EXPECT_TRUE(b.SetLastRead(1, 3));
  {
    FailIo failing(FailIo::kWrites, 4);
    platform::ScopedPlatform use(&failing);
    EXPECT_FALSE(b.SetLastRead(0, 3));
  }
  EXPECT_EQ(b.GetLastRead(1), 3);
  EXPECT_TRUE(b.CloseMsgBase());
  ExpectRepairedTo({Text(1), Text(3)});
}

// Closing reports a file that failed to close.
TEST_F(SquishRepair, FailedCloseIsReported) {
  class FailCloses : public platform::PlatformWrapper {
   public:
    FailCloses() : PlatformWrapper(platform::NativePlatform()) {}
    platform::Result CloseFile(platform::FileHandle f) override {
      target_.CloseFile(f);
      return platform::kDiskWriteError;
    }
  } failing;
  MakeBase(1);
  SquishMsgBase b;
  ASSERT_TRUE(b.OpenMsgBase(Base()));
  platform::ScopedPlatform use(&failing);
  EXPECT_FALSE(b.CloseMsgBase());
}

}  // namespace
}  // namespace lw
