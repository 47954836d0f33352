// The contract every message-base format keeps, run over *.MSG, Squish and
// JAM alike through the MessageBase interface: what is stored reads back,
// a header rewritten in place keeps the rest, a walk survives deleting as
// it goes, a failed change is all or nothing and leaves every other
// message as it was, and damaged input is refused rather than handed out in
// part.  The per-format suites test what
// only one format does.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fault/base_checker.h"
#include "fault/counting_platform.h"
#include "fidoutil/helpers.h"
#include "msgbase/area.h"
#include "msgbase/msgbase_helpers.h"
#include "msgbase/text_lines.h"
#include "test_util.h"

namespace lw {
namespace {

// A file that holds a stored message, and the cuts of it the format can
// tell from a whole message.
struct Damage {
  std::string file;               // under the scratch folder
  std::int64_t detectable_below;  // every cut shorter than this; -1: any cut
};

struct FormatCase {
  const char* name;
  char letter;            // the area identifier's format letter
  const char* base_name;  // the base under the scratch folder
  std::vector<Damage> damages;
};

// A message with every header field and kludge lines ahead of the body.
struct Sample {
  std::string from = "Ann Sender";
  std::string to = "Bob Receiver";
  std::string subject = "Contract check";
  FidoAddress orig{2, 5020, 1, 7};
  FidoAddress dest{2, 5030, 2, 0};
  MsgDateTime written{.Hour = 13, .Min = 45, .Sec = 30, .Day = 9, .Month = 12, .Year = 2026};
  std::string pid_line = "\001PID: contract 1";
  std::vector<std::string> body = {"First line", "", "Second line, after an empty one",
                                   " * Origin: there (2:5020/1.7)"};
};

// The lines of `text` that are not kludge lines, by FindLineEnd's rule.
std::vector<std::string> BodyLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t from = 0; from < text.size();) {
    LineBounds line = FindLineEnd(text, from);
    std::string s = text.substr(from, line.end - from);
    if (s.empty() || s[0] != kKludgeChar) lines.push_back(s);
    from = line.next;
  }
  // A closing NUL a format stores after the text is no line of it.
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

// Creates the sample message in the open base, ready for WriteMsg; false
// when CreateMsg failed.
bool ComposeSample(MessageBase& base, const Sample& m) {
  if (!base.CreateMsg()) return false;
  base.SetMsgKind(0);
  base.SetFrom(m.from);
  base.SetTo(m.to);
  base.SetSubj(m.subject);
  base.SetDateWritten(m.written);
  base.SetDateArrived(m.written);
  std::string text = m.pid_line + "\r";
  for (const std::string& line : m.body) text += line + "\r";
  base.GetTextStream()->Write(text.data(), static_cast<std::int32_t>(text.size()));
  base.SetAddrs(m.orig, m.dest, true);
  base.SetAttr(kAttrPrivate, true);
  base.SetAttr(kAttrCrash, true);
  return true;
}

// Every field of the open message against the sample.
void ExpectSample(MessageBase& base, const Sample& m) {
  std::string s;
  base.GetFrom(s);
  EXPECT_EQ(s, m.from);
  base.GetTo(s);
  EXPECT_EQ(s, m.to);
  base.GetSubj(s);
  EXPECT_EQ(s, m.subject);
  FidoAddress orig, dest;
  base.GetAddrs(orig, dest);
  EXPECT_EQ(FormatAddress4D(orig), FormatAddress4D(m.orig));
  EXPECT_EQ(FormatAddress4D(dest), FormatAddress4D(m.dest));
  EXPECT_TRUE(base.IsAttr(kAttrPrivate));
  EXPECT_TRUE(base.IsAttr(kAttrCrash));
  EXPECT_FALSE(base.IsAttr(kAttrReceived));
  MsgDateTime dt;
  base.GetDateWritten(dt);
  EXPECT_EQ(FtscDateText(dt), FtscDateText(m.written));
  EXPECT_TRUE(base.GetKludge("\001PID:", s));
  EXPECT_EQ(s, m.pid_line);
  EXPECT_TRUE(base.GetKludge("\001MSGID:", s));
  EXPECT_TRUE(s.starts_with("\001MSGID: 2:5020/1.7 ")) << s;
  EXPECT_EQ(BodyLines(test::TextOf(base)), m.body);
}

// The messages of an area, one described message a line, for failure output.
std::vector<std::string> Described(const test::MessageCounts& messages) {
  std::vector<std::string> out;
  for (const auto& [m, n] : messages) out.push_back(test::Describe(m) + " x" + std::to_string(n));
  return out;
}

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class FormatContract : public ::testing::TestWithParam<FormatCase> {
 protected:
  std::string AreaId() const { return std::string(1, GetParam().letter) + (dir_ / GetParam().base_name); }
  // The area opened (or created) as a netmail area, as a scan opens it:
  // the kind is the caller's to say, and a format reads by it.
  MsgBasePtr Open() {
    MsgBasePtr base;
    EXPECT_TRUE(OpenOrCreateArea(base, AreaId())) << AreaId();
    if (base) base->SetMsgKind(0);
    return base;
  }
  // Stores the sample in a new message; its number.
  std::int32_t StoreSample(MessageBase& base) {
    EXPECT_TRUE(ComposeSample(base, sample_));
    EXPECT_TRUE(base.WriteMsg());
    base.CloseMsg();
    return base.GetMsgNum();
  }
  // The text of message `num`, read whole.
  std::string TextOfMessage(MessageBase& base, std::int32_t num) {
    base.SeekFirst(num);
    EXPECT_EQ(base.GetMsgNum(), num);
    EXPECT_TRUE(base.OpenMsg());
    std::string text = test::TextOf(base);
    base.CloseMsg();
    return text;
  }
  void ExpectConsistent() { EXPECT_EQ(test::CheckArea(AreaId()), test::Violations{}); }
  // Every file under the scratch folder, by path.
  // The entry of `files` for `path`, whatever the case of its name (the
  // Win32 build may write names in upper case).
  static std::map<std::string, std::string>::const_iterator FindFile(const std::map<std::string, std::string>& files,
                                                                     const std::string& path) {
    const auto folded = [](std::string text) {
      for (char& c : text) c = LowerChar(c);
      return text;
    };
    for (auto it = files.begin(); it != files.end(); ++it) {
      if (folded(it->first) == folded(path)) return it;
    }
    return files.end();
  }
  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir_.path())) {
      if (e.is_regular_file()) files[e.path().generic_string()] = test::ReadFile(e.path().generic_string());
    }
    return files;
  }
  // The scratch folder holding exactly `files` (and their folders).
  void RestoreFiles(const std::map<std::string, std::string>& files) const {
    for (const auto& e : std::filesystem::directory_iterator(dir_.path())) std::filesystem::remove_all(e.path());
    for (const auto& [path, bytes] : files) {
      test::MakeDirs(std::filesystem::path(path).parent_path().string());
      test::WriteFile(path, bytes);
    }
  }

  test::TempDir dir_;
  Sample sample_;
};

