// The copy journal: what it keeps of the records a run writes, and how
// the copies it points at are recognised.
#include "app/scan/copy_journal.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/message/message_digest.h"
#include "app/scan/last_msgid.h"
#include "msgbase/area.h"
#include "test_util.h"

namespace lw {
namespace {

using test::AreaIdOf;

TEST(CopyJournal, KeepsTheLowestMarkOfEachDestinationAndSkipsATornLine) {
  test::TempDir dir;
  const std::string file = dir / "netmail.journal";
  {
    CopyJournal journal(file);
    ASSERT_TRUE(journal.Load().ok());
    EXPECT_TRUE(journal.empty());
    ASSERT_TRUE(journal.Record("Sdest/one", 12).ok());
    ASSERT_TRUE(journal.Record("M/dest two", 0).ok());
  }
  // A later run adds a record of its own, and a crash tears a third.
  test::WriteFile(file, test::ReadFile(file) + "7 Sdest/one\n4000000000 Jbig\n4");
  CopyJournal journal(file);
  ASSERT_TRUE(journal.Load().ok());
  struct Case {
    const char* dest;
    bool held;
    MsgNum mark;
  } const kCases[] = {
      {"Sdest/one", true, 7}, {"M/dest two", true, 0}, {"Jbig", true, 4000000000}, {"Jother", false, 0}, {"4", false, 0}};
  for (const Case& c : kCases) {
    MsgNum mark = -1;
    EXPECT_EQ(journal.MarkOf(c.dest, mark), c.held) << c.dest;
    if (c.held) {
      EXPECT_EQ(mark, c.mark) << c.dest;
    }
  }
  // A record added after a load keeps the records read.
  ASSERT_TRUE(journal.Record("Jthird", 3).ok());
  {
    CopyJournal reread(file);
    ASSERT_TRUE(reread.Load().ok());
    for (const auto& [dest, want] : {std::pair{"Sdest/one", 7}, {"M/dest two", 0}, {"Jthird", 3}}) {
      MsgNum mark = -1;
      EXPECT_TRUE(reread.MarkOf(dest, mark) && mark == want) << dest << " " << mark;
    }
  }
  ASSERT_TRUE(journal.Drop().ok());
  EXPECT_FALSE(test::Exists(file));
  CopyJournal reread(file);
  ASSERT_TRUE(reread.Load().ok());
  EXPECT_TRUE(reread.empty());
}

// A journal that cannot be written says which file and why, and keeps
// nothing of the record it could not make durable.
TEST(CopyJournal, ARecordThatCannotBeWrittenNamesTheFileAndTheReason) {
  test::TempDir dir;
  const std::string file = dir / "gone/journal";
  CopyJournal journal(file);
  ASSERT_TRUE(journal.Load().ok());
  const Status status = journal.Record("Sdest", 5);
  ASSERT_FALSE(status.ok());
  const std::string& text = status.text();
  const std::size_t at = text.find(file + ": ");
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_GT(text.size(), at + file.size() + 2) << "the system's reason follows the name: " << text;
  MsgNum mark = -1;
  EXPECT_FALSE(journal.MarkOf("Sdest", mark));
  EXPECT_FALSE(test::Exists(dir / "gone"));
}

// The journal is the area's state, kept where its last-MSGID file is: the
// same file for every spelling of the area's path, never in a home folder.
TEST(CopyJournal, LivesBesideTheAreaAsItsLastMsgIdFileDoes) {
  struct Case {
    const char* area_id;
    const char* journal;
    const char* msgid;
  } const kCases[] = {
      {"M/var/spool/netmail", "/var/spool/netmail/journal", "/var/spool/netmail/msgid"},
      {"M/var/spool/netmail/", "/var/spool/netmail/journal", "/var/spool/netmail/msgid"},
      {"Mnet", "net/journal", "net/msgid"},
      {"S/var/spool/netmail", "/var/spool/netmail.journal", "/var/spool/netmail.msgid"},
      {"J/fido/jam/net", "/fido/jam/net.journal", "/fido/jam/net.msgid"},
      {"M", "journal", "msgid"},
      {"", "journal", "msgid"},
  };
  // The Win32 build joins a folder and a name with its own separator.
  const auto with_slashes = [](std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(with_slashes(CopyJournalFileName(c.area_id)), c.journal) << c.area_id;
    EXPECT_EQ(with_slashes(LastMsgIdFileName(c.area_id)), c.msgid) << c.area_id;
  }
}

// Messages after the mark count; each copy stands for one source only.
TEST(KnownCopies, FindsEachCopyAfterTheMarkOnce) {
  test::TempDir dir;
  const std::string dest = AreaIdOf('M', dir / "dest");
  MsgBasePtr base;
  ASSERT_TRUE(OpenOrCreateArea(base, dest));
  const char* const kBodies[] = {"before the mark\r", "twice\r", "twice\r", "once\r"};
  for (const char* body : kBodies) {
    base->SetMsgKind(0);
    ASSERT_TRUE(base->CreateMsg());
    base->SetTo("Sysop");
    base->GetTextStream()->Write(body, static_cast<std::int32_t>(std::string(body).size()));
    ASSERT_TRUE(base->WriteMsg());
    base->CloseMsg();
  }
  // The digests of the same messages, read as the scan reads its sources.
  std::vector<std::uint64_t> digests;
  for (base->SeekFirst(1); base->SeekFound(); base->SeekNext()) {
    ASSERT_TRUE(base->OpenMsg());
    CurrentMessage msg;
    ReadHeader(*base, msg);
    digests.push_back(MessageDigest(*base, msg));
    base->CloseMsg();
  }
  ASSERT_EQ(digests.size(), 4u);
  CopyJournal journal(dir / "journal");
  ASSERT_TRUE(journal.Record(dest, 1).ok());
  KnownCopies known;
  known.LoadOnce(journal, dest, *base);
  known.LoadOnce(journal, dest, *base);  // read once: no second set of digests
  EXPECT_FALSE(known.Take(dest, digests[0])) << "before the mark";
  EXPECT_TRUE(known.Take(dest, digests[1]));
  EXPECT_TRUE(known.Take(dest, digests[2]));
  EXPECT_FALSE(known.Take(dest, digests[1])) << "both copies taken";
  EXPECT_TRUE(known.Take(dest, digests[3]));
  EXPECT_FALSE(known.Take(dest, digests[3]));
  EXPECT_FALSE(known.Take(AreaIdOf('M', dir / "other"), digests[3]));
  ASSERT_TRUE(CloseArea(base));
}

}  // namespace
}  // namespace lw
