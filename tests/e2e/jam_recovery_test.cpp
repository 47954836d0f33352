// The program on JAM bases that an interrupted earlier run left behind.
#include "e2e/e2e_fixture.h"
#include "msgbase/jam/jam_layout.h"
#include "msgbase/le_bytes.h"

namespace lw::test {
namespace {

MsgFile To(const std::string& to, const std::string& serial) { return MailTo(to, serial, true); }

std::uint32_t ActiveMsgs(const std::string& jhr) {
  const std::string s = ReadFile(jhr);
  return s.size() >= 16 ? GetLe32(reinterpret_cast<const std::uint8_t*>(s.data() + 12)) : 0xDEADDEAD;
}

class JamRecovery : public E2E {};

// A move stopped after message 1's index record was emptied, before the
// fixed header was written (its change marker still in the fixed header):
// the next run finishes the area.
TEST_F(JamRecovery, NetmailAreaLeftByAnInterruptedMove) {
  FillArea(AreaId("J", P("net/area")), {To("Sysop", "00000001"), To("Sysop", "00000002")});
  std::string jdx = ReadFile(P("net/area.jdx"));
  ASSERT_EQ(jdx.size(), 16u);
  jdx.replace(0, 8, std::string(8, '\xFF'));
  WriteFile(P("net/area.jdx"), jdx);
  ASSERT_EQ(ActiveMsgs(P("net/area.jhr")), 2u);
  std::string jhr = ReadFile(P("net/area.jhr"));
  jhr.replace(jam::fixed_at::kReserved + jam::kChangeMarkerAt, sizeof jam::kChangeMarker,
              reinterpret_cast<const char*>(jam::kChangeMarker), sizeof jam::kChangeMarker);
  WriteFile(P("net/area.jhr"), jhr);
  Config({"NETMAIL " + AreaId("J", P("net/area")), "MOVE YES", "PRIORITY TO", "TO Sysop, *dest", "LOG lw.log"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("1 message(s) scanned"), std::string::npos) << r.out;
  EXPECT_EQ(Msgs("dest").size(), 1u);
  EXPECT_TRUE(ReadArea(AreaId("J", P("net/area"))).empty());
  EXPECT_EQ(ActiveMsgs(P("net/area.jhr")), 0u);
}

// A creation killed before the fixed header: four empty files.  Every
// later run used to fail on them.
TEST_F(JamRecovery, DestinationLeftByAnInterruptedCreation) {
  MakeDirs(P("out"));
  for (const char* ext : {".jhr", ".jdx", ".jdt", ".jlr"}) WriteFile(P("out") + "/dest" + ext, "");
  PutMsg("net", 1, To("Sysop", "00000001"));
  Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, " + AreaId("J", P("out/dest")), "LOG lw.log"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.out;
  std::vector<StoredMsg> stored = ReadArea(AreaId("J", P("out/dest")));
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].to, "Sysop");
  EXPECT_TRUE(Msgs("net").empty());
  EXPECT_EQ(ActiveMsgs(P("out/dest.jhr")), 1u);
}

}  // namespace
}  // namespace lw::test
