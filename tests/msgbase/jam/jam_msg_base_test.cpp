#include "msgbase/jam/jam_msg_base.h"

#include <gtest/gtest.h>

#include "msgbase/le_bytes.h"
#include "msgbase/msgbase_helpers.h"
#include "platform/platform_wrapper.h"
#include "test_util.h"

namespace lw {
namespace {

using jam::fixed_at::kActiveMsgs;
using jam::fixed_at::kBaseMsgNum;
using jam::fixed_at::kModCounter;
using jam::fixed_at::kPasswordCrc;
using test::AddMessage;

// Where message 1's header and its first subfield lie in a base that holds
// messages from 1 on, and where the index record of message n does.
constexpr std::size_t kFirstHeader = jam::kFixedHeaderSize;
constexpr std::size_t kFirstSubfield = kFirstHeader + jam::kMsgHeaderSize;
constexpr std::size_t IndexAt(std::size_t msg_num, std::size_t field) {
  return (msg_num - 1) * jam::kIndexRecordSize + field;
}
using test::TextOf;
using test::Walk;

class JamTest : public ::testing::Test {
 protected:
  std::string Base() const { return dir_ / "area"; }
  std::uint32_t At32(const std::string& file, std::size_t at) {
    std::string s = test::ReadFile(file);
    return at + 4 <= s.size() ? GetLe32(reinterpret_cast<const std::uint8_t*>(s.data() + at)) : 0xDEADDEAD;
  }
  void Patch32(const std::string& file, std::size_t at, std::uint32_t v) {
    std::string s = test::ReadFile(file);
    ASSERT_LE(at + 4, s.size());
    PutLe32(reinterpret_cast<std::uint8_t*>(s.data() + at), v);
    test::WriteFile(file, s);
  }

  test::TempDir dir_;
};

TEST_F(JamTest, FreshBase) {
  JamMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(dir_ / "new/dir/area")));
  EXPECT_EQ(b.GetHighMsgNum(), 0);
  EXPECT_EQ(b.GetMsgCount(), 0);
  b.CloseMsgBase();
  EXPECT_EQ(test::FileSizeOf(dir_ / "new/dir/area.jhr"), jam::kFixedHeaderSize);
  for (const char* ext : {".jdx", ".jdt", ".jlr"}) EXPECT_EQ(test::FileSizeOf(dir_ / "new/dir/area" + ext), 0);
  std::string jhr = test::ReadFile(dir_ / "new/dir/area.jhr");
  EXPECT_EQ(jhr.substr(jam::fixed_at::kSignature, jam::kSignatureSize), std::string("JAM\0", 4));
  EXPECT_EQ(At32(dir_ / "new/dir/area.jhr", kPasswordCrc), 0xFFFFFFFFu);
  EXPECT_EQ(At32(dir_ / "new/dir/area.jhr", kBaseMsgNum), 1u);
}

TEST_F(JamTest, OpenStatusCodes) {
  JamMsgBase b;
  struct Step {
    const char* create;
    std::int32_t status;
  } steps[] = {{nullptr, JamMsgBase::kNoHeaderFile},
               {".jhr", JamMsgBase::kNoIndexFile},
               {".jdx", JamMsgBase::kNoTextFile},
               {".jdt", JamMsgBase::kNoLastReadFile}};
  for (const Step& s : steps) {
    if (s.create) test::WriteFile(Base() + s.create, "");
    EXPECT_FALSE(b.OpenMsgBase(std::string(Base())));
    EXPECT_EQ(b.Status, s.status);
  }
  // All four files, all empty: a creation that stopped before its fixed
  // header, completed by the open.
  test::WriteFile(Base() + ".jlr", "");
  EXPECT_TRUE(b.OpenMsgBase(std::string(Base())));
  EXPECT_TRUE(b.CloseMsgBase());
  EXPECT_EQ(test::FileSizeOf(Base() + ".jhr"), jam::kFixedHeaderSize);
  // A header file that is not a JAM header stays refused.
  test::WriteFile(Base() + ".jhr", "XYZ");
  EXPECT_FALSE(b.OpenMsgBase(std::string(Base())));
  EXPECT_EQ(b.Status, JamMsgBase::kCannotOpenHeader);
}