TEST_P(FormatContract, StoredMessageReadsBackWhole) {
  MsgBasePtr base = Open();
  const std::int32_t num = StoreSample(*base);
  ASSERT_TRUE(CloseArea(base));
  base = Open();
  EXPECT_EQ(test::Walk(*base), std::vector<std::int32_t>{num});
  EXPECT_EQ(base->GetMsgCount(), 1);
  base->SeekFirst(num);
  ASSERT_TRUE(base->OpenMsg());
  ExpectSample(*base, sample_);
  base->CloseMsg();
  EXPECT_TRUE(CloseArea(base));
  ExpectConsistent();
}

// WriteMsgHeader rewrites the header of a stored message in place: the new
// attributes read back, every other field and the text stay, and the
// neighbouring messages are untouched.
TEST_P(FormatContract, HeaderRewrittenInPlaceKeepsTheRest) {
  MsgBasePtr base = Open();
  const std::int32_t before = test::AddMessage(*base, "Before", "before\r");
  const std::int32_t num = StoreSample(*base);
  const std::int32_t after = test::AddMessage(*base, "After", "after\r");
  const std::string text = TextOfMessage(*base, num);
  const std::string neighbours = TextOfMessage(*base, before) + TextOfMessage(*base, after);
  base->SeekFirst(num);
  ASSERT_TRUE(base->OpenMsg());
  base->SetAttr(kAttrReceived, true);
  base->SetAttr(kAttrCrash, false);
  ASSERT_TRUE(base->WriteMsgHeader());
  base->CloseMsg();
  ASSERT_TRUE(CloseArea(base));

  base = Open();
  EXPECT_EQ(test::Walk(*base), (std::vector<std::int32_t>{before, num, after}));
  base->SeekFirst(num);
  ASSERT_TRUE(base->OpenMsg());
  EXPECT_TRUE(base->IsAttr(kAttrReceived));
  EXPECT_FALSE(base->IsAttr(kAttrCrash));
  EXPECT_TRUE(base->IsAttr(kAttrPrivate));
  std::string s;
  base->GetSubj(s);
  EXPECT_EQ(s, sample_.subject);
  base->CloseMsg();
  EXPECT_EQ(TextOfMessage(*base, num), text);
  EXPECT_EQ(TextOfMessage(*base, before) + TextOfMessage(*base, after), neighbours);
  EXPECT_TRUE(CloseArea(base));
  ExpectConsistent();
}

