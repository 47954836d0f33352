// Message numbers above 2^31-1, which JAM and Squish bases can hold (their
// numbers are unsigned 32-bit): the walk goes past them and a move deletes
// what it copied.
#include <cstdint>
#include <fstream>

#include "e2e/e2e_fixture.h"

namespace lw::test {
namespace {

MsgFile To(const std::string& to, const std::string& serial) {
  MsgFile m;
  m.to = to;
  m.text = "\001MSGID: 2:5020/1 " + serial + "\rText " + serial + "\r";
  return m;
}

// Writes `value` as 4 little-endian bytes at `offset` of the file at `path`.
void PutLe32At(const std::string& path, std::int64_t offset, std::uint32_t value) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(f.is_open()) << path;
  const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                         static_cast<char>(value >> 24)};
  f.seekp(offset);
  f.write(bytes, 4);
  ASSERT_TRUE(f.good()) << path;
}

class MessageNumbers : public E2E {};

// The message numbered 2^31-1 cannot be read (its body lies past the text
// file): the run warns about it and goes on to the next number.
TEST_F(MessageNumbers, JamWalkGoesPastAnUnreadableMessageAtTheTopOfTheSignedRange) {
  const std::string area = AreaId("J", P("net/area"));
  FillArea(area, {To("Sysop", "00000001"), To("Sysop", "00000002")});
  PutLe32At(P("net/area.jhr"), 20, 0x7FFFFFFFu);       // BaseMsgNum
  PutLe32At(P("net/area.jhr"), 1024 + 64, 0x7FFFFFF0u);  // TxtLen of the first message
  Config({"NETMAIL " + area, "MOVE YES", "PRIORITY TO", "TO Sysop, *dest", "LOG lw.log"});
  const RunResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  const std::vector<StoredMsg> moved = ReadArea("*" + P("dest"));
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_NE(moved[0].text.find("Text 00000002"), std::string::npos);
  bool warned = false;
  for (const std::string& line : LogLines()) warned = warned || line.find("Unable to read message 2147483647") != std::string::npos;
  EXPECT_TRUE(warned);
}

// A UMSGID above 2^31-1 is moved like any other: deleted after its copy,
// so the next run has nothing to copy again.
TEST_F(MessageNumbers, SquishMessageAboveTheSignedRangeIsMovedOnce) {
  const std::string area = AreaId("S", P("net/area"));
  FillArea(area, {});
  PutLe32At(P("net/area.sqd"), 20, 2920235586u);  // the next UMSGID to hand out
  FillArea(area, {To("Sysop", "00000001"), To("Other", "00000002")});
  Config({"NETMAIL " + area, "MOVE YES", "USELASTREAD YES", "USERNUMBER 1", "PRIORITY TO", "TO Sysop, *dest", "LOG lw.log"});
  for (int run = 0; run < 2; ++run) {
    const RunResult r = Run();
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(Msgs("dest").size(), 1u) << "run " << run;
    const std::vector<StoredMsg> left = ReadArea(area);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].to, "Other");
    for (const std::string& line : LogLines()) EXPECT_EQ(line.find("Unable to delete"), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace lw::test
