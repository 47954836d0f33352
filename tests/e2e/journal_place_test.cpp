// The copy journal is state of the netmail area: it lives beside the area,
// so a move needs no home folder, and every run and every user working the
// area, under any spelling of its path, finds the same journal.
#include "app/config/area_identity.h"
#include "e2e/e2e_fixture.h"

namespace lw::test {
namespace {

MsgFile To(const std::string& to, const std::string& serial) { return MailTo(to, serial, false); }

class JournalPlace : public E2E {};

// A service account's home does not exist, and cron or `env -i` may give
// the run no environment at all: the move works all the same, and leaves
// no journal behind once its sources are deleted.
TEST_F(JournalPlace, AMoveNeedsNoHomeFolder) {
  if (TestingWin32Build()) GTEST_SKIP() << "the environment of a Win32 run is Wine's";
  struct Case {
    const char* name;
    bool whole_environment;  // `env` is all the run gets
    std::vector<std::string> env;
  } const kCases[] = {
      {"home that does not exist", false, {"HOME=/nonexistent", "XDG_STATE_HOME="}},
      {"no environment", true, {}},
      {"only PATH", true, {"PATH=/usr/bin:/bin"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    StartOver();
    FillArea("*" + P("net"), {To("Sysop", "00000001"), To("Other", "00000002")});
    Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, S" + P("dest"), "LOG lw.log"});
    const RunResult r = c.whole_environment ? RunLarkwayInOnly({"lw.cfg"}, dir_.path(), c.env)
                                            : RunLarkway({"lw.cfg"}, dir_.path(), c.env);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    ASSERT_EQ(ReadArea("S" + P("dest")).size(), 1u);
    EXPECT_EQ(Msgs("net"), (std::vector<std::string>{"2.msg"}));
    for (const std::string& folder : {dir_.path(), P("net")}) {
      for (const std::string& name : ListDir(folder)) EXPECT_EQ(name.find("journal"), std::string::npos) << name;
    }
  }
}

// A move was cut short after its copy was made: the journal it left beside
// the area is found by the next run whatever spelling of the area's path,
// and of its destination's, that run's configuration uses, so the copy is
// recognised, not made again.
TEST_F(JournalPlace, OneAreaUnderTwoSpellingsSharesItsJournal) {
  struct Case {
    const char* letter;
    const char* spelling;
    const char* journal;  // where the cut-short run left it
  } const kCases[] = {
      {"*", "./net", "net/journal"}, {"*", "net/", "net/journal"}, {"*", "sub/../net", "net/journal"},
      {"S", "./net", "net.journal"}, {"J", "sub/../net", "net.journal"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.letter) + c.spelling);
    StartOver();
    MakeDirs(P("sub"));
    const MsgFile mail = To("Sysop", "00000001");
    const std::string dest = "S" + P("dest");
    FillArea(AreaId(c.letter, P("net")), {mail});
    FillArea(dest, {mail});
    // The cut-short run knew the destination by the base it is; this run's
    // rule spells it another way.
    WriteFile(P(c.journal), "0 " + AreaIdentity(dest) + "\n");
    const std::string spelled = "S" + P("sub/../dest");
    Config({"NETMAIL " + AreaId(c.letter, c.spelling), "MOVE YES", "PRIORITY TO", "TO Sysop, " + spelled, "LOG lw.log"});
    const RunResult r = Run();
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(ReadArea(dest).size(), 1u) << "the copy was made again";
    EXPECT_TRUE(ReadArea(AreaId(c.letter, P("net"))).empty());
    EXPECT_EQ(Marked('+'), (std::vector<std::string>{"+ <stamp> LW 1.07 Copy message already in destination messagebase - " +
                                                     Shown(spelled)}));
    EXPECT_FALSE(Exists(P(c.journal))) << "dropped once the source is deleted";
  }
}

}  // namespace
}  // namespace lw::test
