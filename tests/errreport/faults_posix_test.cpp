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

}  // namespace
}  // namespace lw
