// The independent checkers: silent on a base the program wrote, and each
// damage of a table found in a copy of it.
#include "fault/base_checker.h"

#include <gtest/gtest.h>

#include <functional>

#include "msgbase/area.h"
#include "msgbase/jam/jam_layout.h"
#include "msgbase/le_bytes.h"
#include "msgbase/msgbase_helpers.h"
#include "msgbase/squish/squish_layout.h"
#include "test_util.h"

namespace lw::test {
namespace {

// A base of three messages, the middle one deleted, written by the program.
void WriteGoodBase(const std::string& area_id) {
  MsgBasePtr base;
  ASSERT_TRUE(OpenOrCreateArea(base, area_id));
  base->SetMsgKind(0);
  AddMessage(*base, "First", "\001MSGID: 2:5020/1 00000001\rOne\r");
  const std::int32_t middle = AddMessage(*base, "Second", "Two\r");
  AddMessage(*base, "Third", "Three\r");
  base->SeekFirst(middle);
  ASSERT_TRUE(base->OpenMsg());
  base->CloseMsg();
  ASSERT_TRUE(base->DeleteMsg());
  CloseArea(base);
}

std::uint32_t Get32(const std::string& file, std::size_t at) {
  const std::string b = ReadFile(file);
  return GetLe32(reinterpret_cast<const std::uint8_t*>(b.data() + at));
}

void Put32(const std::string& file, std::size_t at, std::uint32_t v) {
  std::string b = ReadFile(file);
  PutLe32(reinterpret_cast<std::uint8_t*>(b.data() + at), v);
  WriteFile(file, b);
}

void PutByte(const std::string& file, std::size_t at, char v) {
  std::string b = ReadFile(file);
  b[at] = v;
  WriteFile(file, b);
}

void Cut(const std::string& file, std::int64_t by) {
  std::string b = ReadFile(file);
  b.resize(static_cast<std::size_t>(static_cast<std::int64_t>(b.size()) - by));
  WriteFile(file, b);
}

struct Damage {
  const char* what;
  char format;  // 'S', 'J' or 'M'
  // Damages the base at `p` (the base path, or the folder of *.MSG).
  std::function<void(const std::string& p)> apply;
  const char* expected;  // part of the violation the checker must report
};

// Offsets of the Squish base header's fields, and of the first index record.
constexpr std::size_t kSqNumMsg = 4, kSqUid = 20, kSqBegin = 104, kSqLast = 108, kSqFree = 112, kSqEnd = 120;
std::uint32_t FirstFrame(const std::string& p) { return Get32(p + ".sqd", kSqBegin); }
std::uint32_t LastFrame(const std::string& p) { return Get32(p + ".sqd", kSqLast); }

// Offsets in JAM files: ActiveMsgs, the second index record's header
// offset, and fields of the first message header.
constexpr std::size_t kJamActive = 12;
std::uint32_t JamHeader(const std::string& p, int record) { return Get32(p + ".jdx", 8 * record + 4); }

const Damage kDamages[] = {
    {"header len", 'S', [](const std::string& p) { Put32(p + ".sqd", 0, 255); }, "base header len"},
    {"num_msg", 'S', [](const std::string& p) { Put32(p + ".sqd", kSqNumMsg, 3); }, "num_msg 3"},
    {"index points past the end", 'S', [](const std::string& p) { Put32(p + ".sqi", 0, 1u << 20); },
     "outside the data file"},
    {"frame id", 'S', [](const std::string& p) { Put32(p + ".sqd", LastFrame(p), 0); }, "no frame id"},
    {"back link", 'S', [](const std::string& p) { Put32(p + ".sqd", LastFrame(p) + 8, 7); }, "links back"},
    {"last_frame", 'S', [](const std::string& p) { Put32(p + ".sqd", kSqLast, FirstFrame(p)); }, "last_frame"},
    {"uid", 'S', [](const std::string& p) { Put32(p + ".sqd", kSqUid, 1); }, "not below"},
    {"same UMSGID twice", 'S', [](const std::string& p) { Put32(p + ".sqi", 16, Get32(p + ".sqi", 4)); }, "twice"},
    {"index order", 'S',
     [](const std::string& p) {
       const std::uint32_t a = Get32(p + ".sqi", 0), b = Get32(p + ".sqi", 12);
       Put32(p + ".sqi", 0, b);
       Put32(p + ".sqi", 12, a);
     },
     "index order differs"},
    {"chain loop", 'S', [](const std::string& p) { Put32(p + ".sqd", LastFrame(p) + 4, FirstFrame(p)); }, "links back"},
    {"free chain into a live frame", 'S', [](const std::string& p) { Put32(p + ".sqd", kSqFree, LastFrame(p)); },
     "free chain reaches the live frame"},
    {"end_frame", 'S', [](const std::string& p) { Put32(p + ".sqd", kSqEnd, 1u << 20); }, "end_frame"},
    {"half-written last frame", 'S', [](const std::string& p) { Cut(p + ".sqd", 20); }, "runs past the end"},
    {"index half a record", 'S', [](const std::string& p) { Cut(p + ".sqi", 5); }, "no whole number"},
    {"fixed header signature", 'J', [](const std::string& p) { PutByte(p + ".jhr", 0, 'X'); },
     "fixed header has no signature"},
    {"ActiveMsgs", 'J', [](const std::string& p) { Put32(p + ".jhr", kJamActive, 3); }, "ActiveMsgs 3"},
    {"index points past the end", 'J', [](const std::string& p) { Put32(p + ".jdx", 4, 1u << 20); }, "points outside"},
    {"header signature", 'J', [](const std::string& p) { PutByte(p + ".jhr", JamHeader(p, 2), 'X'); },
     "no message header"},
    {"text past the end", 'J', [](const std::string& p) { Cut(p + ".jdt", 3); }, "outside the text file"},
    {"subfield longer than SubfieldLen", 'J',
     [](const std::string& p) { Put32(p + ".jhr", JamHeader(p, 0) + jam::kMsgHeaderSize + 4, 5000); },
     "longer than SubfieldLen"},
    {"half-written header at the end", 'J',
     [](const std::string& p) { WriteFile(p + ".jhr", ReadFile(p + ".jhr") + std::string("JAM\0\1\0\0\0", 8)); },
     "runs past the end of the header file"},
    {"index record of another message", 'J', [](const std::string& p) { Put32(p + ".jdx", 4, JamHeader(p, 2)); },
     "points at the header of message 3"},
    {"shorter than a header", 'M', [](const std::string& p) { WriteFile(p + "/7.msg", std::string(100, 'a')); },
     "less than a header"},
    {"from not closed", 'M', [](const std::string& p) { WriteFile(p + "/7.MSG", std::string(300, 'a') + '\0'); },
     "from field is not closed"},
    {"subject not closed", 'M',
     [](const std::string& p) {
       std::string b = ReadFile(p + "/1.msg");
       for (int i = 72; i < 144; ++i) b[static_cast<std::size_t>(i)] = 'x';
       WriteFile(p + "/1.msg", b);
     },
     "subject field is not closed"},
    {"no closing NUL", 'M', [](const std::string& p) { Cut(p + "/3.msg", 1); }, "half written"},
};

// An area identifier (built in place: GCC 12 warns wrongly about the
// operator+ of a literal and a temporary string).
std::string Id(char format, const std::string& path) {
  std::string id(1, format);
  id += path;
  return id;
}

std::string BasePath(const TempDir& dir, char format) { return format == 'M' ? dir / "msg" : dir / "base"; }

TEST(FaultBaseChecker, GoodBasesOfEveryFormatPass) {
  for (char format : {'S', 'J', 'M'}) {
    TempDir dir;
    const std::string id = Id(format, BasePath(dir, format));
    WriteGoodBase(id);
    EXPECT_EQ(CheckArea(id), Violations{}) << format;
    AreaContents c = MessagesOf(id);
    EXPECT_TRUE(c.opened && c.complete) << format;
    EXPECT_EQ(c.messages.size(), 2u) << format;
  }
}

TEST(FaultBaseChecker, EveryDamageIsFound) {
  for (const Damage& d : kDamages) {
    TempDir dir;
    const std::string path = BasePath(dir, d.format);
    const std::string id = Id(d.format, path);
    WriteGoodBase(id);
    d.apply(path);
    const Violations found = CheckArea(id);
    bool named = false;
    std::string all;
    for (const std::string& v : found) {
      named = named || v.find(d.expected) != std::string::npos;
      all += v + "\n";
    }
    EXPECT_TRUE(named) << d.format << " " << d.what
                       << ": expected "
                          " << d.expected << "
                          ", found:\n"
                       << all;
  }
}

TEST(FaultBaseChecker, MissingBaseIsNoDamageButHalfABaseIs) {
  TempDir dir;
  EXPECT_EQ(CheckArea(Id('S', dir / "none")), Violations{});
  EXPECT_EQ(CheckArea(Id('J', dir / "none")), Violations{});
  EXPECT_EQ(CheckArea(Id('M', dir / "none")), Violations{});
  WriteGoodBase(Id('S', dir / "sq"));
  std::remove((dir / "sq.sqi").c_str());
  EXPECT_EQ(CheckArea(Id('S', dir / "sq")), Violations{"data file without index file"});
  EXPECT_FALSE(MessagesOf(Id('S', dir / "none")).opened);
}

}  // namespace
}  // namespace lw::test
