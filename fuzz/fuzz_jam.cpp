// The JAM reader and writer.  Input (see fuzz_support.h): the pieces .jhr,
// .jdt, .jdx and .jlr of one base.
#include "base_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const lw::fuzz::BaseLayout kJam{'J', {".jhr", ".jdt", ".jdx", ".jlr"}, nullptr, nullptr};
  lw::fuzz::RunBaseInput(kJam, data, size);
  return 0;
}
