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
  for (const char* name : {"05.msg", "+5.msg", "$5.msg", "2147483647.msg"}) WriteFile(P("net") + "/" + name, odd);
  WriteFile(P("net/3.msg"), odd.substr(0, 100));  // cut short: shorter than a header
  MakeDirs(P("dest"));
  WriteFile(P("dest/lwtemp0.tmp"), odd.substr(0, 150));  // an interrupted store
  Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, *dest", "LOG lw.log"});
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(ListDir(P("dest")), (std::vector<std::string>{"1.msg"}));
  EXPECT_EQ(ReadFile(P("dest/1.msg")).substr(190), ToSysop("whole").text + std::string(1, '\0'));
  EXPECT_FALSE(Exists(P("net/1.msg")));
  EXPECT_EQ(ReadFile(P("net/3.msg")), odd.substr(0, 100));
  for (const char* name : {"05.msg", "+5.msg", "$5.msg", "2147483647.msg"}) {
    EXPECT_EQ(ReadFile(P("net") + "/" + name), odd) << name;
  }
}

}  // namespace
}  // namespace lw::test
