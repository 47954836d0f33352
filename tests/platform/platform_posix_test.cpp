#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/platform_wrapper.h"
#include "stream/stream.h"
#include "test_util.h"

namespace lw::platform {
namespace {

class PlatformTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
};

TEST_F(PlatformTest, BothSeparatorsAndAnyCase) {
  test::MakeDirs(dir_ / "Mail/NetMail");
  test::WriteFile(dir_ / "Mail/NetMail/12.MSG", "x");
  const std::string names[] = {dir_ / "mail/netmail/12.msg", dir_ / "MAIL\\NETMAIL\\12.Msg",
                               dir_ / "Mail/NetMail/12.MSG"};
  for (const std::string& name : names) {
    FileHandle f = kNoFile;
    ASSERT_EQ(Os().OpenFile(name, Access::kRead, Sharing::kDenyNone, &f), kOk) << name;
    Os().CloseFile(f);
    std::uint32_t attr = 0;
    EXPECT_EQ(Os().QueryAttributes(name, &attr), kOk);
    EXPECT_EQ(attr & kAttrDirectory, 0u);
  }
}

TEST_F(PlatformTest, ExactCaseWins) {
  test::WriteFile(dir_ / "a.txt", "lower");
  test::WriteFile(dir_ / "A.TXT", "upper");
  FileHandle f = kNoFile;
  ASSERT_EQ(Os().OpenFile(dir_ / "A.TXT", Access::kRead, Sharing::kDenyNone, &f), kOk);
  char buf[5];
  std::size_t done = 0;
  Os().ReadFile(f, buf, 5, &done);
  Os().CloseFile(f);
  EXPECT_EQ(std::string(buf, done), "upper");
}

// A file's size is its size when asked: right after a read-only open, after
// another program grew the file, and on a descriptor number reused by a
// later open; a folder opened as a file is refused.
TEST_F(PlatformTest, FileSizeFollowsTheFileAcrossOpens) {
  const std::string name = dir_ / "Size.MSG";
  test::WriteFile(name, "12345");
  FileHandle f = kNoFile;
  std::int64_t size = -1;
  ASSERT_EQ(Os().OpenFile(dir_ / "size.msg", Access::kRead, Sharing::kDenyWrite, &f), kOk);
  ASSERT_EQ(Os().FileSize(f, &size), kOk);
  EXPECT_EQ(size, 5);
  test::WriteFile(name, "1234567");  // another program
  ASSERT_EQ(Os().FileSize(f, &size), kOk);
  EXPECT_EQ(size, 7);
  Os().CloseFile(f);

  ASSERT_EQ(Os().OpenFile(name, Access::kRead, Sharing::kDenyNone, &f), kOk);  // its size not asked
  Os().CloseFile(f);
  ASSERT_EQ(Os().CreateFile(dir_ / "other", Sharing::kDenyNone, &f), kOk);  // likely the same number
  std::size_t done = 0;
  ASSERT_EQ(Os().WriteFile(f, "ab", 2, &done), kOk);
  ASSERT_EQ(Os().FileSize(f, &size), kOk);
  EXPECT_EQ(size, 2);
  Os().CloseFile(f);

  test::MakeDirs(dir_ / "Folder");
  EXPECT_EQ(Os().OpenFile(dir_ / "folder", Access::kRead, Sharing::kDenyNone, &f), kAccessDenied);
  EXPECT_EQ(Os().OpenFile(dir_ / "Folder", Access::kRead, Sharing::kDenyWrite, &f), kAccessDenied);
}

TEST_F(PlatformTest, CreatedNamesKeepTheCaseGivenInAnExistingFolderOfAnyCase) {
  test::MakeDirs(dir_ / "Area");
  FileHandle f = kNoFile;
  ASSERT_EQ(Os().CreateFile(dir_ / "AREA/" + FixedNamePart("12.MSG"), Sharing::kDenyNone, &f), kOk);
  Os().CloseFile(f);
  EXPECT_EQ(test::ListDir(dir_ / "Area"), (std::vector<std::string>{"12.msg"}));
  EXPECT_EQ(Os().CreateNewFile(dir_ / "area/12.MSG", &f), kAccessDenied);
}

// A name that already exists as written is never replaced by a create or
// a rename that must not replace, also when it appeared after the folder
// was last looked at.
TEST_F(PlatformTest, NewNamesNeverReplaceAnExistingFile) {
  test::MakeDirs(dir_ / "area");
  FileHandle f = kNoFile;
  ASSERT_EQ(Os().CreateNewFile(dir_ / "area/1.msg", &f), kOk);
  Os().CloseFile(f);
  test::WriteFile(dir_ / "area/2.msg", "theirs");
  test::WriteFile(dir_ / "area/3.MSG", "theirs too");
  for (const char* taken : {"2.msg", "3.MSG", "3.msg"}) {
    EXPECT_EQ(Os().CreateNewFile(dir_ / (std::string("area/") + taken), &f), kAccessDenied) << taken;
    EXPECT_EQ(Os().RenameNoReplace(dir_ / "area/1.msg", dir_ / (std::string("area/") + taken)), kAccessDenied) << taken;
  }
  EXPECT_EQ(test::ReadFile(dir_ / "area/2.msg"), "theirs");
  EXPECT_EQ(test::ReadFile(dir_ / "area/3.MSG"), "theirs too");
  EXPECT_EQ(test::ListDir(dir_ / "area"), (std::vector<std::string>{"1.msg", "2.msg", "3.MSG"}));
}

TEST_F(PlatformTest, WildcardsMatchWithoutCase) {
  test::WriteFile(dir_ / "1.msg", "");
  test::WriteFile(dir_ / "2.MSG", "");
  test::WriteFile(dir_ / "readme.txt", "");
  SearchHandle s = 0;
  DirEntry e;
  int count = 0;
  for (int rc = Os().FindFirst(dir_ / "*.Msg", 0x21, &s, &e); rc == kOk; rc = Os().FindNext(s, &e)) ++count;
  Os().FindClose(s);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(Os().FindFirst(dir_ / "missing/*.*", 0x3F, &s, &e), kPathNotFound);
}

// Opens `name` in a child process and reports whether that worked.
bool ChildCanOpen(const std::string& name, Access access, Sharing sharing) {
  pid_t pid = fork();
  if (pid == 0) {
    FileHandle f = kNoFile;
    // Keep the child's wait short: one refused attempt is enough here.
    int rc = Os().OpenFile(name, access, sharing, &f);
    _exit(rc == kOk ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct SharingCase {
  Access held_access;
  Sharing held_sharing;
  Access other_access;
  Sharing other_sharing;
  bool other_gets_in;
};

TEST_F(PlatformTest, SharingModesBetweenTwoProcesses) {
  test::WriteFile(dir_ / "shared.dat", "0123456789");
  const SharingCase cases[] = {
      // others may read but not write
      {Access::kReadWrite, Sharing::kDenyWrite, Access::kRead, Sharing::kDenyWrite, false},
      {Access::kRead, Sharing::kDenyWrite, Access::kRead, Sharing::kDenyWrite, true},
      {Access::kRead, Sharing::kDenyWrite, Access::kReadWrite, Sharing::kDenyWrite, false},
      {Access::kReadWrite, Sharing::kDenyWrite, Access::kRead, Sharing::kDenyNone, true},
      // exclusive
      {Access::kReadWrite, Sharing::kExclusive, Access::kRead, Sharing::kDenyWrite, false},
      {Access::kRead, Sharing::kExclusive, Access::kRead, Sharing::kExclusive, false},
      // others may read and write
      {Access::kReadWrite, Sharing::kDenyNone, Access::kReadWrite, Sharing::kExclusive, true},
  };
  for (const SharingCase& c : cases) {
    FileHandle held = kNoFile;
    ASSERT_EQ(Os().OpenFile(dir_ / "shared.dat", c.held_access, c.held_sharing, &held), kOk);
    EXPECT_EQ(ChildCanOpen(dir_ / "shared.dat", c.other_access, c.other_sharing), c.other_gets_in)
        << static_cast<int>(c.held_sharing) << " vs " << static_cast<int>(c.other_sharing);
    Os().CloseFile(held);
  }
  // Once the holder has closed the file, the other gets in.
  EXPECT_TRUE(ChildCanOpen(dir_ / "shared.dat", Access::kReadWrite, Sharing::kExclusive));
}

// A wrapper that makes every write fail: the stream records it.
class FailingWrites : public PlatformWrapper {
 public:
  FailingWrites() : PlatformWrapper(NativePlatform()) {}
  platform::Result WriteFile(FileHandle, const void*, std::size_t, std::size_t* done) override {
    *done = 0;
    return kDiskWriteError;
  }
};

TEST_F(PlatformTest, WrapperInjectsFaults) {
  FailingWrites failing;
  std::unique_ptr<Stream> s;
  {
    ScopedPlatform guard(&failing);
    s = OpenFileStream(dir_ / "f", fmCreate);
    s->Write("abc", 3);
  }
  EXPECT_EQ(&Os(), &NativePlatform());
  EXPECT_EQ(s->Status, kStreamOsError);
}

}  // namespace
}  // namespace lw::platform
