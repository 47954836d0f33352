#include "msgbase/squish/squish_msg_base.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fidoutil/helpers.h"
#include "msgbase/le_bytes.h"
#include "msgbase/msgbase_helpers.h"
#include "msgbase/squish/squish_test_support.h"
#include "test_util.h"

namespace lw {
namespace {

using squish::kBaseHeaderSize;
using squish::kFrameHeaderSize;
using squish::kIndexRecordSize;
using squish::kMsgHeaderSize;
using test::AddMessage;
using test::TextOf;
using test::Walk;

class SquishTest : public ::testing::Test {
 protected:
  std::string Base() const { return dir_ / "area"; }
  std::string Sqd() { return test::ReadFile(Base() + ".sqd"); }

  test::TempDir dir_;
};

TEST_F(SquishTest, FreshBase) {
  SquishMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(dir_ / "sub/dir/area")));
  b.CloseMsgBase();
  std::string sqd = test::ReadFile(dir_ / "sub/dir/area.sqd");
  ASSERT_EQ(sqd.size(), 256u);
  EXPECT_EQ(test::FileSizeOf(dir_ / "sub/dir/area.sqi"), 0);
  EXPECT_FALSE(test::Exists(dir_ / "sub/dir/area.sql"));
  const auto* p = reinterpret_cast<const std::uint8_t*>(sqd.data());
  using namespace squish::base_at;
  EXPECT_EQ(GetLe16(p + kLen), 256);
  EXPECT_EQ(GetLe32(p + kUid), 1u);
  EXPECT_EQ(GetLe32(p + kEndFrame), 256u);
  EXPECT_EQ(GetLe32(p + kMaxMsg), 65535u);
  EXPECT_EQ(GetLe16(p + kKeepDays), 32767);
  EXPECT_EQ(GetLe16(p + kSzSqhdr), 28);
  EXPECT_EQ(std::string(sqd.data() + kBase), dir_ / "sub/dir/area");
  SquishMsgBase again;
  EXPECT_TRUE(again.MsgBaseExists(std::string(dir_ / "sub/dir/AREA")));
  ASSERT_TRUE(again.OpenMsgBase(std::string(dir_ / "sub/dir/area")));
  EXPECT_EQ(again.GetHighMsgNum(), 0);
}

TEST_F(SquishTest, OpenStatusCodes) {
  SquishMsgBase b;
  EXPECT_FALSE(b.OpenMsgBase(std::string(Base())));
  EXPECT_EQ(b.Status, SquishMsgBase::kNoDataFile);
  test::WriteFile(Base() + ".sqd", std::string(256, '\0'));
  EXPECT_FALSE(b.OpenMsgBase(std::string(Base())));
  EXPECT_EQ(b.Status, SquishMsgBase::kNoIndexFile);
  // A data file without a whole header next to index records: nothing to
  // rebuild the messages from.
  test::WriteFile(Base() + ".sqd", "short");
  test::WriteFile(Base() + ".sqi", std::string(12, '\x01'));
  EXPECT_FALSE(b.OpenMsgBase(std::string(Base())));
  EXPECT_EQ(b.Status, SquishMsgBase::kCannotOpenData);
}

TEST_F(SquishTest, NumbersAndFrames) {
  SquishMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  ASSERT_TRUE(b.CreateMsg());
  EXPECT_EQ(b.GetMsgNum(), 1);
  EXPECT_EQ(b.GetHighMsgNum(), 1);  // before WriteMsg
  const std::string text = "\001MSGID: 2:5020/1 abcd\rbody\r";
  b.GetTextStream()->Write(text.data(), static_cast<std::int32_t>(text.size()));
  ASSERT_TRUE(b.WriteMsg());
  EXPECT_EQ(b.FrameOffset(), 256u);
  const std::uint32_t msg_length = kMsgHeaderSize + 22 + 5 + 1;  // header, control info + NUL, body, NUL
  EXPECT_EQ(b.FrameHeader().msg_length, msg_length);
  EXPECT_EQ(b.FrameHeader().clen, 22u);
  EXPECT_EQ(b.BaseHeader().end_frame, kBaseHeaderSize + kFrameHeaderSize + msg_length);
  EXPECT_EQ(b.MessageHeader().attr, 0x00020000u);
  b.CloseMsgBase();
  EXPECT_EQ(test::FileSizeOf(Base() + ".sqd"), kBaseHeaderSize + kFrameHeaderSize + msg_length);
  EXPECT_EQ(test::FileSizeOf(Base() + ".sqi"), kIndexRecordSize);
}

