// Whole runs over *.MSG areas that hold files other programs or a crash
// left: names that are no message numbers, a message cut short, a
// temporary file of an interrupted store.
#include "e2e/e2e_fixture.h"

namespace lw::test {
namespace {

MsgFile ToSysop(const std::string& body) {
  MsgFile m;
  m.to = "Sysop";
  m.text = "\001MSGID: 2:5020/1 0000abcd\r" + body + "\r";
  return m;
}

class MsgArea : public E2E {};

TEST_F(MsgArea, MoveLeavesWhatIsNoWholeMessage) {
  PutMsg("net", 1, ToSysop("whole"));
  const std::string odd = ToSysop("odd").Bytes();
  for (const char* name : {"05.msg", "+5.msg", "$5.msg", "2147483648.msg"}) WriteFile(P("net") + "/" + name, odd);
  WriteFile(P("net/3.msg"), odd.substr(0, 100));  // cut short: shorter than a header
  MakeDirs(P("net/4.msg/inside"));                 // a folder, whatever its name
  MakeDirs(P("dest"));
  WriteFile(P("dest/lwtemp0.tmp"), odd.substr(0, 150));  // an interrupted store
  Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, *dest", "LOG lw.log"});
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(ListDir(P("dest")), (std::vector<std::string>{"1.msg"}));
  EXPECT_EQ(ReadFile(P("dest/1.msg")).substr(190), ToSysop("whole").text + std::string(1, '\0'));
  EXPECT_FALSE(Exists(P("net/1.msg")));
  EXPECT_EQ(ReadFile(P("net/3.msg")), odd.substr(0, 100));
  EXPECT_EQ(ListDir(P("net/4.msg")), (std::vector<std::string>{"inside"}));
  for (const char* name : {"05.msg", "+5.msg", "$5.msg", "2147483648.msg"}) {
    EXPECT_EQ(ReadFile(P("net") + "/" + name), odd) << name;
  }
}

// A destination's next message follows the highest number in it however
// high, and passes a name that anything (a folder) has taken; the folder
// blocks nothing, run after run.
TEST_F(MsgArea, NextNumberFollowsTheHighestAndPassesTakenNames) {
  struct Case {
    std::vector<int> present;
    std::vector<const char*> folders;
    std::vector<std::string> stored_as;  // the names of the two runs' copies
  } const kCases[] = {
      {{70000}, {}, {"70001.msg", "70002.msg"}},
      {{7}, {"8.msg"}, {"9.msg", "10.msg"}},
      {{7}, {"8.MSG", "10.msg"}, {"9.msg", "11.msg"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.stored_as[0]);
    StartOver();
    for (int n : c.present) PutMsg("dest", n, ToSysop("old"));
    for (const char* folder : c.folders) MakeDirs(P("dest") + "/" + folder);
    Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, *dest", "LOG lw.log"});
    for (std::size_t run = 0; run < c.stored_as.size(); ++run) {
      PutMsg("net", 1, ToSysop("run " + std::to_string(run)));
      const RunResult r = Run();
      ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
      EXPECT_FALSE(Exists(P("net/1.msg")));
      EXPECT_EQ(ReadFile(P("dest") + "/" + c.stored_as[run]).substr(190),
                ToSysop("run " + std::to_string(run)).text + std::string(1, '\0'));
    }
    // Msgs lists the folders too: nothing else was written.
    EXPECT_EQ(Msgs("dest").size(), c.present.size() + c.folders.size() + c.stored_as.size());
  }
}

}  // namespace
}  // namespace lw::test
