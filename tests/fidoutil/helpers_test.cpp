#include "fidoutil/helpers.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform.h"
#include "test_util.h"

namespace lw {
namespace {

TEST(Crc32, StandardTableAndLowerChar) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (char c : std::string("abc")) crc = Crc32Update(crc, static_cast<std::uint8_t>(c));
  EXPECT_EQ(crc, 0xCADBBE3Du);
  std::uint32_t upper = 0xFFFFFFFF;
  for (char c : std::string("ABC")) upper = Crc32Update(upper, static_cast<std::uint8_t>(LowerChar(c)));
  EXPECT_EQ(upper, crc);
  EXPECT_EQ(LowerChar('\x80'), '\x80');
}

TEST(NewMsgIdSerial, EightHexDigitsNeverRepeated) {
  std::string prev = NewMsgIdSerial();
  for (int i = 0; i < 5; ++i) {
    std::string next = NewMsgIdSerial();
    ASSERT_EQ(next.size(), 8u);
    EXPECT_EQ(next.find_first_not_of("0123456789abcdef"), std::string_view::npos);
    EXPECT_NE(next, prev);
    prev = next;
  }
}

class FileHelpers : public ::testing::Test {
 protected:
  test::TempDir dir_;
};

TEST_F(FileHelpers, DirHasEntries) {
  test::MakeDirs(dir_ / "empty");
  EXPECT_TRUE(DirHasEntries(dir_ / "empty"));
  EXPECT_TRUE(DirHasEntries(dir_ / "empty/"));
  EXPECT_FALSE(DirHasEntries(dir_ / "missing"));
}

TEST_F(FileHelpers, ForceDirectoriesCreatesChain) {
  EXPECT_TRUE(ForceDirectories(dir_ / "a/b\\c"));
  EXPECT_TRUE(test::Exists(dir_ / "a/b/c"));
  // A chain that cannot be created (a file stands in its way) is a failure.
  test::WriteFile(dir_ / "file", "x");
  EXPECT_FALSE(ForceDirectories(dir_ / "file/sub"));
  EXPECT_FALSE(ForceDirectories(dir_ / "file"));
  EXPECT_FALSE(test::Exists(dir_ / "file/sub"));
}

TEST_F(FileHelpers, FileExistsAndDelete) {
  test::WriteFile(dir_ / "Data.TXT", "x");
  EXPECT_TRUE(FileExists(dir_ / "data.txt"));
  EXPECT_TRUE(FileExists(dir_ / "*.txt"));
  EXPECT_FALSE(FileExists(dir_ / "none.txt"));
  EXPECT_FALSE(FileExists(""));
  EXPECT_TRUE(DeleteFileOk(dir_ / "DATA.txt"));
  EXPECT_FALSE(DeleteFileOk(dir_ / "data.txt"));
}

TEST_F(FileHelpers, ParentDir) {
  EXPECT_EQ(ParentDir(dir_ / "area/msgs"), platform::Os().FullPath(dir_ / "area"));
  EXPECT_EQ(ParentDir(dir_ / "area\\msgs"), platform::Os().FullPath(dir_ / "area"));
  if (platform::kPathSeparator == '/') {
    EXPECT_EQ(ParentDir("/base/area/msgs"), "/base/area");
    EXPECT_EQ(ParentDir("/top"), "/");
  }
}

TEST(ZText, NeverPastTheBuffer) {
  char big[300];
  std::memset(big, 'x', sizeof big);  // no terminator at all
  EXPECT_EQ(ZToStr(big, sizeof big).size(), sizeof big);
  EXPECT_EQ(ZLength(big, sizeof big), 300u);

  char small[6];
  StrToZ(small, sizeof small, "abcdefgh");
  EXPECT_STREQ(small, "abcde");
  char app[8] = "ab";
  ZAppend(app, sizeof app, "cdefghij");
  EXPECT_STREQ(app, "abcdefg");
  EXPECT_LT(ZCompareLimited("abc", "abd", 3), 0);
  EXPECT_EQ(ZCompareLimited("abc", "abd", 2), 0);
  EXPECT_EQ(ZCompareLimited("ab", "ab\0x", 4), 0);
}

}  // namespace
}  // namespace lw
