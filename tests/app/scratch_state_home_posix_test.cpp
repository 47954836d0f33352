// Every run the test program makes, in-process or as a child, keeps its
// copy journals in a scratch state folder of its own, never in the state
// folder of the user who runs the tests.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "test_util.h"

namespace lw::test {
namespace {

class ScratchStateHome : public ::testing::Environment {
 public:
  void SetUp() override {
    folder_ = std::make_unique<TempDir>();
    setenv("XDG_STATE_HOME", folder_->path().c_str(), 1);
  }
  void TearDown() override { folder_.reset(); }

 private:
  std::unique_ptr<TempDir> folder_;
};

[[maybe_unused]] ::testing::Environment* const kScratchStateHome =
    ::testing::AddGlobalTestEnvironment(new ScratchStateHome);

}  // namespace
}  // namespace lw::test
