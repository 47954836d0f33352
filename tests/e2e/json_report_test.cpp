// The dry run's JSON report and --list: every line standard output gets is
// one JSON object, names come back in UTF-8 whatever the message's
// character set, and --list shows a whole area whatever its lastread says.
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "e2e/e2e_fixture.h"

namespace lw::test {
namespace {

using Json = nlohmann::json;

class JsonReport : public E2E {
 protected:
  void SetUp() override {
    if (TestingWin32Build()) GTEST_SKIP() << "checked against the Linux build";
  }
};

// Each line of `out` parsed; a line that is not one JSON object fails the test.
std::vector<Json> JsonLines(const std::string& out) {
  std::vector<Json> lines;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\n', start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "no line end after: " << out.substr(start);
      break;
    }
    const std::string line = out.substr(start, end - start);
    Json parsed = Json::parse(line, nullptr, false);
    EXPECT_TRUE(parsed.is_object()) << line;
    lines.push_back(parsed);
    start = end + 1;
  }
  return lines;
}

// Every file under `root` with its bytes.
std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string rel = std::filesystem::relative(e.path(), root).string();
    tree[rel] = e.is_regular_file() ? ReadFile(e.path().string()) : std::string("<folder>");
  }
  return tree;
}

MsgFile Message(const std::string& from, const std::string& to, const std::string& subject, const std::string& text) {
  MsgFile m;
  m.from = from;
  m.to = to;
  m.subject = subject;
  m.text = text;
  return m;
}

// "Иван Сисоп" in UTF-8 and in CP866.
const std::string kIvanUtf8 = "\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd \xd0\xa1\xd0\xb8\xd1\x81\xd0\xbe\xd0\xbf";
const std::string kIvanCp866 = "\x88\xa2\xa0\xad \x91\xa8\xe1\xae\xaf";

TEST_F(JsonReport, DryRunGivesOneObjectPerMessageThenTheSummary) {
  // A sender holding parentheses and quotes in CP866 letters (no CHRS).
  PutMsg("net", 1, Message(kIvanCp866 + " (\"Boss\")", "Sysop", "Report (Q3)", "\001MSGID: 2:5020/1 0000abcd\rbody\r"));
  // A CHRS: UTF-8 message whose names are UTF-8.
  PutMsg("net", 2,
         Message("Friend", kIvanUtf8, "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82",
                 "\001CHRS: UTF-8 4\r\001MSGID: 2:5020/1 00000002\rbody\r"));
  PutMsg("net", 3, Message("Nobody)", "Somebody", "Hi", "no kludges\r"));
  PutMsg("net", 4, Message("Hooked", "Friend", "Ping", "\001MSGID: 2:5020/1 00000004\rbody\r"));
  Config({"NETMAIL *net", "LOG lw.log", "MOVE yes", "PRIORITY TO FILTER", "TO Sysop, Jbase, *copies",
          "TO " + kIvanUtf8 + ", KILL", "FILTER FROM Hooked THEN COPY *seen, EXEC \"./hook.sh --urgent\""});
  const auto before = Tree(dir_.path());
  RunResult r = RunLarkway({"--dry-run", "--json", "lw.cfg"}, dir_.path());
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Tree(dir_.path()), before);
  const std::vector<Json> lines = JsonLines(r.out);
  // The banner and the scanning lines are not there: every line is JSON.
  const char* const expected[] = {
      R"j({"type":"message","area":"*net","number":1,"from":"Иван Сисоп (\"Boss\")","to":"Sysop",
          "subject":"Report (Q3)","fromaddr":"2:5020/1","toaddr":"2:5020/2","msgid":"2:5020/1 0000abcd",
          "rules":["Found mail to `SYSOP`"],"actions":[{"action":"move","to":["Jbase","*copies"]}],"kept":null})j",
      R"j({"type":"message","area":"*net","number":2,"from":"Friend","to":"Иван Сисоп","subject":"Привет",
          "fromaddr":"2:5020/1","toaddr":"2:5020/2","msgid":"2:5020/1 00000002",
          "rules":["Found mail to `ИВАН СИСОП`"],"actions":[{"action":"kill"}],"kept":null})j",
      R"j({"type":"message","area":"*net","number":3,"from":"Nobody)","to":"Somebody","subject":"Hi",
          "fromaddr":"2:5020/1","toaddr":"2:5020/2","msgid":null,"rules":[],"actions":[],"kept":"no rule"})j",
      R"j({"type":"message","area":"*net","number":4,"from":"Hooked","to":"Friend","subject":"Ping",
          "fromaddr":"2:5020/1","toaddr":"2:5020/2","msgid":"2:5020/1 00000004","rules":["Found mail by filter `FROM Hooked`"],
          "actions":[{"action":"copy","to":["*seen"]},{"action":"exec","command":["./hook.sh","--urgent"]}],
          "kept":null})j",
      R"j({"type":"summary","areas":1,"messages":4,"picked":3,"kept":1,"unreadable":0,"stopped":null})j",
  };
  ASSERT_EQ(lines.size(), std::size(expected)) << r.out;
  for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], Json::parse(expected[i])) << lines[i].dump();
}

