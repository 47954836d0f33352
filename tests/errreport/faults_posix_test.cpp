// Crashes and faults the program raises itself end through the report with
// the fault number as exit code.
#include <gtest/gtest.h>

#include <csignal>
#include <new>

#include "errreport/exit_report.h"
#include "stream/stream.h"

namespace lw {
namespace {

TEST(FaultsDeathTest, SegmentationFaultIs216) {
  EXPECT_EXIT(
      {
        ArmExitReport();
        std::raise(SIGSEGV);
      },
      ::testing::ExitedWithCode(216), "");
}

TEST(FaultsDeathTest, ArithmeticFaultIs200) {
  EXPECT_EXIT(
      {
        ArmExitReport();
        std::raise(SIGFPE);
      },
      ::testing::ExitedWithCode(200), "");
}

TEST(FaultsDeathTest, OutOfMemoryIs203) {
  EXPECT_EXIT(
      {
        ArmExitReport();
        std::get_new_handler()();
      },
      ::testing::ExitedWithCode(203), "");
}

TEST(FaultsDeathTest, RaisedFaultNamesTheSourcePosition) {
  EXPECT_EXIT(LW_RUN_ERROR(103), ::testing::ExitedWithCode(103), "");
}

// Before the factories are installed every one of them ends the run.
TEST(FaultsDeathTest, FactoriesBeforeInstallAre217) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(OpenFileStream("x", fmRead), ::testing::ExitedWithCode(217), "");
  EXPECT_EXIT(NewMemoryStream(65536), ::testing::ExitedWithCode(217), "");
  EXPECT_EXIT(NewFileFinder(), ::testing::ExitedWithCode(217), "");
}

}  // namespace
}  // namespace lw
