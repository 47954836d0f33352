// The Squish reader and writer.  Input (see fuzz_support.h): the pieces
// .sqd, .sqi and .sql of one base.
#include "base_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const lw::fuzz::BaseLayout kSquish{'S', {".sqd", ".sqi", ".sql"}};
  lw::fuzz::RunBaseInput(kSquish, data, size);
  return 0;
}
