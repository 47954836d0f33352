#include "errreport/exit_report.h"

#include <gtest/gtest.h>

#include <string>

namespace lw {
namespace {

std::string Format(int number, const char* module, int line, std::uintptr_t addr) {
  char buf[256];
  std::size_t n = FormatExitReport(number, module, line, addr, buf, sizeof buf);
  return std::string(buf, n);
}

TEST(ExitReport, Lines) {
  struct Case {
    int number;
    const char* module;
    int line;
    std::uintptr_t addr;
    const char* text;
  } cases[] = {
      {2, "src/app/config.cpp", 77, 0, "Error number 002 in config.cpp, line 77\r\nDOS ERROR: File not found.\r\n"},
      {5, nullptr, 0, 0x1A2B, "Error number 005 at 00001A2B\r\nDOS ERROR: File access denied.\r\n"},
      {7, nullptr, 0, 0, "Error number 007 at 00000000\r\nDOS ERROR: Unknown Error.\r\n"},
      {101, "a.cpp", 1234, 0, "Error number 101 in a.cpp, line 1,234\r\nI/O ERROR: Disk write error.\r\n"},
      {203, nullptr, 0, 0xDEADBEEF, "Error number 203 at DEADBEEF\r\nCRITICAL ERROR: Heap overflow error.\r\n"},
      {216, nullptr, 0, 0x10, "Error number 216 at 00000010\r\nCRITICAL ERROR: General Protection fault.\r\n"},
      {217, "x\\y.cpp", 1234567, 0, "Error number 217 in y.cpp, line 1,234,567\r\n"},
      {163, nullptr, 0, 1, "Error number 163 at 00000001\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Format(c.number, c.module, c.line, c.addr), c.text);
}

TEST(ExitReport, NeverPastTheBuffer) {
  char buf[10];
  std::size_t n = FormatExitReport(216, nullptr, 0, 0, buf, sizeof buf);
  EXPECT_EQ(n, 9u);
  EXPECT_EQ(std::string(buf), "Error num");
}

}  // namespace
}  // namespace lw