TEST_F(JamTest, FirstMessage) {
  JamMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  EXPECT_EQ(AddMessage(b, "Sysop", "\001MSGID: 2:5020/1 12345678\rHello\r"), 1);
  EXPECT_EQ(b.MessageHeader().message_number, 1u);
  EXPECT_EQ(b.HeaderOffset(), kFirstHeader);
  EXPECT_EQ(b.MessageHeader().offset, 0u);
  EXPECT_EQ(b.MessageHeader().txt_len, 6u);
  EXPECT_EQ(b.MessageHeader().msgid_crc, JamCrc("2:5020/1 12345678"));
  EXPECT_EQ(b.MessageHeader().reply_crc, 0xFFFFFFFFu);
  EXPECT_TRUE(b.MsgExists(1));
  EXPECT_EQ(b.GetHighMsgNum(), 1);
  b.CloseMsgBase();
  EXPECT_EQ(At32(Base() + ".jdx", IndexAt(1, jam::index_at::kUserCrc)), JamCrc("sysop"));
  EXPECT_EQ(At32(Base() + ".jdx", IndexAt(1, jam::index_at::kHdrOffset)), kFirstHeader);
  EXPECT_EQ(At32(Base() + ".jhr", kActiveMsgs), 1u);
  EXPECT_EQ(At32(Base() + ".jhr", kModCounter), 1u);
}

TEST_F(JamTest, OnlyKludgesSeenByAndPathGiveAnEmptyBody) {
  JamMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  AddMessage(b, "x", "\001PID: x\rSEEN-BY: 5020/1 2\r\001PATH: 5020/1\r");
  EXPECT_EQ(b.MessageHeader().txt_len, 0u);
  EXPECT_EQ(b.MessageHeader().msgid_crc, 0xFFFFFFFFu);
}

TEST(JamCrc, LatinCaseOnly) {
  EXPECT_EQ(JamCrc(""), 0xFFFFFFFFu);
  EXPECT_EQ(JamCrc("abc"), 0xCADBBE3Du);
  EXPECT_EQ(JamCrc("ABC"), JamCrc("abc"));
  EXPECT_NE(JamCrc("\x80"), JamCrc("\xa0"));
}

TEST_F(JamTest, RoundTripOfHeaderTextAndLineOrder) {
  JamMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  b.SetMsgKind(0);
  ASSERT_TRUE(b.CreateMsg());
  b.SetFrom(std::string("Alice"));
  b.SetTo(std::string("Bob"));
  b.SetSubj(std::string("files.zip"));
  MsgDateTime dt;
  dt.Year = 2026;
  dt.Month = 12;
  dt.Day = 10;
  dt.Hour = 3;
  dt.Min = 4;
  dt.Sec = 5;
  b.SetDateWritten(dt);
  b.SetAttr(kAttrPrivate, true);
  b.SetAttr(kAttrFileAttached, true);
  const std::string text =
      "\001MSGID: 2:5020/1.3 cafe0001\r\001INTL 1:2/3 2:5020/1\r\001FMPT 3\r\001CHRS: CP866 2\r"
      "Hello\r\nworld\rSEEN-BY: 5020/1\r\001PATH: 5020/1\r\001Via 2:5020/1 @20261210\r";
  b.GetTextStream()->Write(text.data(), static_cast<std::int32_t>(text.size()));
  ASSERT_TRUE(b.WriteMsg());
  EXPECT_EQ(b.MessageHeader().attribute, 0x4u | 0x2000u | 0x02000000u);
  b.CloseMsgBase();

  JamMsgBase r;
  ASSERT_TRUE(r.OpenMsgBase(std::string(Base())));
  r.SetMsgKind(0);
  r.SeekFirst(1);
  ASSERT_TRUE(r.OpenMsg());
  std::string s;
  r.GetTo(s);
  EXPECT_EQ(s, "Bob");
  r.GetSubj(s);
  EXPECT_EQ(s, "files.zip");
  MsgDateTime back;
  r.GetDateWritten(back);
  EXPECT_EQ(back.Day, 10);
  EXPECT_EQ(back.Sec, 5);
  EXPECT_TRUE(r.IsAttr(kAttrFileAttached));
  EXPECT_TRUE(r.IsAttr(0x02000000));
  EXPECT_EQ(TextOf(r),
            "\001MSGID: 2:5020/1.3 cafe0001\r\001CHRS: CP866 2\r\001INTL 1:2/3 2:5020/1\r\001FMPT 3\r"
            "Hello\rworld\r\001Via 2:5020/1 @20261210\rSEEN-BY: 5020/1\r\001PATH: 5020/1\r");
  FidoAddress o, d;
  r.GetAddrs(o, d);
  EXPECT_EQ(FormatAddress(o), "2:5020/1.3");
  EXPECT_EQ(FormatAddress(d), "1:2/3");
}

