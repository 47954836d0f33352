#include "base_target.h"

#include "fuzz_support.h"
#include "msgbase/area.h"

namespace lw::fuzz {

namespace {

// How far one appended small message may grow any file of the base beyond
// the whole input, whatever the base held before.
constexpr std::int64_t kGrowthBound = 1 << 20;

}  // namespace

std::uint32_t Le32At(const Piece& piece, std::size_t at) {
  if (!piece.present || piece.bytes.size() < at + 4) return 0;
  std::uint32_t w = 0;
  for (std::size_t i = 0; i < 4; ++i)
    w |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(piece.bytes[at + i])) << (8 * i);
  return w;
}

void RunBaseInput(const BaseLayout& layout, const std::uint8_t* data, std::size_t size) {
  std::vector<Piece> pieces = SplitInput(data, size, static_cast<int>(layout.extensions.size()));
  if (layout.known_fault != nullptr && layout.known_fault(pieces)) return;
  const std::string base_path = FreshScratchFolder() + "area";
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].present) WriteWholeFile(base_path + layout.extensions[i], pieces[i].bytes);
  }
  const std::string area_id(layout.letter + base_path);

  MsgBasePtr base;
  if (!OpenArea(base, area_id)) return;
  ReadEveryMessage(*base);
  const MsgNum appended = AppendSmallMessage(*base);
  if (appended >= 0) base->SetLastRead(0, appended);
  CloseArea(base);

  for (const char* extension : layout.extensions) {
    if (FileSizeOf(base_path + extension) > static_cast<std::int64_t>(size) + kGrowthBound) {
      Fail("one small message grew a file of the base past its bound");
    }
  }

  if (!OpenArea(base, area_id)) Fail("the base does not open again after a message was appended");
  ReadEveryMessage(*base);
  bool hidden = layout.append_unreachable != nullptr && layout.append_unreachable(pieces);
  if (appended >= 0 && !hidden && !HoldsAppendedMessage(*base, appended))
    Fail("a message the base took is not there after reopening");
  CloseArea(base);
}

}  // namespace lw::fuzz
