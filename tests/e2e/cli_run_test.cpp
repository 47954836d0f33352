// The dry run, UTF-8 rule names, colour, the log's detail lines and
// character set, and the high-water mark other programs keep as message 1.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "e2e/e2e_fixture.h"

namespace lw::test {
namespace {

class CliRun : public E2E {
 protected:
  void SetUp() override {
    if (TestingWin32Build()) GTEST_SKIP() << "checked against the Linux build";
  }
};

// Every file under `root` with its bytes (folders as entries of their own).
std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string rel = std::filesystem::relative(e.path(), root).string();
    tree[rel] = e.is_regular_file() ? ReadFile(e.path().string()) : std::string("<folder>");
  }
  return tree;
}

// Standard output of the program run on a terminal (a pseudo-terminal),
// with `env` added to the environment.
std::string RunOnTerminal(const std::vector<std::string>& args, const std::string& cwd,
                          const std::vector<std::string>& env) {
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(126);
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<std::string> command = {LARKWAY_BIN};
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : command) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(master, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  return out;
}

MsgFile Message(const std::string& from, const std::string& to, const std::string& subject, const std::string& serial) {
  MsgFile m;
  m.from = from;
  m.to = to;
  m.subject = subject;
  m.text = "\001MSGID: 2:5020/1 " + serial + "\rbody\r";
  return m;
}

