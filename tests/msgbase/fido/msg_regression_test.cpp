// Faults measured on *.MSG areas, each shown on a small area.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "fidoutil/helpers.h"
#include "msgbase/fido/fido_msg_base.h"
#include "msgbase/fido/msg_file.h"
#include "msgbase/fido/msg_layout.h"
#include "platform/platform_wrapper.h"
#include "test_util.h"

namespace lw {
namespace {

// Whether a name the base used ends with `tail`, whatever the case of its
// letters and whichever separator it used ("\\1.MSG" on Win32).
bool EndsWith(std::string_view s, std::string_view tail) {
  if (s.size() < tail.size()) return false;
  s = s.substr(s.size() - tail.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    const bool both_separators = platform::IsPathSeparator(s[i]) && platform::IsPathSeparator(tail[i]);
    if (!both_separators && LowerChar(s[i]) != LowerChar(tail[i])) return false;
  }
  return true;
}

// Folder entries in lower case, sorted.
std::vector<std::string> LowerCaseEntries(const std::string& dir) {
  std::vector<std::string> names = test::ListDir(dir);
  for (std::string& n : names) {
    for (char& c : n) c = LowerChar(c);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Fails the k-th call of one kind made on a file whose name ends with
// `suffix` (or, for folder calls, any call of that kind).
class FailKth : public platform::PlatformWrapper {
 public:
  enum Kind { kOpen, kRead, kShortRead, kSize, kWrite, kFlush, kClose, kRename, kSyncDir };
  FailKth(Kind kind, int k, std::string suffix)
      : PlatformWrapper(platform::NativePlatform()), kind_(kind), k_(k), suffix_(std::move(suffix)) {}
  bool failed = false;

  platform::Result OpenFile(std::string_view n, platform::Access a, platform::Sharing s,
                            platform::FileHandle* f) override {
    if (kind_ == kOpen && EndsWith(n, suffix_) && Hit()) return platform::kAccessDenied;
    int rc = target_.OpenFile(n, a, s, f);
    if (rc == platform::kOk && EndsWith(n, suffix_)) watched_ = *f;
    return rc;
  }
  platform::Result CreateNewFile(std::string_view n, platform::FileHandle* f) override {
    int rc = target_.CreateNewFile(n, f);
    if (rc == platform::kOk && EndsWith(n, suffix_)) watched_ = *f;
    return rc;
  }
  platform::Result CreateFile(std::string_view n, platform::Sharing s, platform::FileHandle* f) override {
    int rc = target_.CreateFile(n, s, f);
    if (rc == platform::kOk && EndsWith(n, suffix_)) watched_ = *f;
    return rc;
  }
  platform::Result ReadFile(platform::FileHandle f, void* b, std::size_t n, std::size_t* done) override {
    if (f == watched_ && kind_ == kRead && Hit()) return platform::kDiskReadError;
    if (f == watched_ && kind_ == kShortRead && Hit()) return target_.ReadFile(f, b, n / 2, done);
    return target_.ReadFile(f, b, n, done);
  }
  platform::Result FileSize(platform::FileHandle f, std::int64_t* size) override {
    return f == watched_ && kind_ == kSize && Hit() ? platform::kDiskReadError : target_.FileSize(f, size);
  }
  platform::Result WriteFile(platform::FileHandle f, const void* b, std::size_t n, std::size_t* done) override {
    return f == watched_ && kind_ == kWrite && Hit() ? platform::kDiskWriteError : target_.WriteFile(f, b, n, done);
  }
  platform::Result FlushFile(platform::FileHandle f) override {
    return f == watched_ && kind_ == kFlush && Hit() ? platform::kDiskWriteError : target_.FlushFile(f);
  }
  platform::Result CloseFile(platform::FileHandle f) override {
    int rc = target_.CloseFile(f);
    return f == watched_ && kind_ == kClose && Hit() ? platform::kDiskWriteError : rc;
  }
  platform::Result RenameNoReplace(std::string_view from, std::string_view to) override {
    return kind_ == kRename && Hit() ? platform::kDiskWriteError : target_.RenameNoReplace(from, to);
  }
  platform::Result SyncDirectory(std::string_view dir) override {
    return kind_ == kSyncDir && Hit() ? platform::kDiskWriteError : target_.SyncDirectory(dir);
  }

 private:
  bool Hit() {
    if (++seen_ != k_) return false;
    failed = true;
    return true;
  }
  Kind kind_;
  int k_;
  std::string suffix_;
  int seen_ = 0;
  platform::FileHandle watched_ = platform::kNoFile;
};

class FidoFaults : public ::testing::Test {
 protected:
  void SetUp() override { test::MakeDirs(area_); }
  std::string Name(int n) const { return area_ + "/" + std::to_string(n) + ".msg"; }
  void Put(int n, const test::MsgFile& m) { test::WriteFile(Name(n), m.Bytes()); }
  std::vector<std::int32_t> Walk(FidoMsgBase& base) {
    std::vector<std::int32_t> seen;
    for (base.SeekFirst(1); base.SeekFound(); base.SeekNext()) seen.push_back(base.GetMsgNum());
    return seen;
  }

  test::TempDir dir_;
  std::string area_ = dir_ / "Net";
};

// An open, read, size query or close of a message that fails (or a read
// that comes up short) makes OpenMsg fail: no header or text of zeros is
// ever handed out.
TEST_F(FidoFaults, EveryFailedReadFailsTheOpen) {
  test::MsgFile m;
  m.text = std::string(3000, 't') + "\r";
  Put(1, m);
  const std::string before = test::ReadFile(Name(1));
  for (FailKth::Kind kind : {FailKth::kOpen, FailKth::kRead, FailKth::kShortRead, FailKth::kSize, FailKth::kClose}) {
    for (bool header_only : {false, true}) {
      int failures = 0;
      for (int k = 1;; ++k) {
        FidoMsgBase base;
        ASSERT_TRUE(base.OpenMsgBase(area_));
        base.SeekFirst(1);
        FailKth faults(kind, k, "/1.msg");
        bool opened;
        {
          platform::ScopedPlatform installed(&faults);
          opened = header_only ? base.OpenMsgHeader() : base.OpenMsg();
        }
        if (!faults.failed) {
          ASSERT_TRUE(opened);
          break;
        }
        ++failures;
        EXPECT_FALSE(opened) << "kind " << kind << " call " << k;
        EXPECT_EQ(base.GetTextStream(), nullptr);
        std::string from;
        base.GetFrom(from);
        EXPECT_EQ(from, "");
        ASSERT_LT(k, 100);
      }
      EXPECT_GT(failures, 0) << kind;
    }
  }
  EXPECT_EQ(test::ReadFile(Name(1)), before);
}

TEST_F(FidoFaults, OnlyPlainNumbersAreMessages) {
  Put(5, {});
  Put(61439, {});
  Put(2147483647, {});
  for (const char* name : {"05.msg", "+5.msg", "$5.msg", "-5.msg", " 5.msg", "5 .msg", "5.x.msg", "0.msg",
                           "2147483648.msg", "99999999999.msg", "1e3.msg", ".msg", "7.msgx"}) {
    test::WriteFile(area_ + "/" + name, test::MsgFile{}.Bytes());
  }
  test::MakeDirs(area_ + "/6.msg");  // a folder is no message, whatever its name
  FidoMsgBase base;
  ASSERT_TRUE(base.OpenMsgBase(area_));
  EXPECT_EQ(Walk(base), (std::vector<std::int32_t>{5, 61439, 2147483647}));
  EXPECT_EQ(base.GetMsgCount(), 3);
  EXPECT_EQ(base.GetHighMsgNum(), 2147483647);
  for (std::int32_t n : Walk(base)) {
    base.SeekFirst(n);
    EXPECT_TRUE(base.OpenMsg()) << n;
  }
  // No number is left above the highest one there can be.
  EXPECT_FALSE(base.CreateMsg());
}

TEST_F(FidoFaults, WalksStepOnlyThroughMessagesPresent) {
  Put(1, {});
  Put(3, {});
  test::WriteFile(area_ + "/2147483647.msg", test::MsgFile{}.Bytes());
  FidoMsgBase base;
  ASSERT_TRUE(base.OpenMsgBase(area_));
  EXPECT_EQ(base.GetHighMsgNum(), INT32_MAX);
  EXPECT_EQ(Walk(base), (std::vector<std::int32_t>{1, 3, INT32_MAX}));
  std::vector<std::int32_t> back;
  base.SetMsgPosition(INT32_MAX);
  for (base.SeekPrior(); base.SeekFound(); base.SeekPrior()) back.push_back(base.GetMsgNum());
  EXPECT_EQ(back, (std::vector<std::int32_t>{3, 1}));
  base.SetMsgPosition(INT32_MIN);
  base.SeekPrior();
  EXPECT_FALSE(base.SeekFound());
  for (std::int32_t start : {INT32_MIN, -5, 0, 4, 61439, 61440, INT32_MAX}) {
    base.SeekFirst(start);
    EXPECT_EQ(base.GetMsgNum(), start <= 1 ? 1 : INT32_MAX) << start;
  }
}

TEST_F(FidoFaults, DeleteTheOpenMessage) {
  Put(1, {});
  Put(2, {});
  FidoMsgBase base;
  ASSERT_TRUE(base.OpenMsgBase(area_));
  base.SeekFirst(1);
  ASSERT_TRUE(base.OpenMsg());
  ASSERT_TRUE(base.DeleteMsg());
  EXPECT_TRUE(base.CloseMsg());
  EXPECT_FALSE(test::Exists(Name(1)));
  EXPECT_EQ(Walk(base), (std::vector<std::int32_t>{2}));
  EXPECT_EQ(base.GetMsgCount(), 1);
}

TEST_F(FidoFaults, NumberTakenMeanwhileMovesTheNewMessageOn) {
  Put(1, {});
  FidoMsgBase base;
  ASSERT_TRUE(base.OpenMsgBase(area_));
  ASSERT_TRUE(base.CreateMsg());
  ASSERT_EQ(base.GetMsgNum(), 2);
  base.GetTextStream()->Write("mine\r", 5);
  test::MsgFile other;
  other.text = "theirs\r";
  Put(2, other);  // another program wrote number 2 meanwhile
  ASSERT_TRUE(base.WriteMsg());
  EXPECT_EQ(base.GetMsgNum(), 3);
  base.CloseMsg();
  EXPECT_EQ(test::ReadFile(Name(2)), other.Bytes());
  EXPECT_EQ(test::ReadFile(Name(3)).substr(fido::kMsgHeaderSize), std::string("mine\r\0", 6));
  EXPECT_EQ(Walk(base), (std::vector<std::int32_t>{1, 2, 3}));
}

// A new message follows the highest number in the area, however high, and
// a name taken by anything, a folder included, moves it to the next free
// number; a folder is never read as a message.
TEST_F(FidoFaults, ANewMessageFollowsTheHighestNumberPastTakenNames) {
  struct Case {
    std::vector<std::int32_t> files;
    std::vector<const char*> folders;
    std::int32_t stored_as;
  } const kCases[] = {
      {{7}, {"8.msg"}, 9},
      {{7}, {"8.MSG", "9.msg", "11.msg"}, 10},
      {{70000}, {}, 70001},
      {{5, 61439}, {"61440.msg"}, 61441},
      {{3, 1000000000}, {"1000000001.msg"}, 1000000002},
  };
  for (const Case& c : kCases) {
    const std::string label = std::to_string(c.stored_as);
    area_ = dir_ / ("Net" + label);  // an area of its own
    test::MakeDirs(area_);
    for (std::int32_t n : c.files) Put(n, {});
    for (const char* folder : c.folders) test::MakeDirs(area_ + "/" + folder);
    FidoMsgBase base;
    ASSERT_TRUE(base.OpenMsgBase(area_)) << label;
    EXPECT_EQ(Walk(base), c.files) << label;
    ASSERT_TRUE(base.CreateMsg()) << label;
    base.GetTextStream()->Write("mine\r", 5);
    ASSERT_TRUE(base.WriteMsg()) << label;
    EXPECT_EQ(base.GetMsgNum(), c.stored_as);
    base.CloseMsg();
    ASSERT_TRUE(base.CloseMsgBase()) << label;
    EXPECT_EQ(test::ReadFile(Name(c.stored_as)).substr(fido::kMsgHeaderSize), std::string("mine\r\0", 6)) << label;
    std::vector<std::int32_t> after = c.files;
    after.push_back(c.stored_as);
    ASSERT_TRUE(base.OpenMsgBase(area_)) << label;
    EXPECT_EQ(Walk(base), after) << label;
  }
}

// A message is stored whole or not at all: a failure at any step of the
// store leaves no message file and no temporary file behind.
TEST_F(FidoFaults, FailedStoreLeavesNothing) {
  for (FailKth::Kind kind : {FailKth::kWrite, FailKth::kFlush, FailKth::kRename, FailKth::kSyncDir}) {
    FidoMsgBase base;
    ASSERT_TRUE(base.CreateMsgBase(area_));
    ASSERT_TRUE(base.CreateMsg());
    base.GetTextStream()->Write("text\r", 5);
    FailKth faults(kind, 1, ".tmp");
    bool stored;
    {
      platform::ScopedPlatform installed(&faults);
      stored = base.WriteMsg();
    }
    EXPECT_TRUE(faults.failed) << kind;
    EXPECT_FALSE(stored) << kind;
    EXPECT_EQ(test::ListDir(area_), std::vector<std::string>{}) << kind;
    EXPECT_EQ(base.GetMsgCount(), 0);
  }
}

TEST_F(FidoFaults, LeftoverTemporaryFilesAreIgnoredThenRemoved) {
  Put(1, {});
  test::WriteFile(area_ + "/lwtemp0.tmp", test::MsgFile{}.Bytes().substr(0, 100));
  test::WriteFile(area_ + "/lwtemp17.tmp", "");
  test::WriteFile(area_ + "/lwtempx.tmp", "not ours");
  FidoMsgBase base;
  ASSERT_TRUE(base.OpenMsgBase(area_));
  EXPECT_EQ(Walk(base), (std::vector<std::int32_t>{1}));
  ASSERT_TRUE(base.CreateMsg());
  base.GetTextStream()->Write("x\r", 2);
  ASSERT_TRUE(base.WriteMsg());
  base.CloseMsg();
  EXPECT_EQ(LowerCaseEntries(area_), (std::vector<std::string>{"1.msg", "2.msg", "lwtempx.tmp"}));
}

TEST_F(FidoFaults, SetLastReadReportsEveryFailedStep) {
  FidoMsgBase base;
  ASSERT_TRUE(base.CreateMsgBase(area_));
  ASSERT_TRUE(base.SetLastRead(1, 7));  // creates the file
  const std::string before = test::ReadFile(area_ + "/lastread");
  for (FailKth::Kind kind : {FailKth::kOpen, FailKth::kWrite, FailKth::kFlush, FailKth::kClose}) {
    FailKth faults(kind, 1, "/lastread");
    bool stored;
    {
      platform::ScopedPlatform installed(&faults);
      stored = base.SetLastRead(1, 9);
    }
    EXPECT_TRUE(faults.failed) << kind;
    EXPECT_FALSE(stored) << kind;
  }
  // A lastread file that would not open was left as it was, never emptied.
  FailKth faults(FailKth::kOpen, 1, "/lastread");
  {
    platform::ScopedPlatform installed(&faults);
    EXPECT_FALSE(base.SetLastRead(0, 9));
  }
  EXPECT_EQ(test::ReadFile(area_ + "/lastread").size(), before.size());
  EXPECT_TRUE(base.CloseMsgBase());
}

}  // namespace
}  // namespace lw