// An error leaves standard output empty (it is told on standard error
// only), so a reader of the JSON lines never meets prose.
TEST_F(JsonReport, ErrorsGoToStandardErrorOnly) {
  Config({"NETMAIL Snosuch/base", "PRIORITY TO", "TO Sysop, *copies"});
  RunResult r = RunLarkway({"-n", "-j", "lw.cfg"}, dir_.path());
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("larkway: unable to open messagebase - Snosuch/base: "), std::string::npos) << r.err;
}

// --list shows every message of the area from the first, whatever its
// lastread pointer says, and writes nothing: judged by the configuration's
// rules when one is named, else every message kept.
TEST_F(JsonReport, ListShowsTheWholeAreaIgnoringLastread) {
  PutMsg("net", 1, Message("Boss", "Sysop", "Report", "\001MSGID: 2:5020/1 00000001\rbody\r"));
  PutMsg("net", 2, Message("Friend", "Somebody", "Hi", "\001MSGID: 2:5020/1 00000002\rbody\r"));
  Config({"NETMAIL *net", "LOG lw.log", "USELASTREAD yes", "USERNUMBER 1", "PRIORITY TO", "TO Sysop, *copies"});
  // A real run copies message 1 and leaves lastread at message 2, the last.
  ASSERT_EQ(Run().exit_code, 0);
  ASSERT_EQ(Msgs("copies").size(), 1u);
  RunResult dry = RunLarkway({"-n", "-j", "lw.cfg"}, dir_.path());
  ASSERT_EQ(JsonLines(dry.out).size(), 1u) << "the dry run was to find nothing past lastread: " << dry.out;

  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> env;
    const char* first_kept;  // the "kept" of message 1: null when a rule picks it
  };
  const Case cases[] = {
      {{"--list", "*net", "--json", "lw.cfg"}, {}, nullptr},
      {{"-l", "*net", "-j"}, {"LARKWAY_CONFIG=lw.cfg"}, nullptr},
      {{"-l", "*net", "-j"}, {"LARKWAY_CONFIG="}, "no rule"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back() + (c.env.empty() ? std::string() : " " + c.env[0]));
    const auto before = Tree(dir_.path());
    RunResult r = RunLarkway(c.args, dir_.path(), c.env);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(Tree(dir_.path()), before);
    const std::vector<Json> lines = JsonLines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines[0]["number"], 1);
    EXPECT_EQ(lines[0]["kept"], c.first_kept == nullptr ? Json(nullptr) : Json(c.first_kept));
    EXPECT_EQ(lines[1]["number"], 2);
    EXPECT_EQ(lines[1]["kept"], "no rule");
    EXPECT_EQ(lines[2]["messages"], 2);
  }

  // Without --json: the dry run's lines.
  RunResult r = RunLarkway({"-q", "--list", "*net", "lw.cfg"}, dir_.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "1 from Boss (2:5020/1) to Sysop (2:5020/2) subj `Report`: copy to *copies (rule: Found mail to "
            "`SYSOP`)\n"
            "2 from Friend (2:5020/1) to Somebody (2:5020/2) subj `Hi`: kept (no rule)\n");
}

}  // namespace
}  // namespace lw::test
