// The Squish reader and writer.  Input (see fuzz_support.h): the pieces
// .sqd, .sqi and .sql of one base.
#include "base_target.h"

namespace {

// Known: the next message is not found by its number when the index does
// not hold strictly rising UMSGIDs below it (a seek stops at the first
// record at or above the number, a walk at a record of UMSGID 0).  A next
// UMSGID of 0 is repaired when the base is opened.
bool NextUmsgidUnreachable(const std::vector<lw::fuzz::Piece>& pieces) {
  std::uint32_t next = lw::fuzz::Le32At(pieces[0], 20);
  std::uint32_t last = 0;
  for (std::size_t at = 0; at + 12 <= pieces[1].bytes.size(); at += 12) {
    std::uint32_t umsgid = lw::fuzz::Le32At(pieces[1], at + 4);
    if (umsgid <= last) return true;
    last = umsgid;
  }
  return (next != 0 && next <= last) || next > 0x7FFFFFFF;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const lw::fuzz::BaseLayout kSquish{'S', {".sqd", ".sqi", ".sql"}, nullptr, NextUmsgidUnreachable};
  lw::fuzz::RunBaseInput(kSquish, data, size);
  return 0;
}
