// The copy journal: what it keeps of the records a run writes, and how
// the copies it points at are recognised.
#include "app/copy_journal.h"

#include <gtest/gtest.h>

#include "app/message_digest.h"
#include "msgbase/area.h"
#include "test_util.h"

namespace lw {
namespace {

using test::AreaIdOf;

TEST(CopyJournal, KeepsTheLowestMarkOfEachDestinationAndSkipsATornLine) {
  test::TempDir dir;
  const std::string file = dir / "state/netmail.journal";
  {
    CopyJournal journal(file);
    ASSERT_TRUE(journal.Load().ok());
    EXPECT_TRUE(journal.empty());
    ASSERT_TRUE(journal.Record("Sdest/one", 12).ok());
    ASSERT_TRUE(journal.Record("M/dest two", 0).ok());
  }
  // A later run adds a record of its own, and a crash tears a third.
  test::WriteFile(file, test::ReadFile(file) + "7 Sdest/one\n4");
  CopyJournal journal(file);
  ASSERT_TRUE(journal.Load().ok());
  struct Case {
    const char* dest;
    bool held;
    std::int32_t mark;
  } const kCases[] = {{"Sdest/one", true, 7}, {"M/dest two", true, 0}, {"Jother", false, 0}, {"4", false, 0}};
  for (const Case& c : kCases) {
    std::int32_t mark = -1;
    EXPECT_EQ(journal.MarkOf(c.dest, mark), c.held) << c.dest;
    if (c.held) {
      EXPECT_EQ(mark, c.mark) << c.dest;
    }
  }
  ASSERT_TRUE(journal.Drop().ok());
  EXPECT_FALSE(test::Exists(file));
  CopyJournal reread(file);
  ASSERT_TRUE(reread.Load().ok());
  EXPECT_TRUE(reread.empty());
}

TEST(CopyJournal, LivesInTheStateFolderNamedAfterTheArea) {
  const std::string one = CopyJournalFileName("M/var/spool/netmail");
  const std::string two = CopyJournalFileName("S/var/spool/netmail");
  EXPECT_NE(one, two);
  EXPECT_EQ(one, CopyJournalFileName("M/var/spool/netmail"));
  EXPECT_EQ(one.find("/var/spool"), std::string::npos) << one;
  EXPECT_NE(one.find("larkway"), std::string::npos) << one;
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
