// The Squish reader and writer.  Input (see fuzz_support.h): the pieces
// .sqd, .sqi and .sql of one base.
#include "base_target.h"

namespace {

// Known: an end_frame far beyond the end of the .sqd file makes the next
// message land there, growing the file to that size.
bool EndFrameBeyondFile(const std::vector<lw::fuzz::Piece>& pieces) {
  return lw::fuzz::Le32At(pieces[0], 120) > pieces[0].bytes.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const lw::fuzz::BaseLayout kSquish{'S', {".sqd", ".sqi", ".sql"}, EndFrameBeyondFile};
  lw::fuzz::RunBaseInput(kSquish, data, size);
  return 0;
}
