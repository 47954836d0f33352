// The Squish reader and writer.  Input (see fuzz_support.h): the pieces
// .sqd, .sqi and .sql of one base.
#include "base_target.h"

namespace {

// Known: a UMSGID above 0x7FFFFFFF does not fit a message number, so the
// next message is not found by its number when the next UMSGID is that
// high, or an index record's UMSGID leaves it no lower number to take.  An
// index whose UMSGIDs do not rise, and a next UMSGID at or below them, are
// repaired when the base is opened.
bool NextUmsgidUnreachable(const std::vector<lw::fuzz::Piece>& pieces) {
  if (lw::fuzz::Le32At(pieces[0], 20) > 0x7FFFFFFF) return true;
  for (std::size_t at = 0; at + 12 <= pieces[1].bytes.size(); at += 12) {
    if (lw::fuzz::Le32At(pieces[1], at + 4) >= 0x7FFFFFFF) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const lw::fuzz::BaseLayout kSquish{'S', {".sqd", ".sqi", ".sql"}, nullptr, NextUmsgidUnreachable};
  lw::fuzz::RunBaseInput(kSquish, data, size);
  return 0;
}