// The body keeps every line with a CR as its ending, whatever ended it in
// the text, and in order around the lines that became subfields.
TEST_F(JamTest, BodyLinesEndInCrWhateverEndedThem) {
  const struct {
    std::string text;
    std::string body;
  } cases[] = {
      {"a\rb\r", "a\rb\r"},
      {"a\r\nb\r\n", "a\rb\r"},
      {std::string("a\0b", 3), "a\rb\r"},
      {"a\rb", "a\rb\r"},
      {"a\r\n\nb\r", "a\r\nb\r"},
      {"\r\r\n\r", "\r\r\r"},
      {"a\r\001PID: x\rb\r\nc\rSEEN-BY: 1/2\rd\r", "a\rb\rc\rd\r"},
  };
  JamMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  for (const auto& c : cases) {
    AddMessage(b, "x", c.text);
    EXPECT_EQ(b.MessageHeader().txt_len, c.body.size()) << testing::PrintToString(c.text);
    const std::int32_t number = b.GetHighMsgNum();
    b.SeekFirst(number);
    ASSERT_TRUE(b.OpenMsg());
    std::string text = TextOf(b);
    // Kludges come back before the body, SEEN-BY after it.
    const std::string kludge = "\001PID: x\r";
    const std::string seen_by = "SEEN-BY: 1/2\r";
    if (text.starts_with(kludge)) text.erase(0, kludge.size());
    if (text.ends_with(seen_by)) text.erase(text.size() - seen_by.size());
    EXPECT_EQ(text, c.body) << testing::PrintToString(c.text);
  }
}

TEST_F(JamTest, ManySeenByLinesComeBackWhole) {
  JamMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  std::string text = "body\r";
  for (int i = 0; i < 800; ++i) text += "SEEN-BY: 5020/" + std::to_string(i) + " 5030/1 5040/2 5050/3\r";
  AddMessage(b, "x", text);
  EXPECT_GT(b.MessageHeader().subfield_len, 12288u);
  b.SeekFirst(1);
  ASSERT_TRUE(b.OpenMsg());
  EXPECT_EQ(TextOf(b), text);
}

