// Rules with name and subject patterns, address masks and several targets,
// judged by where each message of a real area lands.
#include "e2e/e2e_fixture.h"

namespace lw::test {
namespace {

// A message to `to` at `dest` from `from_addr`; its text names it by `tag`.
MsgFile Msg(const std::string& tag, const std::string& to, const std::string& dest,
            const std::string& from_addr = "2:5020/1", const std::string& subject = "Hello") {
  MsgFile m;
  m.to = to;
  m.subject = subject;
  std::string intl =
      "\001INTL " + dest.substr(0, dest.find('.')) + " " + from_addr.substr(0, from_addr.find('.')) + "\r";
  if (dest.find('.') != std::string::npos) intl += "\001TOPT " + dest.substr(dest.find('.') + 1) + "\r";
  if (from_addr.find('.') != std::string::npos) intl += "\001FMPT " + from_addr.substr(from_addr.find('.') + 1) + "\r";
  m.text = intl + "\001MSGID: " + from_addr + " 0000000" + tag + "\rmessage " + tag + "\r";
  return m;
}

// The tags of the messages an area holds, in walk order.
std::string Tags(const std::vector<StoredMsg>& msgs) {
  std::string tags;
  for (const StoredMsg& m : msgs) {
    std::size_t at = m.text.find("\rmessage ");
    tags += at == std::string::npos ? "?" : m.text.substr(at + 9, 1);
  }
  return tags;
}

class ScanRules : public E2E {
 protected:
  std::string MsgArea(const std::string& rel) { return Tags(ReadArea(AreaId("*", P(rel)))); }
};

TEST_F(ScanRules, EveryFormInOneConfiguration) {
  PutMsg("net", 1, Msg("1", "Doorkeeper", "2:5020/55", "2:5020/1", "Re: Areafix"));
  PutMsg("net", 2, Msg("2", "Anyone", "2:5020/55", "2:5020/1", "re: areafix list"));
  PutMsg("net", 3, Msg("3", "Anyone", "2:5020/55", "2:5020/1", "cheap SPAM inside"));
  PutMsg("net", 4, Msg("4", "AreaFix Robot", "2:5020/55"));
  PutMsg("net", 5, Msg("5", "sysop", "2:5020/55"));
  PutMsg("net", 6, Msg("6", "Nobody", "2:5020/55", "2:5030/7.3"));
  PutMsg("net", 7, Msg("7", "Nobody", "2:5020/55"));
  PutMsg("net", 8, Msg("8", "Nobody", "2:5020/55.2"));
  PutMsg("net", 9, Msg("9", "Nobody", "2:5020/100.4"));
  Config({"NETMAIL *net", "LOG lw.log", "MOVE YES", "PRIORITY NOT_TOUCH SUBJ TO FROMADDR TOADDR", "NOT_TOUCH *keeper",
          "SUBJ Re: Areafix*, *areafix", "SUBJ *spam*, KILL", "TO *Robot, *robots, " + AreaId("S", "bases/robots"),
          "TO S?sop, *sysop", "FROMADDR 2:5030/*.*, *net5030",
          "TOADDR 2:5020/*, *kept, KILL",  // unusable: skipped, so it takes nothing
          "TOADDR 2:5020/*, *nodes", "TOADDR 2:5020/100.*, *boss", "TOADDR *:*/*.*, *rest"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(MsgArea("net"), "1");
  EXPECT_EQ(MsgArea("areafix"), "2");
  EXPECT_EQ(MsgArea("robots"), "4");
  EXPECT_EQ(Tags(ReadArea(AreaId("S", P("bases/robots")))), "4");
  EXPECT_EQ(MsgArea("sysop"), "5");
  EXPECT_EQ(MsgArea("net5030"), "6");
  EXPECT_EQ(MsgArea("nodes"), "7");
  EXPECT_EQ(MsgArea("rest"), "8");  // a node mask leaves the node's points
  EXPECT_EQ(MsgArea("boss"), "9");
  EXPECT_FALSE(Exists(P("kept")));
  EXPECT_EQ(
      Marked('#'),
      (std::vector<std::string>{
          "# <stamp> LW 1.07 Found mail with subject `RE: AREAFIX*`",
          "# <stamp> LW 1.07 Found mail with subject `*SPAM*`", "# <stamp> LW 1.07 Found mail to `*ROBOT`",
          "# <stamp> LW 1.07 Found mail to `S?SOP`", "# <stamp> LW 1.07 Found mail from address `2:5030/*.*`",
          "# <stamp> LW 1.07 Found mail to address `2:5020/*`", "# <stamp> LW 1.07 Found mail to address `*:*/*.*`",
          "# <stamp> LW 1.07 Found mail to address `2:5020/100.*`"}));
  // Each picked message deleted once, the robot's after both of its copies.
  EXPECT_EQ(Marked('-').size(), 8u);
  std::vector<std::string> log = LogLines();
  std::vector<std::string> robot;
  for (const std::string& line : log) {
    if (line.find("`*ROBOT`") != std::string::npos || !robot.empty()) robot.push_back(line);
  }
  ASSERT_GE(robot.size(), 4u);
  EXPECT_EQ(robot[1], "+ <stamp> LW 1.07 Copy message to destination messagebase - " + Shown("*robots"));
  EXPECT_EQ(robot[2], "+ <stamp> LW 1.07 Copy message to destination messagebase - " + Shown("Sbases/robots"));
  EXPECT_EQ(robot[3], "- <stamp> LW 1.07 moving or kill message");
}

// A target that cannot be opened stops the run: the source stays, and the
// copies made before it stay too.
TEST_F(ScanRules, FailedTargetKeepsTheSource) {
  PutMsg("net", 1, Msg("1", "Sysop", "2:5020/55"));
  WriteFile(P("plainfile"), "x");
  Config({"NETMAIL *net", "LOG lw.log", "MOVE YES", "PRIORITY TO", "TO Sysop, *first, *plainfile/sub, *third"});
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.out.find("Error: unable to open destination messagebase - " + Shown("*plainfile/sub")), std::string::npos)
      << r.out;
  EXPECT_EQ(MsgArea("net"), "1");
  EXPECT_EQ(MsgArea("first"), "1");
  EXPECT_FALSE(Exists(P("third")));
  EXPECT_TRUE(Marked('-').empty());
}

// Without MOVE every target of every format gets its copy and the source
// stays.
TEST_F(ScanRules, CopiesWithoutMoveLeaveTheSource) {
  PutMsg("net", 1, Msg("1", "Sysop", "2:5020/55"));
  PutMsg("net", 2, Msg("2", "Other", "2:5020/55"));
  Config({"NETMAIL *net", "PRIORITY TO", "TO Sysop, *a, *b, " + AreaId("J", "c")});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(MsgArea("net"), "12");
  EXPECT_EQ(MsgArea("a"), "1");
  EXPECT_EQ(MsgArea("b"), "1");
  EXPECT_EQ(Tags(ReadArea(AreaId("J", P("c")))), "1");
}

// Names are judged in the character set the message's CHRS kludge names
// (CP866 without one); a rule written in UTF-8 takes every spelling.
TEST_F(ScanRules, NamesAreDecodedByTheirCharsetBeforeTheyAreCompared) {
  const std::string ivan_utf8 = "\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd \xd0\xa1\xd0\xb8\xd1\x81\xd0\xbe\xd0\xbf";
  struct Case {
    const char* tag;
    std::string to;
    const char* chrs;  // "" for no kludge
  } cases[] = {
      {"1", "\x88\xa2\xa0\xad \x91\xa8\xe1\xae\xaf", ""},
      {"2", ivan_utf8, "UTF-8 4"},
      {"3", "\xe9\xd7\xc1\xce \xf3\xc9\xd3\xcf\xd0", "KOI8-R 2"},
      {"4", "\x88\xa2\xa0\xad \x91\xa8\xe1\xae\xaf", "CP866 2"},
      {"5", ivan_utf8, ""},              // taken as CP866: another name
      {"6", "\xd0\x98\xff", "UTF-8 4"},  // cannot be decoded: compared as bytes
  };
  for (const Case& c : cases) {
    MsgFile m = Msg(c.tag, c.to, "2:5020/55");
    if (*c.chrs != 0) m.text = "\001CHRS: " + std::string(c.chrs) + "\r" + m.text;
    PutMsg("net", std::stoi(c.tag), m);
  }
  Config({"NETMAIL *net", "MOVE yes", "PRIORITY TO", "TO " + ivan_utf8 + ", *ivan"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(MsgArea("ivan"), "1234");
  EXPECT_EQ(MsgArea("net"), "56");
}

}  // namespace
}  // namespace lw::test