TEST_F(SquishTest, RoundTripOfHeaderAndText) {
  SquishMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  b.SetMsgKind(0);
  ASSERT_TRUE(b.CreateMsg());
  b.SetFrom(std::string("Alice"));
  b.SetTo(std::string("Bob"));
  b.SetSubj(std::string(std::string(100, 's')));
  MsgDateTime dt;
  dt.Year = 2026;
  dt.Month = 12;
  dt.Day = 10;
  dt.Hour = 3;
  dt.Min = 4;
  dt.Sec = 6;
  b.SetDateWritten(dt);
  b.SetDateArrived(dt);
  b.SetAttr(kAttrPrivate, true);
  b.SetAttr(kAttrFileRequest, true);
  b.SetAttr(kAttrScanned, true);
  b.SetAttr(kAttrIsReturnReceipt, true);  // no place in Squish
  const std::string text = "\001MSGID: 2:5020/1.3 cafe0001\r\001INTL 1:2/3 2:5020/1\r\001FMPT 3\rHello\r\nworld\r";
  b.GetTextStream()->Write(text.data(), static_cast<std::int32_t>(text.size()));
  ASSERT_TRUE(b.WriteMsg());
  EXPECT_EQ(std::string(b.MessageHeader().ftsc_date), "10 Dec 26  03:04:06");
  EXPECT_EQ(b.MessageHeader().attr, 0x00020000u | 0x1 | 0x800 | 0x10000);
  EXPECT_EQ(b.MessageHeader().orig[3], 3);
  EXPECT_EQ(b.MessageHeader().dest[0], 1);
  b.CloseMsgBase();

  SquishMsgBase r;
  ASSERT_TRUE(r.OpenMsgBase(std::string(Base())));
  r.SeekFirst(1);
  ASSERT_TRUE(r.OpenMsg());
  std::string s;
  r.GetFrom(s);
  EXPECT_EQ(s, "Alice");
  r.GetSubj(s);
  EXPECT_EQ(s, std::string(71, 's'));
  MsgDateTime back;
  r.GetDateWritten(back);
  EXPECT_EQ(back.Year, 2026);
  EXPECT_EQ(back.Month, 12);
  EXPECT_EQ(back.Sec, 6);
  EXPECT_TRUE(r.IsAttr(kAttrFileRequest));
  EXPECT_TRUE(r.IsAttr(kAttrScanned));
  EXPECT_FALSE(r.IsAttr(kAttrIsReturnReceipt));
  EXPECT_EQ(TextOf(r), "\001MSGID: 2:5020/1.3 cafe0001\r\001INTL 1:2/3 2:5020/1\r\001FMPT 3\rHello\r\nworld\r");
  FidoAddress o, d;
  r.GetAddrs(o, d);
  EXPECT_EQ(FormatAddress(o), "2:5020/1.3");
  EXPECT_EQ(FormatAddress(d), "1:2/3");
}

TEST_F(SquishTest, NoKludgesGivesOneEmptyLine) {
  SquishMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  AddMessage(b, "x", "just text\r");
  EXPECT_EQ(b.FrameHeader().clen, 1u);
  b.SeekFirst(1);
  ASSERT_TRUE(b.OpenMsg());
  EXPECT_EQ(TextOf(b), "\rjust text\r");
  ASSERT_TRUE(b.OpenMsgHeader());
  EXPECT_EQ(TextOf(b), "\r");
}