TEST_F(JamTest, DeletionKeepsNumbers) {
  JamMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  AddMessage(b, "a", "one\r");
  AddMessage(b, "b", "two\r");
  AddMessage(b, "c", "three\r");
  EXPECT_EQ(test::WalkDeletingAllBut(b, 3), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(Walk(b), (std::vector<std::int32_t>{3}));
  EXPECT_EQ(b.GetMsgCount(), 1);
  EXPECT_EQ(b.GetHighMsgNum(), 3);
  EXPECT_EQ(AddMessage(b, "d", "four\r"), 4);
  b.CloseMsgBase();
  EXPECT_EQ(test::FileSizeOf(Base() + ".jdx"), 4 * jam::kIndexRecordSize);
  EXPECT_EQ(At32(Base() + ".jdx", IndexAt(1, jam::index_at::kHdrOffset)), jam::kNone);
  EXPECT_EQ(At32(Base() + ".jhr", kFirstHeader + jam::header_at::kAttribute) & jam::kAttrDeleted, jam::kAttrDeleted);
  JamMsgBase r;
  ASSERT_TRUE(r.OpenMsgBase(std::string(Base())));
  r.SeekFirst(4);
  ASSERT_TRUE(r.OpenMsg());
  EXPECT_EQ(TextOf(r), "four\r");
}

TEST_F(JamTest, PeerDeletedMessageLeavesTheBaseUnchanged) {
  {
    JamMsgBase b;
    ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
    AddMessage(b, "a", "one\r");
    AddMessage(b, "b", "two\r");
  }
  // Another program deleted message 1 by its attribute only, index intact.
  Patch32(Base() + ".jhr", kFirstHeader + jam::header_at::kAttribute,
          At32(Base() + ".jhr", kFirstHeader + jam::header_at::kAttribute) | jam::kAttrDeleted);
  const std::string jdx = test::ReadFile(Base() + ".jdx");
  JamMsgBase b;
  ASSERT_TRUE(b.OpenMsgBase(std::string(Base())));
  EXPECT_EQ(Walk(b), (std::vector<std::int32_t>{2}));
  b.CloseMsgBase();
  EXPECT_EQ(test::ReadFile(Base() + ".jdx"), jdx);
}

TEST_F(JamTest, LastReadAppendThenUpdateInPlace) {
  JamMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  EXPECT_EQ(b.GetLastRead(7), 0);
  b.SetLastRead(7, 5);
  b.SetLastRead(9, 6);
  b.SetLastRead(7, 8);
  EXPECT_EQ(b.GetLastRead(7), 8);
  EXPECT_EQ(b.GetLastRead(9), 6);
  b.CloseMsgBase();
  EXPECT_EQ(test::FileSizeOf(Base() + ".jlr"), 2 * jam::kLastReadSize);
  EXPECT_EQ(At32(Base() + ".jlr", jam::lastread_at::kHighReadMsg), 8u);  // follows LastReadMsg
  test::WriteFile(Base() + ".jlr", test::ReadFile(Base() + ".jlr") + "odd");
  JamMsgBase r;
  ASSERT_TRUE(r.OpenMsgBase(std::string(Base())));
  EXPECT_EQ(r.GetLastRead(9), 6);
  r.SetLastRead(11, 1);
  r.CloseMsgBase();
  EXPECT_EQ(test::FileSizeOf(Base() + ".jlr"), 3 * jam::kLastReadSize);
}

// ---- Damaged bases ----

class DamagedJam : public JamTest {
 protected:
  void SetUp() override {
    JamTest::SetUp();
    JamMsgBase b;
    ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
    AddMessage(b, "a", "\001MSGID: 1:1/1 1\rfirst\r");
    AddMessage(b, "b", "second\r");
  }
  int OpenFirst() {
    JamMsgBase b;
    if (!b.OpenMsgBase(std::string(Base()))) return -1;
    b.CurMsgNum = 1;
    if (b.OpenMsg()) return 0;
    EXPECT_EQ(b.GetTextStream(), nullptr);
    return b.Status;
  }
};

TEST_F(DamagedJam, OffsetsCheckedBeforeUse) {
  struct Case {
    const char* file;
    std::size_t at;
    std::uint32_t value;
    int status;
  } cases[] = {
      // The open finds these records lead nowhere and empties them.
      {".jdx", IndexAt(1, jam::index_at::kHdrOffset), 0x80000000u, JamMsgBase::kCannotReadMessage},
      {".jdx", IndexAt(1, jam::index_at::kHdrOffset), 1000000u, JamMsgBase::kCannotReadMessage},
      {".jhr", kFirstHeader + jam::header_at::kOffset, 1000000u, JamMsgBase::kBadTextOffset},
      {".jhr", kFirstHeader + jam::header_at::kTxtLen, 1000000u, JamMsgBase::kBadTextOffset},
      {".jhr", kFirstHeader + jam::header_at::kOffset, 0xFFFFFFF0u, JamMsgBase::kBadTextOffset},
      {".jhr", kFirstHeader + jam::header_at::kTxtLen, 0xFFFFFFFFu,
       JamMsgBase::kBadTextOffset},  // Offset + TxtLen wraps in 32 bits
      {".jhr", kFirstHeader + jam::header_at::kSignature, 0x41414141u, JamMsgBase::kCannotReadMessage},
      {".jhr", kFirstHeader + jam::header_at::kSubfieldLen, 0xFFFFFFF0u, JamMsgBase::kCannotReadMessage},
  };
  const std::string jhr = test::ReadFile(Base() + ".jhr");
  const std::string jdx = test::ReadFile(Base() + ".jdx");
  for (const Case& c : cases) {
    test::WriteFile(Base() + ".jhr", jhr);
    test::WriteFile(Base() + ".jdx", jdx);
    Patch32(Base() + c.file, c.at, c.value);
    EXPECT_EQ(OpenFirst(), c.status) << c.file << " " << c.at;
  }
}

TEST_F(DamagedJam, SubfieldLengthsBeyondTheAreaFailTheMessage) {
  const std::string jhr = test::ReadFile(Base() + ".jhr");
  struct Case {
    std::size_t at;
    std::uint32_t value;
  } cases[] = {
      {kFirstSubfield + jam::subfield_at::kDatLen, 0x7FFFFFFFu},  // DatLen of the first subfield
      {kFirstSubfield + jam::subfield_at::kDatLen, 100u},         // runs past SubfieldLen, not past the file
      {kFirstHeader + jam::header_at::kSubfieldLen, 3},           // SubfieldLen smaller than one subfield header
      {kFirstHeader + jam::header_at::kSubfieldLen, 12},          // cuts the first subfield short
  };
  for (const Case& c : cases) {
    test::WriteFile(Base() + ".jhr", jhr);
    Patch32(Base() + ".jhr", c.at, c.value);
    EXPECT_EQ(OpenFirst(), JamMsgBase::kCannotReadMessage) << c.at << " " << c.value;
  }
  test::WriteFile(Base() + ".jhr", jhr);
  EXPECT_EQ(OpenFirst(), 0);
}

TEST_F(DamagedJam, WrongSignatureRefusesTheBase) {
  Patch32(Base() + ".jhr", 0, 0x12345678u);
  JamMsgBase b;
  EXPECT_FALSE(b.OpenMsgBase(std::string(Base())));
  EXPECT_EQ(b.Status, JamMsgBase::kCannotOpenHeader);
}

TEST_F(DamagedJam, TruncatedAtEveryLengthNeverCrashes) {
  const std::string jhr = test::ReadFile(Base() + ".jhr");
  const std::string jdx = test::ReadFile(Base() + ".jdx");
  const std::string jdt = test::ReadFile(Base() + ".jdt");
  for (std::size_t len = 1000; len <= jhr.size(); ++len) {
    test::WriteFile(Base() + ".jhr", jhr.substr(0, len));
    test::WriteFile(Base() + ".jdx", jdx.substr(0, len % (jdx.size() + 1)));
    test::WriteFile(Base() + ".jdt", jdt.substr(0, len % (jdt.size() + 1)));
    JamMsgBase b;
    if (!b.OpenMsgBase(std::string(Base()))) continue;
    for (b.SeekFirst(1); b.SeekFound(); b.SeekNext()) {
      if (b.OpenMsg()) b.CloseMsg();
    }
  }
}

// Moves only half of every write of `size` bytes, positioned or not.
class HalfWritesOfSize : public platform::PlatformWrapper {
 public:
  explicit HalfWritesOfSize(std::size_t size) : PlatformWrapper(platform::NativePlatform()), size_(size) {}
  platform::Result WriteFile(platform::FileHandle f, const void* b, std::size_t n, std::size_t* done) override {
    return target_.WriteFile(f, b, n == size_ ? n / 2 : n, done);
  }
  platform::Result WriteFileAt(platform::FileHandle f, std::int64_t at, const void* b, std::size_t n,
                               std::size_t* done) override {
    return target_.WriteFileAt(f, at, b, n == size_ ? n / 2 : n, done);
  }

 private:
  std::size_t size_;
};

TEST_F(JamTest, FailedWriteIsReported) {
  JamMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(Base())));
  ASSERT_TRUE(b.CreateMsg());
  b.GetTextStream()->Write("body\r", 5);
  HalfWritesOfSize failing(jam::kIndexRecordSize);  // an index record
  platform::ScopedPlatform guard(&failing);
  EXPECT_FALSE(b.WriteMsg());
}

}  // namespace
}  // namespace lw
