// A move of more messages than one batch holds: every destination gets
// each of its messages once and in order, the netmail area keeps only what
// no rule picked, and the log tells each message's story in its place, as
// when every message was moved on its own.
#include <cstdio>
#include <map>

#include "e2e/e2e_fixture.h"

namespace lw::test {
namespace {

// Who each message is for, in turn, and where its rule sends it.
struct Recipient {
  const char* name;
  std::vector<std::string> targets;  // empty: kept; {"KILL"}: killed
};

const std::vector<Recipient>& Recipients() {
  static const std::vector<Recipient> kRecipients = {
      {"Alpha", {"*alpha"}}, {"Beta", {"Sbeta"}}, {"Gamma", {"Jgamma"}},
      {"Keep", {}},          {"Spam", {"KILL"}},  {"Delta", {"*alpha", "Sbeta", "Jgamma"}},
  };
  return kRecipients;
}

constexpr int kMessages = 330;  // 275 picked: more than one batch

MsgFile Numbered(int n) {
  MsgFile m;
  m.to = Recipients()[static_cast<std::size_t>(n) % Recipients().size()].name;
  char serial[9];
  std::snprintf(serial, sizeof serial, "%08x", 0x1000 + n);
  m.text = "\001MSGID: 2:5020/1 " + std::string(serial) + "\rMessage " + std::to_string(n) + "\r";
  return m;
}

class BatchedMove : public E2E, public ::testing::WithParamInterface<char> {
 protected:
  std::string NetmailId() { return GetParam() == 'M' ? "*net" : AreaId(GetParam() == 'S' ? "S" : "J", "net"); }

  void WriteNetmail() {
    std::vector<MsgFile> msgs;
    for (int n = 0; n < kMessages; ++n) msgs.push_back(Numbered(n));
    if (GetParam() == 'M') {
      for (int n = 0; n < kMessages; ++n) PutMsg("net", n + 1, msgs[static_cast<std::size_t>(n)]);
    } else {
      FillArea(AreaId(GetParam() == 'S' ? "S" : "J", P("net")), msgs);
    }
  }

  void WriteConfig() {
    std::vector<std::string> lines = {"NETMAIL " + NetmailId(), "LOG lw.log", "MOVE YES", "PRIORITY TO"};
    for (const Recipient& r : Recipients()) {
      std::string targets;
      for (const std::string& t : r.targets) targets += (targets.empty() ? "" : ", ") + t;
      if (!targets.empty()) lines.push_back(std::string("TO ") + r.name + ", " + targets);
    }
    Config(lines);
  }

  // The lines the log gets for message `n`, as a move one at a time writes them.
  static void ExpectedLines(int n, std::vector<std::string>& lines) {
    const Recipient& r = Recipients()[static_cast<std::size_t>(n) % Recipients().size()];
    if (r.targets.empty()) return;
    std::string upper = r.name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    lines.push_back("# <stamp> LW 1.07 Found mail to `" + upper + "`");
    if (r.targets[0] != "KILL") {
      for (const std::string& t : r.targets) {
        lines.push_back("+ <stamp> LW 1.07 Copy message to destination messagebase - " + Shown(t));
      }
    }
    lines.push_back("- <stamp> LW 1.07 moving or kill message");
  }
};

TEST_P(BatchedMove, MovesEveryMessageOnceInOrderAndLogsItInPlace) {
  WriteNetmail();
  WriteConfig();
  const RunResult run = Run();
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;

  std::map<std::string, std::vector<std::string>> expected;  // area -> texts, in order
  std::vector<std::string> expected_log;
  for (int n = 0; n < kMessages; ++n) {
    const Recipient& r = Recipients()[static_cast<std::size_t>(n) % Recipients().size()];
    const std::vector<std::string> homes = r.targets.empty() ? std::vector<std::string>{NetmailId()} : r.targets;
    for (const std::string& home : homes) {
      if (home != "KILL") expected[home].push_back("Message " + std::to_string(n) + "\r");
    }
    ExpectedLines(n, expected_log);
  }
  for (const auto& [area, texts] : expected) {
    const std::vector<StoredMsg> stored = ReadArea(AreaId(area.substr(0, 1).c_str(), P(area.substr(1))));
    ASSERT_EQ(stored.size(), texts.size()) << area;
    for (std::size_t i = 0; i < texts.size(); ++i) {
      EXPECT_NE(stored[i].text.find(texts[i]), std::string::npos) << area << " #" << i << ": " << stored[i].text;
    }
  }
  std::vector<std::string> log;
  for (const std::string& line : LogLines()) {
    if (!line.empty() && (line[0] == '#' || line[0] == '+' || line[0] == '-' || line[0] == '?')) log.push_back(line);
  }
  EXPECT_EQ(log, expected_log);
  EXPECT_EQ(Marked('*').front(), "* <stamp> LW 1.07 " + std::to_string(kMessages) + " message(s) scanned");

  // The running count reaches standard output whole and in order, however
  // few writes carry it, and before the area's closing line (the last CR
  // came out as a line end: the run's CR LF read as LF).
  std::string counts;
  for (int n = 1; n <= kMessages; ++n)
    counts += std::to_string(n) + " message(s) scanned" + (n < kMessages ? "\r" : "\n");
  const std::size_t at = run.out.find(counts);
  ASSERT_NE(at, std::string::npos) << run.out;
  EXPECT_LT(at, run.out.find(" message(s) founded"));
}

INSTANTIATE_TEST_SUITE_P(Netmail, BatchedMove, ::testing::Values('M', 'S', 'J'),
                         [](const auto& info) { return std::string(1, info.param); });

}  // namespace
}  // namespace lw::test
