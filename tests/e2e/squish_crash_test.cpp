// Runs of the program on Squish bases that an earlier run (of this or an
// older version) left part way through an update: the run repairs them and
// goes on, instead of failing on the area every time.
#include "e2e/e2e_fixture.h"
#include "msgbase/area.h"
#include "msgbase/squish/squish_test_support.h"

namespace lw::test {
namespace {

std::string Text(const std::string& to, const std::string& serial) {
  return "\001MSGID: 2:5020/1 " + serial + "\r\001INTL 2:5020/2 2:5020/1\rText for " + to + "\r";
}

MsgFile To(const std::string& to, const std::string& serial) {
  MsgFile m;
  m.to = to;
  m.text = Text(to, serial);
  return m;
}

std::vector<std::string> TextsOf(const std::string& area_id) {
  MsgBasePtr base;
  EXPECT_TRUE(OpenArea(base, area_id)) << area_id;
  if (!base) return {};
  std::vector<std::string> texts = AllTexts(*base);
  EXPECT_TRUE(CloseArea(base));
  return texts;
}

using SquishRuns = E2E;

// A creation of the destination that was killed before the header was
// written left two empty files.
TEST_F(SquishRuns, DestinationLeftByAStoppedCreation) {
  MakeDirs(P("out"));
  WriteFile(P("out/dest.sqd"), "");
  WriteFile(P("out/dest.sqi"), "");
  PutMsg("net", 1, To("Sysop", "00000001"));
  Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, " + AreaId("S", P("out/dest")), "LOG lw.log"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(TextsOf(AreaId("S", P("out/dest"))), (std::vector<std::string>{Text("Sysop", "00000001")}));
  EXPECT_TRUE(Msgs("net").empty());
  ExpectSquishConsistent(P("out/dest"));
}

// A netmail area whose index still lists a message whose frame a stopped
// delete had already put into the free chain.
TEST_F(SquishRuns, NetmailAreaLeftByAStoppedDelete) {
  const std::string area = AreaId("S", P("net/area"));
  {
    MsgBasePtr base;
    ASSERT_TRUE(OpenOrCreateArea(base, area));
    for (const auto& [to, serial] : std::vector<std::pair<std::string, std::string>>{
             {"Keep1", "00000001"}, {"Sysop", "00000002"}, {"Keep2", "00000003"}}) {
      ASSERT_TRUE(StoreMessage(*base, Text(to, serial), "Sender", to));
    }
    ASSERT_TRUE(CloseArea(base));
  }
  const std::string index = ReadFile(P("net/area.sqi"));
  {
    MsgBasePtr base;
    ASSERT_TRUE(OpenArea(base, area));
    base->SeekFirst(1);
    ASSERT_TRUE(base->OpenMsg());
    ASSERT_TRUE(base->DeleteMsg());
    ASSERT_TRUE(CloseArea(base));
  }
  WriteFile(P("net/area.sqi"), index);
  Config({"NETMAIL " + area, "MOVE YES", "PRIORITY TO", "TO Sysop, *dest", "LOG lw.log"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("3 message(s) scanned"), std::string::npos) << r.out;
  EXPECT_EQ(Msgs("dest").size(), 1u);
  EXPECT_EQ(TextsOf(area), (std::vector<std::string>{Text("Keep1", "00000001"), Text("Keep2", "00000003")}));
  ExpectSquishConsistent(P("net/area"));
}

}  // namespace
}  // namespace lw::test
