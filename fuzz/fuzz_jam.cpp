// The JAM reader and writer.  Input (see fuzz_support.h): the pieces .jhr,
// .jdt, .jdx and .jlr of one base.
#include "base_target.h"

namespace {

// Known: a walk from number 1 steps through every number below BaseMsgNum,
// which takes hours for a huge one.
bool HugeBaseMsgNum(const std::vector<lw::fuzz::Piece>& pieces) {
  return lw::fuzz::Le32At(pieces[0], 20) > 65536;
}

// Known: a BaseMsgNum of 0 numbers the messages from 0.
bool BaseMsgNumZero(const std::vector<lw::fuzz::Piece>& pieces) {
  return pieces[0].present && lw::fuzz::Le32At(pieces[0], 20) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const lw::fuzz::BaseLayout kJam{'J', {".jhr", ".jdt", ".jdx", ".jlr"}, HugeBaseMsgNum, BaseMsgNumZero};
  lw::fuzz::RunBaseInput(kJam, data, size);
  return 0;
}
