// Squish and JAM areas end to end: as destinations created by the
// transfer, and as netmail areas that are scanned and moved out of.
#include "e2e/e2e_fixture.h"
#include "msgbase/area.h"

namespace lw::test {
namespace {

MsgFile To(const std::string& to, const std::string& serial) { return MailTo(to, serial, true); }

class Formats : public E2E, public ::testing::WithParamInterface<char> {
 protected:
  // The area identifier of the format under test for a path in the scratch folder.
  std::string Id(const std::string& rel) {
    const char letter[2] = {GetParam(), 0};
    return AreaId(letter, P(rel));
  }
};

TEST_P(Formats, MissingDestinationIsCreatedAndFilledInScanOrder) {
  const std::string dest = Id("out/Dest");
  PutMsg("net", 1, To("Sysop", "00000001"));
  PutMsg("net", 2, To("Other", "00000002"));
  PutMsg("net", 3, To("Sysop", "00000003"));
  Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, " + dest, "LOG lw.log"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.out;
  std::vector<StoredMsg> stored = ReadArea(dest);
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].to, "Sysop");
  EXPECT_NE(stored[0].text.find("00000001"), std::string::npos);
  EXPECT_NE(stored[1].text.find("00000003"), std::string::npos);
  EXPECT_NE(stored[1].text.find("Text for Sysop\r"), std::string::npos);
  EXPECT_EQ(Msgs("net"), (std::vector<std::string>{"2.msg"}));
}

TEST_P(Formats, NetmailAreaScannedMovedOutOfAndLastReadKept) {
  const std::string area = Id("net/area");
  FillArea(area, {To("Keep1", "00000001"), To("Sysop", "00000002"), To("Keep2", "00000003"), To("Sysop", "00000004"),
                  To("Keep3", "00000005")});
  Config({"NETMAIL " + area, "MOVE YES", "USELASTREAD YES", "USERNUMBER 3", "PRIORITY TO", "TO Sysop, *dest",
          "LOG lw.log"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("5 message(s) scanned"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("2 message(s) founded"), std::string::npos);
  EXPECT_EQ(Msgs("dest").size(), 2u);
  std::vector<StoredMsg> left = ReadArea(area);
  ASSERT_EQ(left.size(), 3u);
  EXPECT_EQ(left[2].to, "Keep3");
  EXPECT_EQ(ReadFile(P("net/area.msgid")), "00000005");
  // The next run starts after the last kept message: nothing new.
  r = Run();
  EXPECT_NE(r.out.find("Nothing to scan !"), std::string::npos) << r.out;
  // A new message is the only one scanned.
  FillArea(area, {To("Sysop", "00000006")});
  r = Run();
  EXPECT_NE(r.out.find("1 message(s) scanned"), std::string::npos) << r.out;
  EXPECT_EQ(Msgs("dest").size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(SquishAndJam, Formats, ::testing::Values('S', 'J'),
                         [](const ::testing::TestParamInfo<char>& i) {
                           return std::string(i.param == 'S' ? "Squish" : "Jam");
                         });

}  // namespace
}  // namespace lw::test
