// What only the Win32 build has: sharing modes between two Win32
// processes, upper-case names, the console colour call, and faults turned
// into numbers by the unhandled-exception filter.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "errreport/exit_report.h"
#include "msgbase/area.h"
#include "platform/platform.h"
#include "platform/windows_api.h"
#include "test_util.h"

namespace lw::platform {
namespace {

const char kChildVariable[] = "LARKWAY_TEST_CHILD_OPEN";

// Run in a second process: opens the file that the variable names with the
// access and sharing it gives, and ends with 0 when that worked.
TEST(Win32Child, OpenFromEnvironment) {
  const char* request = std::getenv(kChildVariable);
  if (request == nullptr) GTEST_SKIP() << "only run as the child of the sharing test";
  std::string s(request);
  Access access = static_cast<Access>(s[0] - '0');
  Sharing sharing = static_cast<Sharing>(s[1] - '0');
  FileHandle f = kNoFile;
  int rc = Os().OpenFile(s.substr(2), access, sharing, &f);
  std::exit(rc == kOk ? 0 : 1);
}

bool ChildCanOpen(const std::string& name, Access access, Sharing sharing) {
  std::string request;
  request += static_cast<char>('0' + static_cast<int>(access));
  request += static_cast<char>('0' + static_cast<int>(sharing));
  request += name;
  SetEnvironmentVariableA(kChildVariable, request.c_str());
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string command = std::string("\"") + self + "\" --gtest_filter=Win32Child.OpenFromEnvironment";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  bool started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableA(kChildVariable, nullptr);
  if (!started) return false;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return code == 0;
}

TEST(Win32Platform, SharingModesBetweenTwoProcesses) {
  test::TempDir dir;
  test::WriteFile(dir / "shared.dat", "0123456789");
  const std::string name = dir / "shared.dat";
  struct Case {
    Access held_access;
    Sharing held_sharing;
    Access other_access;
    Sharing other_sharing;
    bool other_gets_in;
  } cases[] = {
      {Access::kReadWrite, Sharing::kDenyWrite, Access::kRead, Sharing::kDenyNone, true},
      {Access::kReadWrite, Sharing::kDenyWrite, Access::kReadWrite, Sharing::kDenyNone, false},
      {Access::kRead, Sharing::kDenyWrite, Access::kRead, Sharing::kDenyWrite, true},
      {Access::kReadWrite, Sharing::kExclusive, Access::kRead, Sharing::kDenyNone, false},
      {Access::kReadWrite, Sharing::kDenyNone, Access::kReadWrite, Sharing::kDenyNone, true},
  };
  for (const auto& c : cases) {
    FileHandle held = kNoFile;
    ASSERT_EQ(Os().OpenFile(name, c.held_access, c.held_sharing, &held), kOk);
    EXPECT_EQ(ChildCanOpen(name, c.other_access, c.other_sharing), c.other_gets_in)
        << static_cast<int>(c.held_sharing) << " vs " << static_cast<int>(c.other_sharing);
    Os().CloseFile(held);
  }
}

TEST(Win32Platform, NamesAsTheFormatsWriteThem) {
  test::TempDir dir;
  for (const char* id : {"*", "S", "J"}) {
    MsgBasePtr base;
    std::string area_id = id;
    area_id.append(dir / (std::string("area") + (id[0] == '*' ? "msg" : id)));
    ASSERT_TRUE(OpenOrCreateArea(base, std::string(area_id)));
    ASSERT_TRUE(base->CreateMsg());
    ASSERT_TRUE(base->WriteMsg());
    base->CloseMsg();
    base->SetLastRead(1, 1);
    CloseArea(base);
  }
  EXPECT_EQ(test::ListDir(dir / "areamsg"), (std::vector<std::string>{"1.MSG", "lastread"}));
  EXPECT_EQ(test::ListDir(dir.path()), (std::vector<std::string>{"areaJ.JDT", "areaJ.JDX", "areaJ.JHR", "areaJ.JLR",
                                                                 "areaS.SQD", "areaS.SQI", "areaS.SQL", "areamsg"}));
}

TEST(Win32Platform, ColourKeepsTheBackgroundAndClearsBlinking) {
  AllocConsole();
  HANDLE screen = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
  if (screen == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no console here";
  HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, screen);
  SetConsoleTextAttribute(screen, 0x80 | 0x10 | 0x0E);  // blinking, blue background, yellow
  Os().ConsoleSetColor(7);
  CONSOLE_SCREEN_BUFFER_INFO info;
  ASSERT_TRUE(GetConsoleScreenBufferInfo(screen, &info));
  SetStdHandle(STD_OUTPUT_HANDLE, saved);
  CloseHandle(screen);
  EXPECT_EQ(info.wAttributes & 0xFF, 0x10 | 0x07);
}

TEST(Win32FaultsDeathTest, AccessViolationIs216) {
  EXPECT_EXIT(
      {
        ArmExitReport();
        RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
      },
      ::testing::ExitedWithCode(216), "");
}

TEST(Win32FaultsDeathTest, IntegerDivisionByZeroIs200) {
  EXPECT_EXIT(
      {
        ArmExitReport();
        RaiseException(EXCEPTION_INT_DIVIDE_BY_ZERO, 0, 0, nullptr);
      },
      ::testing::ExitedWithCode(200), "");
}

TEST(Win32FaultsDeathTest, StackOverflowIs202) {
  EXPECT_EXIT(
      {
        ArmExitReport();
        RaiseException(EXCEPTION_STACK_OVERFLOW, 0, 0, nullptr);
      },
      ::testing::ExitedWithCode(202), "");
}

TEST(Win32FaultsDeathTest, OutOfMemoryIs203) {
  EXPECT_EXIT(
      {
        ArmExitReport();
        std::get_new_handler()();
      },
      ::testing::ExitedWithCode(203), "");
}

}  // namespace
}  // namespace lw::platform