TEST_F(SquishTest, DeleteKeepsTheWalkAndReusesTheFrame) {
  SquishMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  AddMessage(b, "a", "first message with a long body " + std::string(200, 'x') + "\r");
  AddMessage(b, "b", "second\r");
  AddMessage(b, "c", "third\r");
  EXPECT_EQ(test::WalkDeletingAllBut(b, 3), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(Walk(b), (std::vector<std::int32_t>{3}));
  EXPECT_EQ(b.GetMsgCount(), 1);
  EXPECT_EQ(b.GetHighMsgNum(), 3);
  const std::uint32_t first_frame_length = kMsgHeaderSize + 1 + 232 + 1;
  EXPECT_EQ(b.BaseHeader().free_frame, std::uint32_t{kBaseHeaderSize});
  // A smaller message takes the first free frame and keeps its length.
  std::uint32_t end_before = b.BaseHeader().end_frame;
  AddMessage(b, "d", "small\r");
  EXPECT_EQ(b.FrameOffset(), std::uint32_t{kBaseHeaderSize});
  EXPECT_EQ(b.FrameHeader().frame_length, first_frame_length);
  EXPECT_EQ(b.BaseHeader().end_frame, end_before);
  EXPECT_EQ(Walk(b), (std::vector<std::int32_t>{3, 4}));
  b.CloseMsgBase();
  SquishMsgBase r;
  ASSERT_TRUE(r.OpenMsgBase(std::string(Base())));
  r.SeekFirst(4);
  ASSERT_TRUE(r.OpenMsg());
  EXPECT_EQ(TextOf(r), "\rsmall\r");
  EXPECT_EQ(r.BaseHeader().last_frame, 256u);
}

// A message rewritten larger than its frame moves to a new frame and keeps
// its place in the chain; one that still fits stays where it is.
TEST_F(SquishTest, RewrittenMessageKeepsOrMovesItsFrame) {
  SquishMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  AddMessage(b, "a", "one\r");
  AddMessage(b, "b", "two\r");
  AddMessage(b, "c", "three\r");
  b.SeekFirst(2);
  ASSERT_TRUE(b.OpenMsg());
  const std::uint32_t old_frame = b.FrameOffset();
  b.SetTextPos(0);
  b.TruncateText();
  b.GetTextStream()->Write("2\r", 2);
  ASSERT_TRUE(b.WriteMsg());
  EXPECT_EQ(b.FrameOffset(), old_frame);
  const std::string bigger(1000, 'x');
  b.GetTextStream()->Write(bigger.data(), static_cast<std::int32_t>(bigger.size()));
  ASSERT_TRUE(b.WriteMsg());
  EXPECT_NE(b.FrameOffset(), old_frame);
  EXPECT_EQ(b.BaseHeader().free_frame, old_frame);
  b.CloseMsgBase();

  SquishMsgBase r;
  ASSERT_TRUE(r.OpenMsgBase(std::string(Base())));
  EXPECT_EQ(Walk(r), (std::vector<std::int32_t>{1, 2, 3}));
  r.SeekFirst(2);
  ASSERT_TRUE(r.OpenMsg());
  EXPECT_EQ(TextOf(r), "\r2\r" + bigger);
  // The message chain still runs 1, 2, 3 from begin_frame to last_frame.
  std::vector<std::uint32_t> chain;
  std::string sqd = test::ReadFile(Base() + ".sqd");
  for (std::uint32_t at = r.BaseHeader().begin_frame; at != 0 && chain.size() < 10;
       at = GetLe32(reinterpret_cast<const std::uint8_t*>(sqd.data()) + at + squish::frame_at::kNextFrame)) {
    chain.push_back(
        GetLe32(reinterpret_cast<const std::uint8_t*>(sqd.data()) + at + kFrameHeaderSize + squish::msg_at::kUmsgid));
  }
  EXPECT_EQ(chain, (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST_F(SquishTest, SeekAboveEveryMessage) {
  SquishMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  AddMessage(b, "a", "x\r");
  b.SeekFirst(2);
  EXPECT_FALSE(b.SeekFound());
  EXPECT_TRUE(b.MsgExists(1));
  EXPECT_FALSE(b.MsgExists(2));
  b.SeekFirst(1);
  b.SeekPrior();
  EXPECT_FALSE(b.SeekFound());
}

TEST_F(SquishTest, LastReadFileGrowsWithZeros) {
  SquishMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  EXPECT_EQ(b.GetLastRead(3), 0);
  b.SetLastRead(3, 77);
  std::string sql = test::ReadFile(Base() + ".sql");
  ASSERT_EQ(sql.size(), 16u);
  EXPECT_EQ(sql.substr(0, 12), std::string(12, '\0'));
  EXPECT_EQ(b.GetLastRead(3), 77);
  EXPECT_EQ(b.GetLastRead(4), 0);
}

TEST(SquishHash, CaseOfLatinLettersOnly) {
  EXPECT_EQ(SquishHash(""), 0u);
  EXPECT_EQ(SquishHash("Sysop"), SquishHash("SYSOP"));
  EXPECT_EQ(SquishHash("a"), 0x61u);
  EXPECT_NE(SquishHash("\x80"), SquishHash("\xa0"));  // code page 866 letters are hashed as they are
  EXPECT_EQ(SquishHash(std::string(40, 'z')) & 0x80000000u, 0u);
}

// ---- Damaged bases: status codes, bounded walks, no crash. ----

class DamagedSquish : public SquishTest {
 protected:
  // A base with two messages, closed again.
  void SetUp() override {
    SquishTest::SetUp();
    SquishMsgBase b;
    ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
    AddMessage(b, "a", "\001MSGID: 1:1/1 1\rfirst\r");
    AddMessage(b, "b", "second\r");
  }
  void Patch32(const std::string& file, std::size_t at, std::uint32_t v) {
    std::string s = test::ReadFile(file);
    ASSERT_LE(at + 4, s.size());
    PutLe32(reinterpret_cast<std::uint8_t*>(s.data() + at), v);
    test::WriteFile(file, s);
  }
  // Opens the base, then reads message 1 while the file whose name ends in
  // `file` reads with `patches` (offset, 32-bit value) applied: as if it
  // had changed under the open base (the open repairs what it finds).
  int OpenFirstWhileReading(const std::string& file, std::vector<std::pair<std::uint32_t, std::uint32_t>> patches) {
    PatchedReads damaged(file, std::move(patches));
    platform::ScopedPlatform use(&damaged);
    SquishMsgBase b;
    // The index is read into memory at the open, after its check: a patch
    // of it is in place from the start, and reaches the record the open
    // reads back after repairing the base (as a record changed between the
    // check and that read would).
    damaged.active = file == ".sqi";
    if (!b.OpenMsgBase(std::string(Base()))) return -1;
    damaged.active = true;
    b.SeekFirst(1);
    return b.OpenMsg() ? 0 : b.Status;
  }

  class PatchedReads : public platform::PlatformWrapper {
   public:
    PatchedReads(std::string suffix, std::vector<std::pair<std::uint32_t, std::uint32_t>> patches)
        : PlatformWrapper(platform::NativePlatform()), suffix_(std::move(suffix)) {
      for (const auto& [at, value] : patches) {
        for (std::uint32_t i = 0; i < 4; ++i) bytes_.emplace_back(at + i, static_cast<char>(value >> (8 * i)));
      }
    }
    platform::Result OpenFile(std::string_view name, platform::Access a, platform::Sharing s,
                              platform::FileHandle* f) override {
      const int rc = target_.OpenFile(name, a, s, f);
      // This system's case of the extension, whatever it is.
      auto same = [](char a, char b) { return LowerChar(a) == LowerChar(b); };
      if (rc == platform::kOk && name.size() >= suffix_.size() &&
          std::equal(suffix_.begin(), suffix_.end(), name.end() - static_cast<std::ptrdiff_t>(suffix_.size()), same)) {
        handle_ = *f;
      }
      return rc;
    }
    platform::Result SeekFile(platform::FileHandle f, std::int64_t pos) override {
      if (f == handle_) pos_ = pos;
      return target_.SeekFile(f, pos);
    }
    platform::Result ReadFile(platform::FileHandle f, void* b, std::size_t n, std::size_t* done) override {
      const int rc = target_.ReadFile(f, b, n, done);
      if (f != handle_ || rc != platform::kOk) return rc;
      Patch(pos_, b, *done);
      pos_ += static_cast<std::int64_t>(*done);
      return rc;
    }
    platform::Result ReadFileAt(platform::FileHandle f, std::int64_t pos, void* b, std::size_t n,
                                std::size_t* done) override {
      const int rc = target_.ReadFileAt(f, pos, b, n, done);
      if (f == handle_ && rc == platform::kOk) Patch(pos, b, *done);
      return rc;
    }
    bool active = false;

   private:
    // Puts the patched bytes into `done` bytes read at `pos`.
    void Patch(std::int64_t pos, void* b, std::size_t done) {
      for (const auto& [at, byte] : bytes_) {
        if (active && at >= pos && at < pos + static_cast<std::int64_t>(done)) static_cast<char*>(b)[at - pos] = byte;
      }
    }

    std::string suffix_;
    std::vector<std::pair<std::int64_t, char>> bytes_;
    platform::FileHandle handle_ = platform::kNoFile;
    std::int64_t pos_ = 0;
  };
};

TEST_F(DamagedSquish, FrameFieldsCheckedBeforeUse) {
  struct Case {
    std::uint32_t at;
    std::uint32_t value;
    int status;
  };
  // The first frame starts right after the base header.
  constexpr std::uint32_t kFirst = kBaseHeaderSize;
  using namespace squish::frame_at;
  const Case cases[] = {
      {kFirst + kId, 0x12345678, SquishMsgBase::kBadFrame},
      {kFirst + kFrameType, 1, SquishMsgBase::kBadFrame},             // low word of type/rsvd
      {kFirst + kMsgLength, 10, SquishMsgBase::kBadFrame},            // below the message header + clen
      {kFirst + kMsgLength, 0x7FFFFFFF, SquishMsgBase::kBadFrame},    // beyond the frame
      {kFirst + kFrameLength, 0x7FFFFFFF, SquishMsgBase::kBadFrame},  // frame and message beyond the file
      {kFirst + kClen, 0xFFFFFFF0, SquishMsgBase::kBadFrame},
  };
  for (const Case& c : cases) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> patches{{c.at, c.value}};
    if (c.at == kFirst + kFrameLength) patches.emplace_back(kFirst + kMsgLength, 0x7FFFFF00);
    EXPECT_EQ(OpenFirstWhileReading(".sqd", patches), c.status) << c.at;
  }
}

TEST_F(DamagedSquish, IndexPointingNowhere) {
  const std::string sqd = Sqd();
  const std::string sqi = test::ReadFile(Base() + ".sqi");
  for (std::uint32_t ofs : {0u, 10u, 1000000u, 0xFFFFFFFFu}) {
    test::WriteFile(Base() + ".sqd", sqd);  // the open before repaired the base
    test::WriteFile(Base() + ".sqi", sqi);
    EXPECT_EQ(OpenFirstWhileReading(".sqi", {{0, ofs}}), SquishMsgBase::kFrameIo) << ofs;
  }
}

TEST_F(DamagedSquish, LoopingFreeChainEndsTheSearch) {
  {
    SquishMsgBase b;
    ASSERT_TRUE(b.OpenMsgBase(std::string(Base())));
    b.SeekFirst(1);
    ASSERT_TRUE(b.OpenMsg());
    ASSERT_TRUE(b.DeleteMsg());
  }
  // The freed frame now points at itself.
  Patch32(Base() + ".sqd", kBaseHeaderSize + squish::frame_at::kNextFrame, kBaseHeaderSize);
  SquishMsgBase b;
  ASSERT_TRUE(b.OpenMsgBase(std::string(Base())));
  AddMessage(b, "c", "a message too large for the freed frame " + std::string(500, 'x') + "\r");
  EXPECT_GT(b.FrameOffset(), 256u);
  EXPECT_EQ(Walk(b), (std::vector<std::int32_t>{2, 3}));
}

TEST_F(DamagedSquish, TruncatedAtEveryLengthNeverCrashes) {
  test::SkipSyncs fast;  // every open repairs; real syncs would only cost time here
  platform::ScopedPlatform use(&fast);
  const std::string good = test::ReadFile(Base() + ".sqd");
  const std::string index = test::ReadFile(Base() + ".sqi");
  for (std::size_t len = 0; len < good.size(); len += 7) {
    test::WriteFile(Base() + ".sqd", good.substr(0, len));
    for (std::size_t ilen : {index.size(), index.size() - 5, std::size_t{0}}) {
      test::WriteFile(Base() + ".sqi", index.substr(0, ilen));
      SquishMsgBase b;
      if (!b.OpenMsgBase(std::string(Base()))) continue;
      for (b.SeekFirst(1); b.SeekFound(); b.SeekNext()) {
        if (b.OpenMsg()) b.CloseMsg();
      }
      AddMessage(b, "z", "after damage\r");
    }
  }
}

// A write that fails part way is reported, and no index record points at
// the half-written frame.
TEST_F(SquishTest, FailedWriteIsReported) {
  SquishMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  // The frame goes out in one write: frame header, message header, control
  // info (a NUL), "body\r" and the closing NUL.
  class HalfWritesOfSize : public platform::PlatformWrapper {
   public:
    explicit HalfWritesOfSize(std::size_t size) : PlatformWrapper(platform::NativePlatform()), size_(size) {}
    platform::Result WriteFileAt(platform::FileHandle f, std::int64_t at, const void* b, std::size_t n,
                                 std::size_t* done) override {
      return target_.WriteFileAt(f, at, b, n == size_ ? n / 2 : n, done);
    }

   private:
    std::size_t size_;
  } failing(squish::kFrameHeaderSize + squish::kMsgHeaderSize + 1 + 5 + 1);
  ASSERT_TRUE(b.CreateMsg());
  b.GetTextStream()->Write("body\r", 5);
  platform::ScopedPlatform guard(&failing);
  EXPECT_FALSE(b.WriteMsg());
  EXPECT_EQ(test::FileSizeOf(Base() + ".sqi"), 0);
}

// A text that cannot be read whole is never written: no frame, no index
// record.
TEST_F(SquishTest, TextThatFailsToReadIsNotWritten) {
  SquishMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  ASSERT_TRUE(b.CreateMsg());
  class FailingReads final : public Stream {
   public:
    FailingReads() : Stream(0, "") {}
    void Read(void*, std::int32_t) override { Status = kStreamReadShort; }
    void Write(const void*, std::int32_t) override {}
    void Seek(std::int32_t) override {}
    std::int32_t GetPos() override { return 0; }
    std::int32_t GetSize() override { return 5; }
    void Flush() override {}
    void Truncate() override {}
  } failing;
  Stream* lent = b.Text;
  b.Text = &failing;
  EXPECT_FALSE(b.WriteMsg());
  b.Text = lent;
  EXPECT_EQ(test::FileSizeOf(Base() + ".sqi"), 0);
  EXPECT_EQ(test::FileSizeOf(Base() + ".sqd"), static_cast<std::int64_t>(kBaseHeaderSize));
}

}  // namespace
}  // namespace lw
