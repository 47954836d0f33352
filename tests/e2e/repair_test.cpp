// larkway --repair: the whole check of one base, what it reports and what
// it leaves.
#include "e2e/e2e_fixture.h"
#include "msgbase/jam/jam_layout.h"
#include "msgbase/le_bytes.h"
#include "msgbase/squish/squish_layout.h"

namespace lw::test {
namespace {

// Raises the little-endian count at `at` of `file` by `by`.
void RaiseCount(const std::string& file, std::size_t at, std::uint32_t by) {
  std::string s = ReadFile(file);
  ASSERT_LE(at + 4, s.size()) << file;
  auto* p = reinterpret_cast<std::uint8_t*>(s.data() + at);
  PutLe32(p, GetLe32(p) + by);
  WriteFile(file, s);
}

class Repair : public E2E {};

TEST_F(Repair, ReportsWhatItMendedAndLeavesASoundBase) {
  struct Case {
    const char* letter;
    const char* count_file;  // the file whose message count another program raised
    std::size_t count_at;
    const char* said;  // the line that names the mend
  } cases[] = {
      {"S", "area.sqd", squish::base_at::kNumMsg, ": the message count was 4, now 2\n"},
      {"J", "area.jhr", jam::fixed_at::kActiveMsgs, ": ActiveMsgs was 4, now 2\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.letter);
    StartOver();
    const std::string area = AreaId(c.letter, P("area"));
    FillArea(area, {MailTo("Sysop", "00000001", true), MailTo("Sysop", "00000002", true)});
    RaiseCount(P(c.count_file), c.count_at, 2);
    RunResult r = RunLarkway({"--repair", area}, dir_.path());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find(area + c.said), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(area + ": repaired\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadArea(area).size(), 2u);
    r = RunLarkway({"-r", area}, dir_.path());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find(area + ": sound, nothing to repair\n"), std::string::npos) << r.out;
  }
}

TEST_F(Repair, ABaseThatDoesNotOpenIsAnErrorNamingIt) {
  struct Case {
    std::string area;
    const char* err_has;
  } cases[] = {
      {AreaId("S", P("missing")), "unable to open messagebase - S"},
      {AreaId("J", P("missing")), "unable to open messagebase - J"},
      {"X" + P("area"), "not an area identifier - X"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.area);
    RunResult r = RunLarkway({"--repair", c.area}, dir_.path());
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace lw::test
