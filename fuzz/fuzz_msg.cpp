// The *.MSG reader.  Input (see fuzz_support.h): piece 0 is the file
// 1.msg; piece 1, when present, a second file whose name its tag picks
// from kSecondNames.  The area is opened as the application opens it and
// every message read whole.
#include <cstdint>

#include "fuzz_support.h"
#include "msgbase/area.h"

namespace {

// Neighbours worth meeting: a plain next number, the edges of the number
// map, a name that differs only in case, and the lastread file.
const char* const kSecondNames[8] = {"2.msg",     "0.msg",     "1.MSG",          "61439.msg",
                                     "61440.msg", "65536.msg", "4294967297.msg", "lastread"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lw;
  std::vector<fuzz::Piece> pieces = fuzz::SplitInput(data, size, 2);
  if (!pieces[0].present) return 0;
  const std::string& folder = fuzz::FreshScratchFolder();
  fuzz::WriteWholeFile(folder + "1.msg", pieces[0].bytes);
  if (pieces[1].present) fuzz::WriteWholeFile(folder + kSecondNames[pieces[1].tag % 8], pieces[1].bytes);

  MsgBasePtr base;
  if (!OpenArea(base, "*" + folder)) return 0;
  fuzz::ReadEveryMessage(*base);
  CloseArea(base);
  return 0;
}
