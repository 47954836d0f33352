// The folder index behind case-blind names: what it answers after other
// programs change the folder, and how often it lists a folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/folder_name_index.h"
#include "platform/platform.h"
#include "test_util.h"

namespace lw::platform {
namespace {

// Longer than the granularity the index assumes for stamps with
// nanoseconds, so that a change after it gets another stamp.
void PastStampGranularity() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

// A change made behind the platform's back.
void CreateDirectly(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
  ASSERT_GE(fd, 0) << path;
  close(fd);
}

bool Opens(const std::string& name) {
  FileHandle f = kNoFile;
  if (Os().OpenFile(name, Access::kRead, Sharing::kDenyNone, &f) != kOk) return false;
  Os().CloseFile(f);
  return true;
}

// Makes the file `name` through the platform.
void CreateOwn(const std::string& name) {
  FileHandle f = kNoFile;
  ASSERT_EQ(Os().CreateNewFile(name, &f), kOk) << name;
  Os().CloseFile(f);
}

class FolderNameIndexTest : public ::testing::Test {
 protected:
  FolderNameIndexTest() { test::MakeDirs(dir_ / "Net"); }
  std::string Net(const std::string& name) const { return dir_ / "Net/" + name; }
  test::TempDir dir_;
};

// Each case: what changes the folder after a first look-up built its index,
// and whether the platform (or another program) does it.
struct ChangeCase {
  const char* what;
  bool own_change_first;   // the platform creates a file before the other program acts
  bool wait_before_index;  // the index is taken when the folder is no longer "racy"
};

TEST_F(FolderNameIndexTest, FileAnotherProgramMakesLaterIsFound) {
  const ChangeCase cases[] = {
      {"listing taken in the tick of the folder's last change", false, false},
      {"listing older than the folder's last change", false, true},
      {"right after a change of our own", true, true},
  };
  int n = 0;
  for (const ChangeCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = dir_ / ("Case" + std::to_string(n++));
    test::MakeDirs(folder);
    test::WriteFile(folder + "/1.MSG", "x");
    if (c.wait_before_index) PastStampGranularity();
    EXPECT_TRUE(Opens(folder + "/1.msg"));  // builds the index
    EXPECT_FALSE(Opens(folder + "/2.msg"));
    if (c.own_change_first) {
      CreateOwn(folder + "/3.msg");
      // Another program's file made in the same clock tick as our own
      // change is the one change the index may miss.
      PastStampGranularity();
    }
    CreateDirectly(folder + "/2.MSG");
    EXPECT_TRUE(Opens(folder + "/2.msg"));
    if (c.own_change_first) {
      EXPECT_TRUE(Opens(folder + "/3.MSG"));
    }
  }
}

TEST_F(FolderNameIndexTest, DeletedOrRenamedFileIsNotFound) {
  test::WriteFile(Net("5.MSG"), "x");
  test::WriteFile(Net("6.MSG"), "x");
  PastStampGranularity();
  ASSERT_TRUE(Opens(Net("5.msg")));
  ASSERT_TRUE(Opens(Net("6.msg")));
  ASSERT_EQ(unlink(Net("5.MSG").c_str()), 0);                        // another program
  ASSERT_EQ(Os().RenameNoReplace(Net("6.msg"), Net("7.msg")), kOk);  // our own
  EXPECT_FALSE(Opens(Net("5.msg")));
  EXPECT_FALSE(Opens(Net("6.msg")));
  EXPECT_TRUE(Opens(Net("7.MSG")));
  EXPECT_EQ(test::ListDir(dir_ / "Net"), (std::vector<std::string>{"7.msg"}));
  // Removed by another program in the same clock tick as our own change:
  // the stamps may not show it, the name must be gone all the same.
  CreateOwn(Net("8.MSG"));
  ASSERT_EQ(unlink(Net("8.MSG").c_str()), 0);
  EXPECT_FALSE(Opens(Net("8.msg")));
  CreateOwn(Net("8.msg"));
}

TEST_F(FolderNameIndexTest, ReplacedFolderIsListedAgain) {
  test::WriteFile(Net("1.MSG"), "old");
  PastStampGranularity();
  ASSERT_TRUE(Opens(Net("1.msg")));
  // Another folder under the same name: a new inode, perhaps the same stamps.
  ASSERT_EQ(std::rename(Net("").c_str(), (dir_ / "Old").c_str()), 0);
  test::MakeDirs(dir_ / "Net");
  test::WriteFile(Net("2.MSG"), "new");
  EXPECT_FALSE(Opens(Net("1.msg")));
  EXPECT_TRUE(Opens(Net("2.msg")));
}

TEST_F(FolderNameIndexTest, UpperCaseNamesAreFoundAndCreatedNamesKeepTheirCase) {
  test::WriteFile(Net("23.MSG"), "x");
  EXPECT_TRUE(Opens(Net("23.msg")));
  std::uint32_t attr = 0;
  EXPECT_EQ(Os().QueryAttributes(dir_ / "NET/23.Msg", &attr), kOk);
  CreateOwn(dir_ / "net/24.msg");
  FileHandle f = kNoFile;
  EXPECT_EQ(Os().CreateNewFile(Net("24.MSG"), &f), kAccessDenied);  // exists, in another case
  EXPECT_EQ(test::ListDir(dir_ / "Net"), (std::vector<std::string>{"23.MSG", "24.msg"}));
}

// Looking up many names that are missing, or exist only in upper case, and
// writing new files (as a *.MSG destination does) lists the folder a few
// times, not once per name: also when the folder changed in the tick of
// its first listing, and every later change in it is our own.
TEST_F(FolderNameIndexTest, FolderIsListedABoundedNumberOfTimes) {
  constexpr int kNames = 200;
  for (const bool settled_first : {true, false}) {
    SCOPED_TRACE(settled_first ? "first listing after the folder settled" : "first listing in the folder's last tick");
    const std::string folder = dir_ / (settled_first ? "Settled" : "Busy");
    test::MakeDirs(folder);
    const auto name = [&](int i, const char* ext) { return folder + "/" + std::to_string(i) + ext; };
    for (int i = 1; i <= kNames; ++i) test::WriteFile(name(i, ".MSG"), "x");
    if (settled_first) PastStampGranularity();
    const std::int64_t before = FolderListingCount();
    for (int i = 1; i <= kNames; ++i) {
      ASSERT_TRUE(Opens(name(i, ".msg")));
      ASSERT_FALSE(Opens(name(i, ".txt")));
      DirEntry entry;
      SearchHandle search = 0;
      ASSERT_EQ(Os().FindFirst(name(kNames + i, ".msg"), 0x21, &search, &entry), kFileNotFound);
      CreateOwn(folder + "/temp.tmp");
      ASSERT_EQ(Os().RenameNoReplace(folder + "/temp.tmp", name(kNames + i, ".msg")), kOk);
    }
    EXPECT_LE(FolderListingCount() - before, 5);
    EXPECT_EQ(test::ListDir(folder).size(), 2u * kNames);
  }
}

}  // namespace
}  // namespace lw::platform
