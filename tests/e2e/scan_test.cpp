// The whole job on *.MSG areas: rules, copies, moves, kills, lastread and
// the last-MSGID file, and every error path.
#include <sys/mount.h>

#include "e2e/e2e_fixture.h"
#include "msgbase/area.h"
#include "platform/platform.h"

namespace lw::test {
namespace {

MsgFile To(const std::string& to, const std::string& from = "Sender") {
  MsgFile m;
  m.to = to;
  m.from = from;
  m.text = "\001MSGID: 2:5020/1 " + std::string("0000abcd").substr(0, 8) + "\rTo " + to + "\r";
  return m;
}

MsgFile WithId(const std::string& to, const std::string& serial) {
  MsgFile m = To(to);
  m.text = "\001MSGID: 2:5020/1 " + serial + "\rbody for " + to + "\r";
  return m;
}

class Scan : public E2E {};

TEST_F(Scan, FirstMatchingKindInPriorityOrderDecides) {
  PutMsg("net", 1, To("Sysop", "Boss"));
  Config({"NETMAIL *net", "LOG lw.log", "PRIORITY TO FROM", "TO sysop, *to", "FROM boss, *from"});
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_EQ(Msgs("to").size(), 1u);
  EXPECT_FALSE(Exists(P("from")));
  EXPECT_EQ(Marked('#'), (std::vector<std::string>{"# <stamp> LW 1.07 Found mail to `SYSOP`"}));
  EXPECT_EQ(Marked('+'),
            (std::vector<std::string>{"+ <stamp> LW 1.07 Copy message to destination messagebase - " + Shown("*to")}));
}

TEST_F(Scan, NotTouchOnlyProtectsAgainstLaterKinds) {
  struct Case {
    const char* priority;
    bool copied;
  } cases[] = {{"PRIORITY TO NOT_TOUCH", true}, {"PRIORITY NOT_TOUCH TO", false}, {"", false}};
  for (const Case& c : cases) {
    StartOver();
    PutMsg("net", 1, To("Sysop"));
    Config({"NETMAIL *net", "LOG lw.log", c.priority, "TO Sysop, *dest", "NOT_TOUCH SYSOP"});
    ASSERT_EQ(Run().exit_code, 0);
    EXPECT_EQ(Exists(P("dest")), c.copied) << c.priority;
  }
}

TEST_F(Scan, NotTouchComparesTheRecipientOnly) {
  PutMsg("net", 1, To("Other", "Sysop"));
  Config({"NETMAIL *net", "PRIORITY NOT_TOUCH FROM", "NOT_TOUCH Sysop", "FROM Sysop, *dest"});
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_EQ(Msgs("dest").size(), 1u);
}

TEST_F(Scan, NameMatching) {
  PutMsg("net", 1, To("sysop"));
  PutMsg("net", 2, To("Sysop "));
  PutMsg("net", 3, To("\xa0\xab\xa5\xaa\xe1"));  // Cyrillic lower case, code page 866
  PutMsg("net", 4, To("SysopX"));
  Config({"NETMAIL *net", "LOG lw.log", "PRIORITY TO", "TO SYSOP, *a", "TO \x80\x8b\x85\x8a\x91, *b"});
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_EQ(Msgs("a").size(), 1u);
  EXPECT_EQ(Msgs("b").size(), 1u);
  EXPECT_EQ(Msgs("net").size(), 4u);  // MOVE is off: everything stays
}

TEST_F(Scan, AddressRules) {
  MsgFile point = To("A");
  point.text = "\001INTL 2:123/45 2:5020/1\r\001TOPT 6\rx\r";
  MsgFile node = To("B");
  node.text = "\001INTL 2:123/45 2:5020/1\rx\r";
  MsgFile from_node = To("C");
  from_node.text = "\001INTL 2:1/1 3:33/33\r\001FMPT 1\rx\r";
  PutMsg("net", 1, point);
  PutMsg("net", 2, node);
  PutMsg("net", 3, from_node);
  Config({"NETMAIL *net", "LOG lw.log", "PRIORITY TOADDR FROMADDR", "TOADDR 2:123/45, *node",
          "FROMADDR 3:33/33.1, *from"});
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_EQ(Msgs("node").size(), 1u);
  EXPECT_EQ(Msgs("from").size(), 1u);
  EXPECT_EQ(Marked('#'), (std::vector<std::string>{"# <stamp> LW 1.07 Found mail to address `2:123/45`",
                                                   "# <stamp> LW 1.07 Found mail from address `3:33/33.1`"}));
}

TEST_F(Scan, ZoneZeroRuleEndsTheAddressList) {
  MsgFile m = To("A");
  m.text = "\001INTL 2:123/45 2:5020/1\rx\r";
  PutMsg("net", 1, m);
  Config({"NETMAIL *net", "PRIORITY TOADDR", "TOADDR 2:9/9, *first", "TOADDR 123/45, *zero", "TOADDR 2:123/45, *late"});
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_FALSE(Exists(P("late")));
}

TEST_F(Scan, CopyIsByteIdenticalWithExactAttributes) {
  MsgFile m = To("Sysop");
  m.attr = 0x0001 | 0x0002 | 0x0100 | 0x0800 | 0x8000;  // private crash local FRQ file-update
  m.text = "\001MSGID: 2:5020/1 cafe0001\r\001FLAGS XYZ\rline one\r\nline two\r\001Via somewhere\r";
  m.date_written = 0x48813625;  // the same moment as the date text
  m.date_arrived = 0x5A3C4321;
  m.date_time = "05 Jan 07  09:04:03";
  PutMsg("net", 1, m);
  Config({"NETMAIL *net", "PRIORITY TO", "TO Sysop, Mdest"});
  ASSERT_EQ(Run().exit_code, 0);
  std::string src = ReadFile(P("net/1.msg"));
  std::string copy = ReadFile(P("dest/1.msg"));
  ASSERT_EQ(copy.size(), src.size());
  EXPECT_EQ(copy.substr(190), src.substr(190));        // text and NUL
  EXPECT_EQ(copy.substr(0, 164), src.substr(0, 164));  // names, subject, date text
  EXPECT_EQ(copy.substr(166, 24), src.substr(166, 24)) << "addresses, stamps, attributes";
}

// A date text that leaves its month or day unsaid, or cannot be read at
// all, is copied as a date not known: no month or day is invented, in the
// text of a *.MSG copy nor in the packed stamps of a *.MSG or Squish copy.
TEST_F(Scan, ADateNotKnownStaysUnknownInTheCopy) {
  struct Case {
    const char* source_text;
    const char* copy_text;
    std::int32_t year, day, hour, min, sec;  // the month is 0: not known
  } const kCases[] = {
      {"04 Xyz 01  05:06:07", "04 ??? 01  05:06:07", 2001, 4, 5, 6, 7},
      {"", "00 ??? 00  00:00:00", 2000, 0, 0, 0, 0},
      {"garbage!", "00 ??? 00  00:00:00", 2000, 0, 0, 0, 0},
  };
  for (const Case& c : kCases) {
    for (const char* letter : {"*", "S"}) {
      SCOPED_TRACE(std::string(letter) + " " + c.source_text);
      StartOver();
      MsgFile m = To("Sysop");
      m.date_time = c.source_text;
      PutMsg("net", 1, m);
      const std::string dest = AreaId(letter, P("dest"));
      Config({"NETMAIL *net", "PRIORITY TO", "TO Sysop, " + dest});
      ASSERT_EQ(Run().exit_code, 0);
      if (letter[0] == '*') {
        const std::string header = ReadFile(P("dest/1.msg")).substr(0, 190);
        EXPECT_EQ(header.substr(144, 20), std::string(c.copy_text) + '\0');
      }
      MsgBasePtr base;
      ASSERT_TRUE(OpenArea(base, dest));
      base->SeekFirst(1);
      ASSERT_TRUE(base->OpenMsg());
      MsgDateTime written;
      base->GetDateWritten(written);
      EXPECT_EQ(written.Month, 0);
      EXPECT_EQ(written.Day, c.day);
      EXPECT_EQ(written.Year, c.year);
      EXPECT_EQ(written.Hour, c.hour);
      EXPECT_EQ(written.Min, c.min);
      EXPECT_EQ(written.Sec / 2, c.sec / 2) << "a packed stamp holds seconds in steps of two";
      base->CloseMsg();
      ASSERT_TRUE(CloseArea(base));
    }
  }
}

TEST_F(Scan, MoveRemovesKillDeletesWithoutCopy) {
  PutMsg("net", 1, To("Sysop"));
  PutMsg("net", 2, To("Spammer"));
  PutMsg("net", 3, To("Keep"));
  Config({"NETMAIL *net", "LOG lw.log", "MOVE YES", "PRIORITY TO", "TO Sysop, *dest", "TO Spammer, Kill"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_EQ(Msgs("net"), (std::vector<std::string>{"3.msg"}));
  EXPECT_EQ(Msgs("dest"), (std::vector<std::string>{"1.msg"}));
  EXPECT_EQ(Marked('-').size(), 2u);
  EXPECT_NE(r.out.find("2 message(s) founded"), std::string::npos);
}

TEST_F(Scan, KillDeletesEvenWithoutMove) {
  PutMsg("net", 1, To("Spammer"));
  Config({"NETMAIL *net", "PRIORITY TO", "TO Spammer, KILL"});
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_TRUE(Msgs("net").empty());
}

TEST_F(Scan, ConsecutiveCopiesToOneDestinationInScanOrder) {
  PutMsg("net", 4, WithId("Sysop", "00000001"));
  PutMsg("net", 9, WithId("Sysop", "00000002"));
  Config({"NETMAIL *net", "PRIORITY TO", "TO Sysop, *dest"});
  ASSERT_EQ(Run().exit_code, 0);
  ASSERT_EQ(Msgs("dest"), (std::vector<std::string>{"1.msg", "2.msg"}));
  EXPECT_NE(ReadFile(P("dest/1.msg")).find("00000001"), std::string::npos);
  EXPECT_NE(ReadFile(P("dest/2.msg")).find("00000002"), std::string::npos);
}

TEST_F(Scan, LocalAndUnsentMailStays) {
  MsgFile local = To("Sysop");
  local.attr = 0x0100;
  MsgFile sent = To("Sysop");
  sent.attr = 0x0100 | 0x0008;
  PutMsg("net", 1, local);
  PutMsg("net", 2, sent);
  Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, *dest", "DON'T_TOUCH_LOCAL_AND_UNSENT_MAIL yes"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_EQ(Msgs("net"), (std::vector<std::string>{"1.msg"}));
  EXPECT_NE(r.out.find("2 message(s) scanned"), std::string::npos);
  EXPECT_EQ(ReadFile(P("net/lastread")), std::string("\x01\x00", 2));  // kept message 1
}

TEST_F(Scan, LoneMessageNumberOneIsScanned) {
  PutMsg("net", 1, To("Sysop"));
  Config({"NETMAIL *net", "PRIORITY TO", "TO Sysop, *dest"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_EQ(Msgs("dest").size(), 1u);
  EXPECT_NE(r.out.find("1 message(s) founded"), std::string::npos);
}

TEST_F(Scan, LastReadCycle) {
  for (int n = 1; n <= 5; ++n) PutMsg("net", n, WithId("User" + std::to_string(n), "0000000" + std::to_string(n)));
  Config({"NETMAIL *net", "LOG lw.log", "USELASTREAD YES", "USERNUMBER 2", "PRIORITY TO", "TO Sysop, *dest"});
  // First run: the msgid file is new ("00000000") and lastread 0: all scanned.
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("5 message(s) scanned"), std::string::npos);
  EXPECT_EQ(ReadFile(P("net/msgid")), "00000005");
  EXPECT_EQ(ReadFile(P("net/lastread")), std::string("\0\0\0\0\x05\0", 6));
  // Nothing new: nothing to scan, and nothing is rewritten.
  r = Run();
  EXPECT_NE(r.out.find("Nothing to scan !"), std::string::npos);
  EXPECT_EQ(ReadFile(P("net/msgid")), "00000005");
  // Two new messages: only they are scanned.
  PutMsg("net", 6, WithId("Sysop", "00000006"));
  PutMsg("net", 7, WithId("User7", "00000007"));
  r = Run();
  EXPECT_NE(r.out.find("2 message(s) scanned"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 message(s) founded"), std::string::npos);
  EXPECT_EQ(ReadFile(P("net/lastread")), std::string("\0\0\0\0\x07\0", 6));
  // The area changed behind our back: the message at the pointer is another one.
  PutMsg("net", 7, WithId("User7", "deadbeef"));
  r = Run();
  EXPECT_NE(r.out.find("7 message(s) scanned"), std::string::npos) << r.out;
}

TEST_F(Scan, MessageWithoutMsgIdIdentifiedByItsLastLine) {
  MsgFile m = To("User");
  m.text = "first\rthe last line xyz12345\r";
  PutMsg("net", 1, m);
  PutMsg("net", 2, m);
  Config({"NETMAIL *net", "USELASTREAD YES", "USERNUMBER 1", "PRIORITY TO"});
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_EQ(ReadFile(P("net/msgid")), "xyz12345");
  RunResult r = Run();
  EXPECT_NE(r.out.find("Nothing to scan !"), std::string::npos) << r.out;
}

TEST_F(Scan, AllPickedResetsLastReadToZero) {
  PutMsg("net", 1, WithId("Sysop", "00000001"));
  PutMsg("net", 2, WithId("Sysop", "00000002"));
  Config({"NETMAIL *net", "MOVE YES", "USELASTREAD YES", "USERNUMBER 1", "PRIORITY TO", "TO Sysop, *dest"});
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_EQ(ReadFile(P("net/lastread")), std::string("\0\0\0\0", 4));
  EXPECT_EQ(ReadFile(P("net/msgid")), "00000002");
  PutMsg("net", 3, WithId("Other", "00000003"));
  RunResult r = Run();
  EXPECT_NE(r.out.find("1 message(s) scanned"), std::string::npos);
}

TEST_F(Scan, MoveWithoutLastReadWritesEmptyMsgId) {
  PutMsg("net", 1, To("Other"));
  Config({"NETMAIL *net", "MOVE YES"});
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_EQ(ReadFile(P("net/msgid")), "");
  EXPECT_EQ(ReadFile(P("net/lastread")), std::string("\x01\x00", 2));
}

TEST_F(Scan, EmptyAreaPathKeepsMsgIdInCurrentFolder) {
  PutMsg(".", 1, To("Other"));
  Config({"NETMAIL *", "MOVE YES"});
  RunResult r = Run();
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Exists(P("msgid")));
}

// ---- Error paths: exit code 255, exact texts, nothing lost. ----

TEST_F(Scan, AreaThatCannotBeOpened) {
  Config({"NETMAIL *missing", "LOG lw.log"});
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.out.find("Error: unable to open messagebase - " + Shown("*missing") + "\n"), std::string::npos);
  // The log names the folder and the system's reason after the console's words.
  const std::string logged = "! <stamp> LW 1.07 Error: unable to open messagebase - " + Shown("*missing") + ": ";
  EXPECT_EQ(LastLogLine().rfind(logged, 0), 0u) << LastLogLine();
  EXPECT_GT(LastLogLine().size(), logged.size() + 9) << LastLogLine();
  EXPECT_EQ(Marked('i').size(), 0u);  // no memory-leak line after an error
}

TEST_F(Scan, MessageThatCannotBeOpened) {
  if (TestingWin32Build()) GTEST_SKIP() << "Wine does not see Linux file locks; the Win32 sharing test covers it";
  PutMsg("net", 1, To("Sysop"));
  PutMsg("net", 2, To("Other"));
  // Another program holds message 2 exclusively.
  platform::FileHandle held = platform::kNoFile;
  ASSERT_EQ(platform::Os().OpenFile(P("net/2.msg"), platform::Access::kReadWrite, platform::Sharing::kExclusive, &held),
            platform::kOk);
  Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, *dest", "LOG lw.log"});
  RunResult r = Run();
  platform::Os().CloseFile(held);
  // The message is left alone with a warning, the rest of the area is done,
  // and where the scan stopped is not stored, so the next run sees it again.
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("Warning: Unable to read message 2 in " + Shown("*net") + "\n"), std::string::npos) << r.out;
  EXPECT_EQ(Marked('?'),
            (std::vector<std::string>{"? <stamp> LW 1.07 Warning: Unable to read message 2 in " + Shown("*net")}));
  EXPECT_EQ(Msgs("net"), (std::vector<std::string>{"2.msg"}));
  EXPECT_EQ(Msgs("dest"), (std::vector<std::string>{"1.msg"}));
  EXPECT_FALSE(Exists(P("net/msgid")));
}

TEST_F(Scan, DestinationThatCannotBeOpened) {
  PutMsg("net", 1, To("Sysop"));
  Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, X:bad", "LOG lw.log"});
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.out.find("Error: unable to open destination messagebase - " + Shown("X:bad") + "\n"), std::string::npos);
  EXPECT_EQ(Msgs("net").size(), 1u);
}

TEST_F(Scan, EmptyTargetCannotBeOpened) {
  PutMsg("net", 1, To("Sysop"));
  Config({"NETMAIL *net", "PRIORITY TO", "TO Sysop"});
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.out.find("Error: unable to open destination messagebase - \n"), std::string::npos);
}

// A destination folder that cannot be made (a file stands in its way).
TEST_F(Scan, DestinationFolderCannotBeMade) {
  PutMsg("net", 1, To("Sysop"));
  WriteFile(P("plainfile"), "x");
  Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, *plainfile/sub"});
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.out.find("Error: unable to open destination messagebase - " + Shown("*plainfile/sub") + "\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Msgs("net").size(), 1u);
}

// A destination on a file system that fills up: the write fails, the run
// stops, the source stays and no half message is left in the destination.
TEST_F(Scan, FullDiskLosesNothing) {
  MakeDirs(P("full"));
  if (mount("tmpfs", P("full").c_str(), "tmpfs", 0, "size=12k") != 0) GTEST_SKIP() << "cannot mount tmpfs";
  MsgFile big = To("Sysop");
  big.text += std::string(20000, 'b') + "\r";
  PutMsg("net", 1, To("Sysop"));
  PutMsg("net", 2, big);
  Config({"NETMAIL *net", "MOVE YES", "PRIORITY TO", "TO Sysop, *full/dest", "LOG lw.log"});
  RunResult r = Run();
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.out.find("Error: Cannot write message. Wadda fuck?!\n"), std::string::npos) << r.out;
  EXPECT_EQ(Msgs("net"), (std::vector<std::string>{"2.msg"}));
  EXPECT_EQ(Msgs("full/dest"), (std::vector<std::string>{"1.msg"}));
  EXPECT_EQ(ReadFile(P("full/dest/1.msg")).substr(190), To("Sysop").text + std::string(1, '\0'));
  umount(P("full").c_str());
}

}  // namespace
}  // namespace lw::test
