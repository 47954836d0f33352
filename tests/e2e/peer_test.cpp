// Netmail written by another FidoNet program: Debian's crashmail tosses a
// packet (made by its crashwrite) into a JAM or *.MSG netmail area, and
// Larkway moves the message out of it.
#include <cstdlib>
#include <fstream>

#include "e2e/e2e_fixture.h"
#include "msgbase/area.h"

namespace lw::test {
namespace {

bool HaveCrashmail() {
  return std::system("command -v crashmail >/dev/null 2>&1 && command -v crashwrite >/dev/null 2>&1") == 0;
}

class Peer : public E2E, public ::testing::WithParamInterface<const char*> {
 protected:
  // Tosses one netmail from Alice at 2:200/100 to Sysop at 2:200/108.7
  // into the netmail area "netmail" of the given crashmail area type.
  void TossWithCrashmail(const std::string& type) {
    for (const char* d : {"pkt", "out", "tmp", "msg"}) MakeDirs(P(d));
    WriteFile(P("text.txt"), "Hello Sysop,\nthis came through a real tosser.\n");
    std::ofstream prefs(P("cm.prefs"));
    prefs << "SYSOP \"Test Sysop\"\nLOGFILE \"" << P("crashmail.log") << "\"\nDUPEFILE \"" << P("dupes")
          << "\" 200\nDUPEMODE IGNORE\nINBOUND \"" << P("pkt") << "\"\nOUTBOUND \"" << P("out") << "\"\nTEMPDIR \""
          << P("tmp") << "\"\nCREATEPKTDIR \"" << P("tmp") << "\"\nPACKETDIR \"" << P("out") << "\"\nSTATSFILE \""
          << P("stats") << "\"\nDEFAULTZONE 2\nAKA 2:200/108.7\nDOMAIN \"FidoNet\"\n"
          << "NETMAIL \"NETMAIL\" 2:200/108.7 " << type << " \"" << P("msg/netmail") << "\"\n"
          << "AREA \"BAD\" 2:200/108.7 MSG \"" << P("msg/bad") << "\"\n";
    prefs.close();
    std::string write = "cd '" + dir_.path() + "' && crashwrite DIR pkt FROMNAME Alice FROMADDR 2:200/100 " +
                        "TONAME Sysop TOADDR 2:200/108.7 SUBJECT 'Hi there' TEXT text.txt >/dev/null";
    ASSERT_EQ(std::system(write.c_str()), 0);
    std::string toss = "crashmail SETTINGS '" + P("cm.prefs") + "' TOSSDIR '" + P("pkt") + "' NOSECURITY >/dev/null";
    ASSERT_EQ(std::system(toss.c_str()), 0);
  }
};

TEST_P(Peer, MessageTossedByCrashmailIsMoved) {
  if (!HaveCrashmail()) GTEST_SKIP() << "crashmail is not installed";
  const std::string type = GetParam();
  TossWithCrashmail(type);
  const std::string area = AreaId(type == "JAM" ? "J" : "*", P("msg/netmail"));
  Config({"NETMAIL " + area, "MOVE YES", "PRIORITY TO", "TO Sysop, " + AreaId("S", P("sysop")), "LOG lw.log"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("1 message(s) founded"), std::string::npos) << r.out;

  MsgBasePtr dest;
  ASSERT_TRUE(OpenArea(dest, std::string(AreaId("S", P("sysop")))));
  dest->SetMsgKind(0);
  dest->SeekFirst(1);
  ASSERT_TRUE(dest->SeekFound());
  ASSERT_TRUE(dest->OpenMsg());
  std::string from, to, subject;
  dest->GetFrom(from);
  dest->GetTo(to);
  dest->GetSubj(subject);
  EXPECT_EQ(from, "Alice");
  EXPECT_EQ(to, "Sysop");
  EXPECT_EQ(subject, "Hi there");
  FidoAddress orig, to_addr;
  dest->GetAddrs(orig, to_addr);
  EXPECT_EQ(FormatAddress(orig), "2:200/100");
  EXPECT_EQ(FormatAddress(to_addr), "2:200/108.7");
  const std::string body = ReadAllBytes(*dest->GetTextStream());
  EXPECT_NE(body.find("this came through a real tosser."), std::string::npos);
  CloseArea(dest);

  MsgBasePtr source;
  ASSERT_TRUE(OpenArea(source, std::string(area)));
  source->SeekFirst(1);
  EXPECT_FALSE(source->SeekFound());
}

INSTANTIATE_TEST_SUITE_P(Crashmail, Peer, ::testing::Values("JAM", "MSG"));

}  // namespace
}  // namespace lw::test
