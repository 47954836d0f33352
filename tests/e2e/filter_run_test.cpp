// FILTER lines run for real: copies into every format with CONTINUE, one
// copy per base and one deletion, KILL, programs run by EXEC, and what
// --check and --dry-run say about them.
#include <filesystem>

#include "e2e/e2e_fixture.h"

namespace lw::test {
namespace {

// A message from `from` to `to`; its text names it by `tag`.
MsgFile Mail(const std::string& tag, const std::string& from, const std::string& to) {
  MsgFile m;
  m.from = from;
  m.to = to;
  m.subject = "About " + tag;
  m.text = "\001MSGID: 2:5020/1 0000000" + tag + "\rmessage " + tag + "\r";
  return m;
}

// The tags of the messages an area holds, in walk order.
std::string Tags(const std::vector<StoredMsg>& msgs) {
  std::string tags;
  for (const StoredMsg& m : msgs) {
    std::size_t at = m.text.find("message ");
    tags += at == std::string::npos ? "?" : m.text.substr(at + 8, 1);
  }
  return tags;
}

class FilterRun : public E2E {
 protected:
  std::string TagsOf(const char* letter, const std::string& rel) { return Tags(ReadArea(AreaId(letter, P(rel)))); }

  // An executable script "hook.sh" that saves its standard input and the
  // variables the run gives it (not others the test's own environment
  // may hold), then exits with the number in the
  // file "exit" (0 when there is none).
  void WriteHook() {
    const std::string hook = P("hook.sh");
    WriteFile(hook,
              "#!/bin/sh\n"
              "cat > \"stdin.$LARKWAY_MSGNUM\"\n"
              "env | grep -E '^LARKWAY_(AREA|MSGNUM|FROM|TO|SUBJ|FROMADDR|TOADDR|MSGID)=' | sort > "
              "\"env.$LARKWAY_MSGNUM\"\n"
              "[ -f exit ] && exit $(cat exit)\n"
              "exit 0\n");
    std::filesystem::permissions(hook, std::filesystem::perms::owner_all);
  }
};

TEST_F(FilterRun, CopiesIntoThreeFormatsOncePerBaseAndOneDeletion) {
  PutMsg("net", 1, Mail("1", "Sender", "AreaFix"));
  PutMsg("net", 2, Mail("2", "Boss", "Sysop"));
  PutMsg("net", 3, Mail("3", "Viagra Seller", "Sysop"));
  PutMsg("net", 4, Mail("4", "Friend", "Other"));
  Config({"NETMAIL *net", "LOG lw.log", "PRIORITY FILTER TO",
          "FILTER TO AreaFix OR TO Sysop THEN COPY *copies, CONTINUE",
          "FILTER to AreaFix then MOVE " + AreaId("S", "robots") + ", COPY " + AreaId("J", "all") + ", CONTINUE",
          // The same bases again, one in another spelling: no second copy.
          "FILTER TO * AND NOT FROM \"Viagra*\" THEN COPY " + AreaId("J", "all") + ", COPY *./copies, CONTINUE",
          "FILTER FROM \"Viagra*\" THEN KILL",
          // A rule line keeps its meaning: without MOVE its target is a copy.
          "TO Sysop, *sysop"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(TagsOf("*", "net"), "24");
  EXPECT_EQ(TagsOf("*", "copies"), "1234");
  EXPECT_EQ(TagsOf("S", "robots"), "1");
  EXPECT_EQ(TagsOf("J", "all"), "124");
  EXPECT_EQ(TagsOf("*", "sysop"), "2");
  EXPECT_EQ(Marked('-').size(), 2u);  // the move and the kill, each once
  EXPECT_EQ(Marked('#'), (std::vector<std::string>{
                             "# <stamp> LW 1.07 Found mail by filter `TO AreaFix OR TO Sysop`",
                             "# <stamp> LW 1.07 Found mail by filter `to AreaFix`",
                             "# <stamp> LW 1.07 Found mail by filter `TO * AND NOT FROM \"Viagra*\"`",
                             "# <stamp> LW 1.07 Found mail by filter `TO AreaFix OR TO Sysop`",
                             "# <stamp> LW 1.07 Found mail by filter `TO * AND NOT FROM \"Viagra*\"`",
                             "# <stamp> LW 1.07 Found mail to `SYSOP`",
                             "# <stamp> LW 1.07 Found mail by filter `TO AreaFix OR TO Sysop`",
                             "# <stamp> LW 1.07 Found mail by filter `FROM \"Viagra*\"`",
                             "# <stamp> LW 1.07 Found mail by filter `TO * AND NOT FROM \"Viagra*\"`",
                         }));
  // The killed message was copied before its rule killed it.
  EXPECT_EQ(Marked('+').size(), 3u + 3u + 1u + 2u);
}

TEST_F(FilterRun, MoveUnderMoveModeAndKillAlone) {
  PutMsg("net", 1, Mail("1", "Sender", "Sysop"));
  PutMsg("net", 2, Mail("2", "Spammer", "Sysop"));
  PutMsg("net", 3, Mail("3", "Sender", "Other"));
  Config({"NETMAIL *net", "LOG lw.log", "MOVE yes", "PRIORITY FILTER FROM TO", "FILTER FROM Spammer THEN KILL",
          "FILTER TO Sysop THEN COPY *kept", "TO Other, *others"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  // COPY leaves its source even under MOVE yes; the rule line follows MOVE.
  EXPECT_EQ(TagsOf("*", "net"), "1");
  EXPECT_EQ(TagsOf("*", "kept"), "1");
  EXPECT_EQ(TagsOf("*", "others"), "3");
  EXPECT_EQ(Marked('-').size(), 2u);
}

TEST_F(FilterRun, ExecGetsTheMessageAndItsFailureKeepsIt) {
  if (TestingWin32Build()) GTEST_SKIP() << "the hook is a POSIX shell script";
  WriteHook();
  MsgFile m = Mail("1", "Sender", "Sysop");
  m.subject = "Caf\x82";  // CP437/CP866 byte, no CHRS kludge: read as CP866
  PutMsg("net", 1, m);
  WriteFile(P("exit"), "3");
  Config({"NETMAIL *net", "LOG lw.log", "PRIORITY FILTER", "FILTER TO Sysop THEN MOVE *moved, EXEC ./hook.sh"});

  RunResult dry = RunLarkway({"--dry-run", "lw.cfg"}, dir_.path());
  ASSERT_EQ(dry.exit_code, 0) << dry.out << dry.err;
  EXPECT_NE(dry.out.find(": move to *moved, give to `./hook.sh` (rule: Found mail by filter `TO Sysop`)\n"),
            std::string::npos)
      << dry.out;
  EXPECT_FALSE(Exists(P("stdin.1")));  // a dry run runs no program

  RunResult failed = Run();
  ASSERT_EQ(failed.exit_code, 0) << failed.out << failed.err;
  EXPECT_NE(failed.out.find("Warning: Program `./hook.sh` failed on message 1 in *net; the message stays"),
            std::string::npos)
      << failed.out;
  EXPECT_NE(failed.err.find("exit code 3"), std::string::npos) << failed.err;
  EXPECT_EQ(TagsOf("*", "net"), "1");
  EXPECT_EQ(TagsOf("*", "moved"), "1");  // the copy was durable before the program ran
  EXPECT_EQ(ReadFile(P("stdin.1")), m.text);
  EXPECT_EQ(ReadFile(P("env.1")),
            "LARKWAY_AREA=*net\n"
            "LARKWAY_FROM=Sender\n"
            "LARKWAY_FROMADDR=2:5020/1\n"
            "LARKWAY_MSGID=2:5020/1 00000001\n"
            "LARKWAY_MSGNUM=1\n"
            "LARKWAY_SUBJ=Caf\xd0\x92\n"
            "LARKWAY_TO=Sysop\n"
            "LARKWAY_TOADDR=2:5020/2\n");

  // The next run, with the program content, moves it: no second copy.
  WriteFile(P("exit"), "0");
  RunResult moved = Run();
  ASSERT_EQ(moved.exit_code, 0) << moved.out << moved.err;
  EXPECT_EQ(TagsOf("*", "net"), "");
  EXPECT_EQ(TagsOf("*", "moved"), "1");
}

TEST_F(FilterRun, CheckNamesTheColumnAndTheRuleThatHidesAnother) {
  Config({"NETMAIL *net", "PRIORITY FILTER TO", "FILTER TO Sysop AND THEN KILL", "FILTER FROM \"Viagra*\" THEN KILL",
          "FILTER FROM \"Viagra Seller\" AND SUBJ \"*\" THEN COPY *spam", "TO *, *all", "TO Sysop, *sysop"});
  MakeDirs(P("net"));
  RunResult r = RunLarkway({"--check", "lw.cfg"}, dir_.path());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err,
            "larkway: lw.cfg:3:21: error: FILTER: a test (TO, FROM, SUBJ, TOADDR, FROMADDR, TEXT, KLUDGE, ATTR, TOUS, "
            "FROMUS, TOPOINT) expected, found THEN\n"
            "larkway: lw.cfg:5: warning: the rule on this line can never fire: the rule on line 4, tried before it, "
            "catches every message it could catch\n"
            "larkway: lw.cfg:7: warning: the rule on this line can never fire: the rule on line 6, tried before it, "
            "catches every message it could catch\n");
}

TEST_F(FilterRun, RuleHiddenByOneInAnIncludedFileNamesThatFile) {
  WriteFile(P("rules.cfg"), "FILTER TO * THEN COPY *all\n");
  Config({"NETMAIL *net", "PRIORITY FILTER", "INCLUDE rules.cfg", "FILTER TO Sysop THEN KILL"});
  MakeDirs(P("net"));
  RunResult r = RunLarkway({"--check", "lw.cfg"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "larkway: lw.cfg:4: warning: the rule on this line can never fire: the rule on line 1 of " +
                       Shown("rules.cfg") + ", tried before it, catches every message it could catch\n");
}

}  // namespace
}  // namespace lw::test
