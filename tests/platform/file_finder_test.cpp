#include "platform/file_finder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "test_util.h"

namespace lw {
namespace {

TEST(FileFinder, AttributeFilter) {
  test::TempDir dir;
  test::WriteFile(dir / "1.MSG", "a");
  test::WriteFile(dir / "2.msg", "a");
  test::WriteFile(dir / ".3.msg", "a");
  test::MakeDirs(dir / "4.msg");
  auto finder = NewFileFinder();
  std::vector<std::string> found;
  for (bool ok = finder->FindFirst(dir / "*.MSG", 0x21); ok; ok = finder->FindNext()) {
    found.push_back(finder->Name);
  }
  finder->FindClose();
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"1.MSG", "2.msg"}));
  int all = 0;
  for (bool ok = finder->FindFirst(dir / "*.msg", 0x3F); ok; ok = finder->FindNext()) ++all;
  EXPECT_EQ(all, 4);
}

}  // namespace
}  // namespace lw