TEST_F(CliRun, DryRunLeavesEveryFileAsItWasAndShowsEachVerdict) {
  PutMsg("net", 1, Message("Boss", "Sysop", "Report", "00000001"));
  PutMsg("net", 2, Message("Viagra Seller", "Sysop", "Offer", "00000002"));
  PutMsg("net", 3, Message("Friend", "Nobody", "Hello", "00000003"));
  PutMsg("net", 4, Message("Friend", "Somebody", "Hi", "00000004"));
  FillArea(AreaId("S", P("copies")), {Message("Old", "Sysop", "Earlier", "00000009")});
  Config({"NETMAIL *net", "LOG lw.log", "MOVE yes", "USELASTREAD yes", "USERNUMBER 1", "LOGDETAIL yes",
          "PRIORITY NOT_TOUCH FROM TO", "NOT_TOUCH Nobody", "FROM Viagra Seller, KILL", "TO Sysop, Scopies",
          "TO Nobody, *never"});
  const auto before = Tree(dir_.path());
  RunResult r = RunLarkway({"--dry-run", "lw.cfg"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(Tree(dir_.path()), before);
  // NOT_TOUCH Nobody, tried first, leaves the last TO rule nothing to catch.
  EXPECT_EQ(r.err,
            "larkway: lw.cfg:11: warning: the rule on this line can never fire: the rule on line 8, tried before it, "
            "catches every message it could catch\n");
  EXPECT_NE(r.out.find("1 from Boss (2:5020/1) to Sysop (2:5020/2) subj `Report`: move to Scopies (rule: Found "
                       "mail to `SYSOP`)\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("2 from Viagra Seller (2:5020/1) to Sysop (2:5020/2) subj `Offer`: kill (rule: Found mail "
                       "from `VIAGRA SELLER`)\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("3 from Friend (2:5020/1) to Nobody (2:5020/2) subj `Hello`: kept (NOT_TOUCH)\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("4 from Friend (2:5020/1) to Somebody (2:5020/2) subj `Hi`: kept (no rule)\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("2 message(s) founded\n"), std::string::npos);

  // The same configuration for real does what the dry run said.
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_EQ(Msgs("net"), (std::vector<std::string>{"3.msg", "4.msg"}));
  EXPECT_EQ(ReadArea(AreaId("S", P("copies"))).size(), 2u);
  EXPECT_FALSE(Exists(P("never")));
}

TEST_F(CliRun, DryRunOverSquishAndJamNetmailWritesNothing) {
  for (const char* letter : {"S", "J"}) {
    SCOPED_TRACE(letter);
    const std::string area = std::string(letter) + "net";
    FillArea(AreaId(letter, P(area)),
             {Message("Boss", "Sysop", "Report", "00000001"), Message("Friend", "Somebody", "Hi", "00000002")});
    Config({"NETMAIL " + AreaId(letter, area), "LOG lw.log", "MOVE yes", "USELASTREAD yes", "USERNUMBER 7",
            "PRIORITY TO", "TO Sysop, *copies"});
    const auto before = Tree(dir_.path());
    RunResult r = RunLarkway({"-n", "lw.cfg"}, dir_.path());
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(Tree(dir_.path()), before);
    // (the fixture's writer leaves the addresses to each format)
    EXPECT_NE(r.out.find("1 from Boss (2:5020/1) to Sysop ("), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(") subj `Report`: move to *copies (rule: Found mail to `SYSOP`)\n"), std::string::npos);
    EXPECT_NE(r.out.find(") subj `Hi`: kept (no rule)\n"), std::string::npos);
  }
}

// A base that needs repair (its header's count is wrong, as a crash can
// leave it) is not repaired by a dry run: nothing at all is written.
TEST_F(CliRun, DryRunRepairsNothing) {
  struct Case {
    const char* letter;
    const char* header_file;
    std::size_t count_at;  // the message count in the base header
  } cases[] = {{"S", "net.sqd", 4}, {"J", "net.jhr", 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.letter);
    TempDir fresh;
    const std::string area = std::string(c.letter) + fresh.path() + "/net";
    FillArea(area, {Message("Boss", "Sysop", "Report", "00000001")});
    std::string header = ReadFile(fresh / c.header_file);
    header[c.count_at] = 9;
    WriteFile(fresh / c.header_file, header);
    WriteFile(fresh / "lw.cfg", "NETMAIL " + area + "\nMOVE yes\nPRIORITY TO\nTO Sysop, KILL\n");
    const auto before = Tree(fresh.path());
    RunResult r = RunLarkway({"-n", "lw.cfg"}, fresh.path());
    EXPECT_EQ(Tree(fresh.path()), before) << r.out << r.err;
  }
}

TEST_F(CliRun, DetailLinesNameTheMessageOfEachAction) {
  PutMsg("net", 1, Message("Boss", "Sysop", "Report", "0000000a"));
  PutMsg("net", 2, Message("Viagra Seller", "Sysop", "Offer", "0000000b"));
  Config({"NETMAIL *net", "LOG lw.log", "LOGDETAIL yes", "PRIORITY FROM TO", "FROM Viagra Seller, KILL",
          "TO Sysop, *copies"});
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_EQ(Marked('='),
            (std::vector<std::string>{
                "= <stamp> LW 1.07 #1 from Boss (2:5020/1) to Sysop (2:5020/2) subj `Report` msgid `2:5020/1 "
                "0000000a`: copied to *copies",
                "= <stamp> LW 1.07 #2 from Viagra Seller (2:5020/1) to Sysop (2:5020/2) subj `Offer` msgid "
                "`2:5020/1 0000000b`: killed"}));

  // Off by default: the log is as it always was.
  PutMsg("net", 3, Message("Boss", "Sysop", "Again", "0000000c"));
  Config({"NETMAIL *net", "LOG lw2.log", "PRIORITY TO", "TO Sysop, *copies"});
  ASSERT_EQ(Run().exit_code, 0);
  for (const std::string& line : LogLines("lw2.log")) EXPECT_NE(line.rfind("=", 0), 0u) << line;
}

const char kIvanCp866[] = "\x88\xa2\xa0\xad \x91\xa8\xe1\xae\xaf";  // "Иван Сисоп"
const char kIvanUtf8[] = "\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd \xd0\xa1\xd0\xb8\xd1\x81\xd0\xbe\xd0\xbf";

TEST_F(CliRun, RuleNameWrittenInUtf8MatchesTheCp866Name) {
  PutMsg("net", 1, Message("Boss", kIvanCp866, "Privet", "00000001"));
  Config({"NETMAIL *net", "LOG lw.log", "PRIORITY TO", std::string("TO ") + kIvanUtf8 + ", *ivan"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Msgs("ivan").size(), 1u);
  // The log keeps the bytes it always did: the CP866 name.
  EXPECT_EQ(Marked('#'),
            (std::vector<std::string>{"# <stamp> LW 1.07 Found mail to `\x88\x82\x80\x8d \x91\x88\x91\x8e\x8f`"}));
}

TEST_F(CliRun, Utf8LogAndTerminalShowCp866NamesReadably) {
  PutMsg("net", 1, Message("Boss", kIvanCp866, "Privet", "00000001"));
  Config({"NETMAIL *net", "LOG lw.log", "LOGCHARSET UTF-8", "LOGDETAIL yes", "PRIORITY TO",
          std::string("TO ") + kIvanUtf8 + ", *ivan"});
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_EQ(Marked('#'), (std::vector<std::string>{"# <stamp> LW 1.07 Found mail to `ИВАН СИСОП`"}));
  ASSERT_EQ(Marked('=').size(), 1u);
  EXPECT_NE(Marked('=')[0].find("to Иван Сисоп (2:5020/2)"), std::string::npos) << Marked('=')[0];

  PutMsg("net", 2, Message("Boss", kIvanCp866, "Again", "00000002"));
  RunResult r = RunLarkway({"-n", "lw.cfg"}, dir_.path(), {"LC_ALL=C.UTF-8"});
  EXPECT_NE(r.out.find("2 from Boss (2:5020/1) to Иван Сисоп (2:5020/2) subj `Again`: copy to *ivan (rule: "
                       "Found mail to `ИВАН СИСОП`)"),
            std::string::npos)
      << r.out;
}

TEST_F(CliRun, ColourOnlyOnATerminalAndNeverWithNoColourOrADumbTerminal) {
  MakeDirs(P("net"));
  Config({"NETMAIL *net"});
  const std::string coloured = RunOnTerminal({"lw.cfg"}, dir_.path(), {"TERM=xterm"});
  EXPECT_NE(coloured.find("\033[25;22;37m"), std::string::npos) << coloured;
  EXPECT_NE(coloured.rfind("\033[0m"), std::string::npos);  // put back at exit
  EXPECT_GT(coloured.rfind("\033[0m"), coloured.find("Nothing to scan"));
  for (const char* env : {"NO_COLOR=1", "TERM=dumb"}) {
    SCOPED_TRACE(env);
    const std::string plain = RunOnTerminal({"lw.cfg"}, dir_.path(), {"TERM=xterm", env});
    EXPECT_EQ(plain.find("\033["), std::string::npos) << plain;
    EXPECT_NE(plain.find("Nothing to scan"), std::string::npos);
  }
  EXPECT_EQ(RunLarkway({"lw.cfg"}, dir_.path(), {"TERM=xterm"}).out.find('\033'), std::string::npos);
  // JSON lines stay JSON on a terminal too.
  const std::string json = RunOnTerminal({"-n", "-j", "lw.cfg"}, dir_.path(), {"TERM=xterm"});
  EXPECT_EQ(json.find('\033'), std::string::npos) << json;
  EXPECT_EQ(json.rfind("{\"type\":\"summary\",", 0), 0u) << json;
}

TEST_F(CliRun, HighWaterMarkStays) {
  MsgFile mark;
  mark.from = "CrashMail II";
  mark.to = "All";
  mark.subject = "HighWater mark";
  mark.text = "";
  PutMsg("net", 1, mark);
  MsgFile quiet_mark = mark;
  quiet_mark.subject = "";
  PutMsg("other", 1, quiet_mark);
  PutMsg("net", 2, Message("Someone", "All", "Hello all", "00000002"));
  PutMsg("other", 2, Message("Someone", "All", "HighWater mark", "00000003"));  // not number 1: mail
  Config({"NETMAIL *net", "NETMAIL *other", "LOG lw.log", "PRIORITY TO", "TO All, KILL"});
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_EQ(Msgs("net"), (std::vector<std::string>{"1.msg"}));
  EXPECT_EQ(Msgs("other"), (std::vector<std::string>{"1.msg"}));
  EXPECT_EQ(ReadFile(P("net/1.msg")), mark.Bytes());
}

}  // namespace
}  // namespace lw::test
