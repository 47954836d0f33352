#include "log/log_file.h"

#include <gtest/gtest.h>

namespace lw {
namespace {

TEST(LogStamp, Format) {
  struct Case {
    platform::LocalTime t;
    const char* text;
  } cases[] = {
      {{2007, 1, 5, 9, 4, 3, 0}, "05 Jan 07 09:04:03"},
      {{1999, 12, 31, 23, 59, 59, 99}, "31 Dec 99 23:59:59"},
      {{2000, 5, 4, 13, 5, 9, 0}, "04 May 00 13:05:09"},
      {{2026, 12, 10, 0, 0, 0, 0}, "10 Dec 26 00:00:00"},
  };
  for (const Case& c : cases) EXPECT_EQ(LogStamp(c.t).str(), c.text);
}

}  // namespace
}  // namespace lw
