#include "msgbase/fido/fido_msg_base.h"

#include <gtest/gtest.h>

#include "msgbase/fido/msg_file.h"
#include "msgbase/fido/msg_layout.h"
#include "platform/platform_wrapper.h"
#include "test_util.h"

namespace lw {
namespace {

class FidoTest : public ::testing::Test {
 protected:
  void SetUp() override { test::MakeDirs(area_); }
  void Put(int n, const test::MsgFile& m) { test::WriteFile(area_ + "/" + std::to_string(n) + ".msg", m.Bytes()); }
  std::string Text() {
    Stream* t = base_.GetTextStream();
    std::string s(static_cast<std::size_t>(t->GetSize()), '\0');
    t->Seek(0);
    t->Read(s.data(), t->GetSize());
    return s;
  }
  bool Open() { return base_.OpenMsgBase(std::string(area_)); }

  test::TempDir dir_;
  std::string area_ = dir_ / "Net";
  FidoMsgBase base_;
};

TEST_F(FidoTest, DirectoryScan) {
  Put(1, {});
  Put(7, {});
  test::WriteFile(area_ + "/readme.txt", "x");
  test::WriteFile(area_ + "/0.MSG", "x");
  test::WriteFile(area_ + "/abc.MSG", "x");
  test::WriteFile(area_ + "/12a.MSG", "x");
  test::WriteFile(area_ + "/70000.MSG", "x");
  test::WriteFile(area_ + "/3.MSG", "x");
  ASSERT_TRUE(Open());
  EXPECT_EQ(base_.GetMsgCount(), 4);
  EXPECT_EQ(base_.GetHighMsgNum(), 70000);
  EXPECT_TRUE(base_.MsgExists(3));
  EXPECT_TRUE(base_.MsgExists(70000));
  EXPECT_FALSE(base_.MsgExists(0));
  std::vector<int> walk;
  for (base_.SeekFirst(1); base_.SeekFound(); base_.SeekNext()) walk.push_back(base_.GetMsgNum());
  EXPECT_EQ(walk, (std::vector<int>{1, 3, 7, 70000}));
  base_.SeekFirst(8);
  EXPECT_EQ(base_.GetMsgNum(), 70000);
  base_.SeekFirst(70001);
  EXPECT_FALSE(base_.SeekFound());
}

TEST_F(FidoTest, OpenMissingAndEmpty) {
  EXPECT_FALSE(base_.OpenMsgBase(std::string(dir_ / "nothere")));
  EXPECT_EQ(base_.Status, FidoMsgBase::kNoArea);
  ASSERT_TRUE(Open());
  base_.SeekFirst(1);
  EXPECT_FALSE(base_.SeekFound());
  EXPECT_FALSE(base_.OpenMsg());
  EXPECT_EQ(base_.Status, FidoMsgBase::kNoMessage);
  EXPECT_FALSE(base_.CloseMsg());
  EXPECT_EQ(base_.Status, FidoMsgBase::kNoOpenMessage);
}

TEST_F(FidoTest, ReadsHeaderAndText) {
  test::MsgFile m;
  m.text = "\001INTL 2:5020/2 1:100/1\r\001FMPT 4\rHi\r";
  m.attr = 0x0101;
  Put(5, m);
  ASSERT_TRUE(Open());
  base_.SeekFirst(1);
  ASSERT_TRUE(base_.OpenMsg());
  std::string s;
  base_.GetFrom(s);
  EXPECT_EQ(s, "Sender");
  base_.GetTo(s);
  EXPECT_EQ(s, "Sysop");
  EXPECT_EQ(Text(), m.text);
  FidoAddress o, d;
  base_.GetAddrs(o, d);
  EXPECT_EQ(FormatAddress(o), "1:100/1.4");
  EXPECT_EQ(FormatAddress(d), "2:5020/2");
  EXPECT_TRUE(base_.IsAttr(kAttrPrivate));
  EXPECT_TRUE(base_.IsAttr(kAttrLocal));
  EXPECT_FALSE(base_.IsAttr(kAttrScanned));
}

TEST_F(FidoTest, DefaultZoneWithoutKludges) {
  test::MsgFile m;
  m.text = "plain\r";
  Put(1, m);
  ASSERT_TRUE(Open());
  base_.SeekFirst(1);
  ASSERT_TRUE(base_.OpenMsg());
  FidoAddress a;
  base_.GetOrigAddr(a);
  EXPECT_EQ(FormatAddress(a), "2:5020/1");
}

TEST_F(FidoTest, ClosingNulOnlyDroppedWhenPresent) {
  test::MsgFile with;
  with.text = "12345";
  test::MsgFile without = with;
  without.closing_nul = false;
  Put(1, with);
  Put(2, without);
  ASSERT_TRUE(Open());
  for (int n : {1, 2}) {
    base_.SeekFirst(n);
    ASSERT_TRUE(base_.OpenMsg());
    EXPECT_EQ(Text(), "12345") << n;
  }
}

TEST_F(FidoTest, DamagedFilesNeverOverrun) {
  std::string garbage(fido::kMsgHeaderSize, '\xff');
  test::WriteFile(area_ + "/1.msg", garbage);
  test::WriteFile(area_ + "/2.msg", "short");
  test::WriteFile(area_ + "/3.msg", "");
  test::WriteFile(area_ + "/4.msg", std::string(fido::kMsgHeaderSize - 1, 'h'));
  ASSERT_TRUE(Open());
  for (int n = 2; n <= 4; ++n) {  // shorter than a header: damaged, left alone
    const std::string before = test::ReadFile(area_ + "/" + std::to_string(n) + ".msg");
    base_.SeekFirst(n);
    EXPECT_FALSE(base_.OpenMsg()) << n;
    EXPECT_EQ(base_.Status, FidoMsgBase::kDamagedMessage);
    EXPECT_EQ(base_.GetTextStream(), nullptr);
    EXPECT_FALSE(base_.OpenMsgHeader()) << n;
    EXPECT_EQ(test::ReadFile(area_ + "/" + std::to_string(n) + ".msg"), before);
  }
  for (int n = 1; n <= 1; ++n) {
    base_.SeekFirst(n);
    ASSERT_TRUE(base_.OpenMsg());
    std::string s;
    base_.GetFrom(s);
    EXPECT_LE(s.size(), 36u);
    base_.GetSubj(s);
    EXPECT_LE(s.size(), 72u);
    MsgDateTime dt;
    base_.GetDateWritten(dt);
    FidoAddress a;
    base_.GetOrigAddr(a);
    EXPECT_EQ(Text().size(), 0u);
  }
}

TEST_F(FidoTest, ManyFilesThatAreNotMessages) {
  for (int i = 0; i < 100000; ++i) test::WriteFile(area_ + "/file" + std::to_string(i) + ".txt", "");
  Put(5, {});
  ASSERT_TRUE(Open());
  EXPECT_EQ(base_.GetMsgCount(), 1);
  EXPECT_EQ(base_.GetHighMsgNum(), 5);
}

TEST_F(FidoTest, SeveralMegabytesRoundTrip) {
  test::MsgFile m;
  m.text.clear();
  for (int i = 0; i < 100000; ++i) m.text += "line " + std::to_string(i) + " of a large message\r";
  Put(1, m);
  ASSERT_TRUE(Open());
  base_.SeekFirst(1);
  ASSERT_TRUE(base_.OpenMsg());
  EXPECT_EQ(Text(), m.text);
  ASSERT_TRUE(base_.WriteMsg());
  base_.CloseMsg();
  EXPECT_TRUE(test::ReadFile(area_ + "/1.msg") == m.Bytes());
}

TEST_F(FidoTest, HeaderOnlyReadsLeadingKludges) {
  test::MsgFile m;
  m.text = "\001A: 1\r\001B: 2\rbody\r\001C: late\r";
  Put(1, m);
  ASSERT_TRUE(Open());
  base_.SeekFirst(1);
  ASSERT_TRUE(base_.OpenMsgHeader());
  EXPECT_EQ(Text(), "\001A: 1\r\001B: 2\r");
  EXPECT_FALSE(base_.WriteMsg());  // would cut the body off
  base_.CloseMsg();
  EXPECT_EQ(test::ReadFile(area_ + "/1.msg"), m.Bytes());
}

TEST_F(FidoTest, DateTextForms) {
  struct Case {
    const char* text;
    int y, mo, d, h, mi, s;
  } cases[] = {
      {"01 Jan 99  12:34:56", 1999, 1, 1, 12, 34, 56},
      {"01 Jan 05  12:34:56", 2005, 1, 1, 12, 34, 56},
      {"01 Jan 05 12:34:56", 2005, 1, 1, 12, 34, 56},
      {"Tue  5 Feb 02 01:02", 2002, 2, 5, 1, 2, 0},
      {"12-05-01 10:20:30", 2001, 5, 12, 10, 20, 30},
      {"", 2000, 0, 0, 0, 0, 0},
      {"garbage!", 2000, 0, 0, 0, 0, 0},
  };
  int n = 1;
  for (const Case& c : cases) {
    test::MsgFile m;
    m.date_time = c.text;
    Put(n++, m);
  }
  ASSERT_TRUE(Open());
  n = 1;
  for (const Case& c : cases) {
    base_.SeekFirst(n++);
    ASSERT_TRUE(base_.OpenMsg());
    MsgDateTime dt;
    base_.GetDateWritten(dt);
    EXPECT_EQ(dt.Year, c.y) << c.text;
    EXPECT_EQ(dt.Month, c.mo) << c.text;
    EXPECT_EQ(dt.Day, c.d) << c.text;
    EXPECT_EQ(dt.Hour, c.h) << c.text;
    EXPECT_EQ(dt.Min, c.mi) << c.text;
    EXPECT_EQ(dt.Sec, c.s) << c.text;
  }
}

TEST_F(FidoTest, CreateAndWriteMessage) {
  Put(1, {});
  Put(7, {});
  ASSERT_TRUE(Open());
  base_.SetMsgKind(0);
  ASSERT_TRUE(base_.CreateMsg());
  EXPECT_EQ(base_.GetMsgNum(), 8);
  MsgDateTime dt;
  dt.Year = 2001;
  dt.Month = 3;
  dt.Day = 4;
  dt.Hour = 5;
  dt.Min = 6;
  dt.Sec = 7;
  base_.SetDateWritten(dt);
  EXPECT_EQ(std::string(base_.Header().date_time), "04 Mar 01  05:06:07");
  base_.SetFrom(std::string(std::string(50, 'f')));
  EXPECT_EQ(std::string(base_.Header().from), std::string(35, 'f'));
  base_.SetAttr(kAttrPrivate, true);
  base_.SetAttr(kAttrCrash, true);
  base_.SetAttr(kAttrHold, true);
  base_.SetAttr(kAttrSent, false);
  EXPECT_EQ(Text(), "\001FLAGS PVT CRA HLD\r");
  base_.SetAttr(kAttrFileRequest, true);
  EXPECT_EQ(base_.Header().attr & 0x0C00, 0x0800);
  EXPECT_TRUE(base_.IsAttr(kAttrFileRequest));
  base_.SetAttr(kAttrFileRequest, false);
  base_.SetAttr(kAttrCrash, false);
  EXPECT_EQ(Text(), "\001FLAGS PVT HLD\r");
  base_.SetAttr(kAttrPrivate, false);
  base_.SetAttr(kAttrHold, false);
  EXPECT_EQ(Text(), "");
  base_.SetAttr(kAttrLocal, true);
  EXPECT_EQ(Text(), "");
  base_.GetTextStream()->Write("body\r", 5);
  ASSERT_TRUE(base_.WriteMsg());
  ASSERT_TRUE(base_.CloseMsg());
  EXPECT_EQ(test::FileSizeOf(area_ + "/8.msg"), fido::kHeaderSize + 5 + 1);
}

TEST_F(FidoTest, RewriteShrinksTheFile) {
  test::MsgFile m;
  m.text = std::string(500, 'x');
  Put(1, m);
  ASSERT_TRUE(Open());
  base_.SeekFirst(1);
  ASSERT_TRUE(base_.OpenMsg());
  base_.SetTextPos(10);
  base_.TruncateText();
  ASSERT_TRUE(base_.WriteMsg());
  base_.CloseMsg();
  EXPECT_EQ(test::FileSizeOf(area_ + "/1.msg"), fido::kHeaderSize + 10 + 1);
}

TEST_F(FidoTest, CreateSkipsNumbersWrittenSinceTheScan) {
  Put(1, {});
  ASSERT_TRUE(Open());
  Put(2, {});  // another program wrote message 2 after the scan
  const std::string before = test::ReadFile(area_ + "/2.msg");
  ASSERT_TRUE(base_.CreateMsg());
  base_.GetTextStream()->Write("mine\r", 5);
  ASSERT_TRUE(base_.WriteMsg());
  EXPECT_EQ(base_.GetMsgNum(), 3);
  EXPECT_TRUE(base_.MsgExists(2));
  EXPECT_EQ(test::ReadFile(area_ + "/2.msg"), before);
}

TEST_F(FidoTest, DeleteMessage) {
  Put(1, {});
  Put(2, {});
  ASSERT_TRUE(Open());
  base_.SeekFirst(1);
  ASSERT_TRUE(base_.OpenMsg());
  ASSERT_TRUE(base_.CloseMsg());
  ASSERT_TRUE(base_.DeleteMsg());
  EXPECT_FALSE(test::Exists(area_ + "/1.msg"));
  EXPECT_FALSE(base_.MsgExists(1));
  EXPECT_FALSE(base_.DeleteMsg());
  base_.SeekNext();
  EXPECT_EQ(base_.GetMsgNum(), 2);
}

TEST_F(FidoTest, LastReadFile) {
  ASSERT_TRUE(base_.CreateMsgBase(std::string(area_)));
  EXPECT_EQ(base_.GetLastRead(5), 0);
  base_.SetLastRead(3, 70000);
  EXPECT_EQ(test::FileSizeOf(area_ + "/lastread"), 8);
  EXPECT_EQ(base_.GetLastRead(3), 4464);
  test::WriteFile(area_ + "/lastread", std::string(10, '\x01'));
  EXPECT_EQ(base_.GetLastRead(5), 0);
  test::WriteFile(area_ + "/lastread", std::string(10, '\x01') + "\x34\x12");
  EXPECT_EQ(base_.GetLastRead(5), 0x1234);
  test::WriteFile(area_ + "/lastread", std::string(11, '\x01'));  // odd length
  EXPECT_EQ(base_.GetLastRead(5), 0);
  EXPECT_EQ(base_.GetLastRead(4), 0x0101);
  EXPECT_EQ(base_.GetLastRead(-1), 0);
}

TEST_F(FidoTest, CreateMsgBaseMakesMissingFolders) {
  FidoMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(std::string(dir_ / "x/y/z")));
  EXPECT_TRUE(test::Exists(dir_ / "x/y/z"));
  ASSERT_TRUE(b.CreateMsg());
  EXPECT_EQ(b.GetMsgNum(), 1);
}

// Each failing step of a store makes WriteMsg report failure.
class FailingStep : public platform::PlatformWrapper {
 public:
  enum Step { kWrite, kRename, kFlush };
  explicit FailingStep(Step step) : PlatformWrapper(platform::NativePlatform()), step_(step) {}
  platform::Result WriteFile(platform::FileHandle f, const void* b, std::size_t n, std::size_t* done) override {
    if (step_ != kWrite) return target_.WriteFile(f, b, n, done);
    *done = n / 2;  // the disk filled up half way
    return platform::kOk;
  }
  platform::Result RenameNoReplace(std::string_view from, std::string_view to) override {
    return step_ == kRename ? platform::kDiskWriteError : target_.RenameNoReplace(from, to);
  }
  platform::Result FlushFile(platform::FileHandle f) override {
    return step_ == kFlush ? platform::kDiskWriteError : target_.FlushFile(f);
  }

 private:
  Step step_;
};

TEST_F(FidoTest, WriteMsgReportsEveryFailedStep) {
  for (FailingStep::Step step : {FailingStep::kWrite, FailingStep::kRename, FailingStep::kFlush}) {
    FidoMsgBase b;
    ASSERT_TRUE(b.CreateMsgBase(std::string(area_)));
    ASSERT_TRUE(b.CreateMsg());
    b.GetTextStream()->Write("text\r", 5);
    FailingStep failing(step);
    platform::SetPlatform(&failing);
    bool stored = b.WriteMsg();
    platform::SetPlatform(nullptr);
    EXPECT_FALSE(stored) << step;
  }
}

}  // namespace
}  // namespace lw
