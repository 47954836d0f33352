// The run under failures it must survive without losing or damaging mail:
// an error in the middle of an area, a second run on the same area, a
// closed output pipe, long paths, and places that cannot be written.
#include <cstdlib>
#include <regex>
#include <thread>

#include "e2e/e2e_fixture.h"
#include "msgbase/jam/jam_layout.h"
#include "platform/platform.h"

namespace lw::test {
namespace {

MsgFile To(const std::string& to, const std::string& serial) { return MailTo(to, serial, false); }

std::uint32_t JamActiveMsgs(const std::string& base_path) {
  std::string raw = ReadFile(base_path + ".jhr");
  if (raw.size() < static_cast<std::size_t>(jam::kFixedHeaderSize)) return 0xFFFFFFFFu;
  jam::FixedHeader h;
  jam::Decode(reinterpret_cast<const std::uint8_t*>(raw.data()), h);
  return h.active_msgs;
}

class RunSafety : public E2E {};

// The run stops at the second message (its target cannot be opened); the
// netmail base it was moving out of is closed properly on the way out.
TEST_F(RunSafety, ErrorInTheMiddleOfAnAreaLeavesItsBaseConsistent) {
  FillArea("J" + P("net"), {To("Alpha", "00000001"), To("Beta", "00000002")});
  Config({"NETMAIL J" + P("net"), "MOVE YES", "PRIORITY TO", "TO Alpha, *" + P("dest"), "TO Beta, Xbad", "LOG lw.log"});
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.out.find("Error: unable to open destination messagebase - Xbad"), std::string::npos) << r.out;
  EXPECT_EQ(Msgs("dest").size(), 1u);
  std::vector<StoredMsg> left = ReadArea("J" + P("net"));
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].to, "Beta");
  EXPECT_EQ(JamActiveMsgs(P("net")), 1u);
}

// Two runs started together on one area: the area's run lock makes the
// second wait, so every message is copied exactly once, both runs succeed,
// and the shared log has whole lines only.
TEST_F(RunSafety, TwoRunsOnOneAreaNeverInterleave) {
  for (int n = 1; n <= 200; ++n) PutMsg("net", n, To("Sysop", "0000" + std::to_string(1000 + n)));
  Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, S" + P("dest"), "LOG lw.log"});
  RunResult first;
  std::thread other([&] { first = Run(); });
  RunResult second = Run();
  other.join();
  EXPECT_EQ(first.exit_code, 0) << first.out;
  EXPECT_EQ(second.exit_code, 0) << second.out;
  EXPECT_EQ(ReadArea("S" + P("dest")).size(), 200u);
  EXPECT_TRUE(Msgs("net").empty());
  const std::regex whole_line(R"(^([>*#+\-i ?!] <stamp> .*)?$)");
  for (const std::string& line : LogLines()) EXPECT_TRUE(std::regex_match(line, whole_line)) << line;
}

// Held past the wait is the one error a scheduler should retry: exit 75.
TEST_F(RunSafety, AreaHeldByAnotherRunIsAClearError) {
  PutMsg("net", 1, To("Sysop", "00000001"));
  Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, KILL"});
  platform::FileHandle held = platform::kNoFile;
  ASSERT_EQ(platform::Os().LockRun(P("net"), 0, &held), platform::kOk);
  RunResult r = Run();
  platform::Os().CloseFile(held);
  EXPECT_EQ(r.exit_code, 75);
  EXPECT_NE(r.out.find("Error: area is in use by another run - *net"), std::string::npos) << r.out;
  EXPECT_EQ(Msgs("net").size(), 1u);
}

// `larkway cfg | head -c 100`: the console goes away early; the run does
// its whole job all the same.
TEST_F(RunSafety, ClosedOutputPipeDoesNotStopTheRun) {
  for (int n = 1; n <= 200; ++n) PutMsg("net", n, To("Sysop", "0000" + std::to_string(1000 + n)));
  Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, *" + P("dest"), "LOG lw.log"});
  const std::string command = "cd '" + dir_.path() + "' && '" LARKWAY_BIN "' lw.cfg | head -c 100 >/dev/null";
  ASSERT_EQ(std::system(("bash -c \"" + command + "; exit \\${PIPESTATUS[0]}\"").c_str()), 0);
  EXPECT_EQ(Msgs("dest").size(), 200u);
  EXPECT_TRUE(Msgs("net").empty());
  EXPECT_EQ(LastLogLine(), "i <stamp> LW 1.07 Memory leak is 0 bytes.");
}

// A working folder and target paths far past 255 characters are used
// whole, never cut.
TEST_F(RunSafety, LongPathsAreNeverCut) {
  std::string deep = "work";
  while (dir_.path().size() + deep.size() < 246) deep += "/" + std::string(40, 'd');
  MakeDirs(P(deep) + "/net");
  WriteFile(P(deep) + "/net/1.msg", To("Sysop", "00000001").Bytes());
  WriteFile(P(deep) + "/lw.cfg", "NETMAIL *net\nMOVE YES\nPRIORITY TO\nTO Sysop, Ssubdirectory/area\n");
  RunResult r = RunLarkway({"lw.cfg"}, P(deep));
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(ReadArea("S" + P(deep) + "/subdirectory/area").size(), 1u);
}

// The identifier of a Squish or JAM area with an empty path names the
// base "" in the current folder; its last-MSGID file is "msgid" there.
TEST_F(RunSafety, LastMsgIdOfAnAreaWithAnEmptyPath) {
  FillArea("J" + P("") + "/", {To("Other", "0000abcd")});
  Config({"NETMAIL J", "USELASTREAD YES", "USERNUMBER 1", "PRIORITY TO", "TO Sysop, KILL"});
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_EQ(ReadFile(P("msgid")), "0000abcd");
  EXPECT_FALSE(Exists(P(".msgid")));
}

// Where the scan stopped must be stored, or the run says it could not.
TEST_F(RunSafety, PlacesThatCannotBeWrittenAreErrors) {
  struct Case {
    const char* blocked;  // made a folder so that no file can take its name
    const char* error;
  } cases[] = {
      {"net/lastread", "Error: unable to write lastread pointer of messagebase"},
      {"net/msgid.new", "Error: Unable to write file with last msgid"},
  };
  for (const Case& c : cases) {
    TempDir fresh;
    WriteFile(fresh / "lw.cfg", "NETMAIL *net\nMOVE YES\nUSELASTREAD YES\nUSERNUMBER 1\nPRIORITY TO\n");
    MakeDirs(fresh / "net");
    WriteFile(fresh / "net/1.msg", To("Other", "00000001").Bytes());
    MakeDirs(fresh / c.blocked);
    if (std::string(c.blocked) == "net/msgid.new") WriteFile(fresh / "net/msgid", "0000abcd");
    RunResult r = RunLarkway({"lw.cfg"}, fresh.path());
    EXPECT_EQ(r.exit_code, 255) << c.blocked;
    EXPECT_NE(r.out.find(c.error), std::string::npos) << r.out;
    if (std::string(c.blocked) == "net/msgid.new") {
      EXPECT_EQ(ReadFile(fresh / "net/msgid"), "0000abcd");
    }
  }
}

}  // namespace
}  // namespace lw::test
