// Opening a Squish or JAM base costs the same few reads whatever it holds,
// and still finds and repairs what a crash or another program left.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fault/counting_platform.h"
#include "msgbase/area.h"
#include "msgbase/jam/jam_layout.h"
#include "msgbase/le_bytes.h"
#include "msgbase/msgbase_helpers.h"
#include "msgbase/squish/squish_layout.h"
#include "platform/platform.h"
#include "test_util.h"

namespace lw {
namespace {

using test::AddMessage;
using test::TextOf;
using Texts = std::vector<std::string>;

std::uint32_t Get32(const std::string& file, std::size_t at) {
  const std::string s = test::ReadFile(file);
  return at + 4 <= s.size() ? GetLe32(reinterpret_cast<const std::uint8_t*>(s.data() + at)) : 0xDEADDEAD;
}

void Put32(const std::string& file, std::size_t at, std::uint32_t value) {
  std::string s = test::ReadFile(file);
  ASSERT_LE(at + 4, s.size()) << file;
  PutLe32(reinterpret_cast<std::uint8_t*>(s.data() + at), value);
  test::WriteFile(file, s);
}

void PutBytes(const std::string& file, std::size_t at, const std::uint8_t* bytes, std::size_t count) {
  std::string s = test::ReadFile(file);
  ASSERT_LE(at + count, s.size()) << file;
  s.replace(at, count, reinterpret_cast<const char*>(bytes), count);
  test::WriteFile(file, s);
}

void CutBy(const std::string& file, std::size_t bytes) {
  const std::string s = test::ReadFile(file);
  ASSERT_GE(s.size(), bytes) << file;
  test::WriteFile(file, s.substr(0, s.size() - bytes));
}

// Every message's text, first to last; each must open.
Texts TextsOf(MessageBase& base) {
  Texts texts;
  for (base.SeekFirst(1); base.SeekFound(); base.SeekNext()) {
    EXPECT_TRUE(base.OpenMsg()) << base.GetMsgNum();
    texts.push_back(TextOf(base));
  }
  return texts;
}

// A base of `count` messages, stored in one batch.
void MakeBase(const std::string& area_id, int count) {
  MsgBasePtr base;
  ASSERT_TRUE(OpenOrCreateArea(base, area_id));
  base->BeginBatch();
  for (int i = 1; i <= count; ++i) AddMessage(*base, "sysop", "message " + std::to_string(i) + "\r");
  ASSERT_TRUE(base->CommitBatch());
  ASSERT_TRUE(CloseArea(base));
}

// The reads an open, one append and the close make.
std::int64_t ReadsToAppendOne(const std::string& area_id) {
  test::CountingPlatform reads(platform::NativePlatform(), {0, test::CallKind::kRead, false, {}});
  platform::ScopedPlatform use(&reads);
  MsgBasePtr base;
  EXPECT_TRUE(OpenArea(base, area_id));
  if (!base) return -1;
  AddMessage(*base, "sysop", "one more\r");
  EXPECT_TRUE(CloseArea(base));
  return reads.calls();
}

TEST(OpenCost, ReadsDoNotGrowWithTheMessagesABaseHolds) {
  for (const char* letter : {"S", "J"}) {
    SCOPED_TRACE(letter);
    test::TempDir dir;
    const std::string small = letter + (dir / "small");
    const std::string large = letter + (dir / "large");
    MakeBase(small, 10);
    MakeBase(large, 2000);
    const std::int64_t reads_small = ReadsToAppendOne(small);
    EXPECT_GT(reads_small, 0);
    EXPECT_EQ(ReadsToAppendOne(large), reads_small);
  }
}

// ---- Damage the open finds ----

constexpr std::size_t kSquishIndex = squish::kIndexRecordSize;
constexpr std::size_t kJamIndex = jam::kIndexRecordSize;

struct Damage {
  const char* name;
  char letter;
  // Damages the base at `path` (no extension) of the messages "one",
  // "two" and "three".
  std::function<void(const std::string& path)> apply;
  Texts left;  // what the repaired base holds
};

const std::vector<Damage>& Damages() {
  static const std::vector<Damage> damages = {
      {"Squish: the header counts more than the index", 'S',
       [](const std::string& p) { Put32(p + ".sqd", squish::base_at::kNumMsg, 7); },
       {"one\r", "two\r", "three\r"}},
      {"Squish: an index record past the data file", 'S',
       [](const std::string& p) { Put32(p + ".sqi", 1 * kSquishIndex + squish::index_at::kOfs, 0x100000); },
       {"one\r", "three\r"}},
      {"Squish: the data file cut inside the last frame", 'S', [](const std::string& p) { CutBy(p + ".sqd", 3); },
       {"one\r", "two\r"}},
      {"Squish: the marker of a change that stopped, a frame's link wrong", 'S',
       [](const std::string& p) {
         const std::uint32_t second = Get32(p + ".sqi", 1 * kSquishIndex + squish::index_at::kOfs);
         Put32(p + ".sqd", second + 8, 0);  // prev_frame
         PutBytes(p + ".sqd", squish::base_at::kRsvd2 + squish::kChangeMarkerAt, squish::kChangeMarker,
                  sizeof squish::kChangeMarker);
       },
       {"one\r", "two\r", "three\r"}},
      {"JAM: ActiveMsgs above the index records", 'J',
       [](const std::string& p) { Put32(p + ".jhr", jam::fixed_at::kActiveMsgs, 9); },
       {"one\r", "two\r", "three\r"}},
      {"JAM: an index record past the header file", 'J',
       [](const std::string& p) { Put32(p + ".jdx", 1 * kJamIndex + jam::index_at::kHdrOffset, 0x100000); },
       {"one\r", "three\r"}},
      {"JAM: the text file cut inside the last body", 'J', [](const std::string& p) { CutBy(p + ".jdt", 2); },
       {"one\r", "two\r"}},
      {"JAM: the marker of a change that stopped, a record leading nowhere", 'J',
       [](const std::string& p) {
         const std::uint32_t second = Get32(p + ".jdx", 1 * kJamIndex + jam::index_at::kHdrOffset);
         Put32(p + ".jdx", 1 * kJamIndex + jam::index_at::kHdrOffset, second + 4);
         PutBytes(p + ".jhr", jam::fixed_at::kReserved + jam::kChangeMarkerAt, jam::kChangeMarker,
                  sizeof jam::kChangeMarker);
       },
       {"one\r", "three\r"}},
  };
  return damages;
}

TEST(OpenCheck, DamageOtherSoftwareOrACrashLeftIsRepairedOnOpen) {
  for (const Damage& d : Damages()) {
    SCOPED_TRACE(d.name);
    test::TempDir dir;
    const std::string path = dir / "area";
    const std::string area_id = d.letter + path;
    {
      MsgBasePtr base;
      ASSERT_TRUE(OpenOrCreateArea(base, area_id));
      for (const char* text : {"one\r", "two\r", "three\r"}) AddMessage(*base, "sysop", text);
      ASSERT_TRUE(CloseArea(base));
    }
    d.apply(path);
    MsgBasePtr base;
    ASSERT_TRUE(OpenArea(base, area_id));
    EXPECT_FALSE(base->RepairsOnOpen().empty());
    EXPECT_EQ(TextsOf(*base), d.left);
    EXPECT_EQ(base->GetMsgCount(), static_cast<std::int32_t>(d.left.size()));
    // What is appended now is no part of a damaged message.
    AddMessage(*base, "sysop", "four\r");
    ASSERT_TRUE(CloseArea(base));
    ASSERT_TRUE(OpenArea(base, area_id));
    EXPECT_EQ(base->RepairsOnOpen(), Texts{}) << "the repair did not last";
    Texts now = d.left;
    now.push_back("four\r");
    EXPECT_EQ(TextsOf(*base), now);
    ASSERT_TRUE(CloseArea(base));
  }
}

}  // namespace
}  // namespace lw
