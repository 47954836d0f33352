// The area scan run in-process, with single operating-system calls failing.
#include "app/area_scan.h"

#include <gtest/gtest.h>

#include "app/config.h"
#include "log/log_file.h"
#include "msgbase/fido/msg_file.h"
#include "platform/platform_wrapper.h"
#include "test_util.h"

namespace lw {
namespace {

class RefusesDelete : public platform::PlatformWrapper {
 public:
  RefusesDelete() : PlatformWrapper(platform::NativePlatform()) {}
  int DeleteFile(std::string_view) override { return platform::kAccessDenied; }
  void ConsoleWrite(std::string_view text) override { console += text; }
  void ConsoleWriteKeepCursor(std::string_view) override {}
  std::string console;
};

TEST(AreaScan, FailedDeleteIsAWarningAndTheRunGoesOn) {
  test::TempDir dir;
  test::MakeDirs(dir / "net");
  test::MsgFile m;
  m.to = "Sysop";
  test::WriteFile(dir / "net/1.msg", m.Bytes());
  test::WriteFile(dir / "net/2.msg", m.Bytes());
  lw::Run run;
  MoverConfig& config = run.config;
  std::string rule = "TO Sysop, *";
  rule.append(dir / "dest");
  for (const std::string& line : std::vector<std::string>{"MOVE YES", "PRIORITY TO", rule}) {
    ApplyConfigLine(config, line);
  }
  std::string area = "*";
  area.append(dir / "net");
  RefusesDelete os;
  AreaScanResult result;
  {
    platform::ScopedPlatform guard(&os);
    ASSERT_TRUE(run.log.Open(dir / "lw.log").ok());
    ASSERT_TRUE(ScanArea(run, area, result).ok());
  }

  EXPECT_EQ(result.found_count, 2);
  EXPECT_NE(os.console.find("Warning: Unable to delete message 1 in " + area), std::string::npos) << os.console;
  EXPECT_NE(os.console.find("Warning: Unable to delete message 2 in " + area), std::string::npos);
  std::string log = test::ReadFile(dir / "lw.log");
  EXPECT_EQ(log.find("moving or kill message"), std::string::npos);
  EXPECT_NE(log.find("LW 1.07 Warning: Unable to delete message 1 in "), std::string::npos);
  EXPECT_TRUE(test::Exists(dir / "net/1.msg"));
  EXPECT_TRUE(test::Exists(dir / "dest/2.msg"));
}

}  // namespace
}  // namespace lw