// Deleting the current message while walking neither skips nor repeats a
// message, and the one kept survives whole.
TEST_P(FormatContract, WalkWhileDeletingSeesEveryMessageOnce) {
  MsgBasePtr base = Open();
  std::vector<std::int32_t> nums;
  for (int i = 0; i < 5; ++i) nums.push_back(i == 2 ? StoreSample(*base) : test::AddMessage(*base, "x", "text\r"));
  EXPECT_EQ(test::WalkDeletingAllBut(*base, nums[2]), nums);
  ASSERT_TRUE(CloseArea(base));
  base = Open();
  EXPECT_EQ(test::Walk(*base), std::vector<std::int32_t>{nums[2]});
  EXPECT_EQ(base->GetMsgCount(), 1);
  base->SeekFirst(nums[2]);
  ASSERT_TRUE(base->OpenMsg());
  ExpectSample(*base, sample_);
  base->CloseMsg();
  EXPECT_TRUE(CloseArea(base));
  ExpectConsistent();
}

// A message is deleted by its number without being read first (as a move
// deletes the sources of a batch: highest number first, in one batch), and
// the messages between them stay whole.
TEST_P(FormatContract, DeletedByNumberWithoutReadingIt) {
  MsgBasePtr base = Open();
  std::vector<std::int32_t> nums;
  for (int i = 0; i < 6; ++i) nums.push_back(i == 3 ? StoreSample(*base) : test::AddMessage(*base, "x", "text\r"));
  const std::vector<std::int32_t> doomed{nums[4], nums[2], nums[1], nums[0]};
  base->BeginBatch();
  for (const std::int32_t num : doomed) {
    base->SeekFirst(num);
    ASSERT_EQ(base->GetMsgNum(), num);
    EXPECT_TRUE(base->DeleteMsg()) << num;
  }
  ASSERT_TRUE(base->CommitBatch());
  ASSERT_TRUE(CloseArea(base));
  base = Open();
  EXPECT_EQ(test::Walk(*base), (std::vector<std::int32_t>{nums[3], nums[5]}));
  EXPECT_EQ(base->GetMsgCount(), 2);
  base->SeekFirst(nums[3]);
  ASSERT_TRUE(base->OpenMsg());
  ExpectSample(*base, sample_);
  base->CloseMsg();
  EXPECT_TRUE(CloseArea(base));
  ExpectConsistent();
}

// One change run with a fault at each file-system call in turn (until a
// run reaches none): a change reported done is there; one reported failed
// is there whole or not at all, every other message as it was; and the
// base is consistent either way.
TEST_P(FormatContract, FailedChangeIsAllOrNothing) {
  struct Change {
    const char* name;
    std::function<bool(const Sample&, MessageBase&)> run;
  } changes[] = {
      {"store", [](const Sample& sample, MessageBase& b) { return ComposeSample(b, sample) && b.WriteMsg(); }},
      {"delete",
       [](const Sample&, MessageBase& b) {
         b.SeekFirst(1);
         return b.GetMsgNum() == 1 && b.OpenMsg() && b.DeleteMsg();
       }},
  };
  MsgBasePtr base = Open();
  test::AddMessage(*base, "One", "one\r");
  test::AddMessage(*base, "Two", "two\r");
  ASSERT_TRUE(CloseArea(base));
  const std::map<std::string, std::string> seed = Files();
  const std::vector<std::string> before = Described(test::MessagesOf(AreaId()).messages);
  for (const Change& change : changes) {
    // What the change leaves when nothing fails.
    RestoreFiles(seed);
    ASSERT_TRUE(OpenArea(base, AreaId()));
    ASSERT_TRUE(change.run(sample_, *base));
    ASSERT_TRUE(CloseArea(base));
    const std::vector<std::string> changed = Described(test::MessagesOf(AreaId()).messages);
    for (std::int64_t fail_at = 1; fail_at < 2000; ++fail_at) {
      RestoreFiles(seed);
      test::FaultPlan plan;
      plan.fail_at = fail_at;
      test::CountingPlatform counting(platform::NativePlatform(), plan);
      bool done = false;
      {
        platform::ScopedPlatform use(&counting);
        if (OpenArea(base, AreaId())) {
          done = change.run(sample_, *base);
          CloseArea(base);
        }
      }
      base.reset();
      SCOPED_TRACE(std::string(change.name) + " with call " + std::to_string(fail_at) + " (" +
                   test::CallKindName(counting.failed_kind()) + " " + counting.failed_name() + ") failing");
      // As a program that never repairs finds it, before our open may.
      EXPECT_EQ(test::CheckArea(AreaId(), test::CheckMode::kRaw), test::Violations{});
      const test::AreaContents after = test::MessagesOf(AreaId());
      ASSERT_TRUE(after.opened && after.complete);
      const std::vector<std::string> now = Described(after.messages);
      if (done) {
        EXPECT_EQ(now, changed);
      } else if (now != before) {
        // Only a step after the change was whole failed (making it durable,
        // or the base's own header): the change is there whole.
        EXPECT_EQ(now, changed);
      }
      ExpectConsistent();
      if (!counting.reached()) break;
    }
  }
}

// A stored message cut short anywhere the format can tell is refused:
// the base does not open, or the message does not, with Status set; what
// opens is the whole message.
TEST_P(FormatContract, DamagedMessageRefusedNeverHandedOutInPart) {
  MsgBasePtr base = Open();
  StoreSample(*base);
  ASSERT_TRUE(CloseArea(base));
  const std::map<std::string, std::string> stored = Files();
  int refused = 0;  // damaged bases or messages refused
  for (const Damage& damage : GetParam().damages) {
    const std::string path = dir_ / damage.file;
    const auto found = FindFile(stored, path);
    ASSERT_TRUE(found != stored.end()) << path;
    const std::string& whole = found->second;
    const std::int64_t limit = damage.detectable_below < 0
                                   ? static_cast<std::int64_t>(whole.size())
                                   : std::min<std::int64_t>(damage.detectable_below, whole.size());
    // Every cut of the first bytes, then a spread over the rest: each
    // open may repair and sync, so every byte would make the test slow.
    for (std::int64_t cut = 0; cut < limit; cut += cut < 64 ? 1 : 1 + limit / 64) {
      SCOPED_TRACE(damage.file + " cut to " + std::to_string(cut));
      RestoreFiles(stored);
      test::WriteFile(path, whole.substr(0, static_cast<std::size_t>(cut)));
      MsgBasePtr damaged;
      ASSERT_TRUE(NewMsgBaseForArea(AreaId(), damaged));
      AreaKind kind;
      std::string base_path;
      ParseAreaId(AreaId(), kind, base_path);
      if (!damaged->OpenMsgBase(base_path)) {
        ++refused;
        continue;
      }
      damaged->SetMsgKind(0);
      int steps = 0;
      for (damaged->SeekFirst(1); damaged->SeekFound(); damaged->SeekNext()) {
        ASSERT_LT(++steps, 100) << "the walk does not end";
        damaged->Status = 0;
        if (damaged->OpenMsg()) {
          ExpectSample(*damaged, sample_);
          damaged->CloseMsg();
        } else {
          EXPECT_NE(damaged->Status, 0);
          ++refused;
        }
      }
      damaged->CloseMsgBase();
    }
  }
  EXPECT_GT(refused, 0);
}

// A *.MSG file has no length of its text: only a cut into its header shows.
const FormatCase kFormats[] = {
    {"Msg", 'M', "netmail", {{"netmail/1.msg", 190}}},
    {"Squish", 'S', "area", {{"area.sqd", -1}}},
    {"Jam", 'J', "area", {{"area.jhr", -1}, {"area.jdt", -1}}},
};

INSTANTIATE_TEST_SUITE_P(AllFormats, FormatContract, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lw
