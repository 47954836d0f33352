// The change-in-progress marker that Squish and JAM bases carry in a
// reserved field of their base header from the first header a multi-step
// change writes until the one that completes it.  A reserved field rather
// than a file beside the base: the changes write and sync that header
// anyway, so the marker needs no folder entry and no sync of its own and is
// durable exactly when it must be; other programs keep or ignore reserved
// bytes, so the base stays valid for them.  Each format says where in its
// reserved field the marker lies (squish_layout.h, jam_layout.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace lw {

inline constexpr std::uint8_t kChangeMarker[4] = {'L', 'w', 'C', 'h'};

// Whether the reserved field `reserved` holds the marker at one of
// `places` (offsets into the field that leave room for it).
template <std::size_t kFieldSize>
bool HoldsChangeMarker(const std::uint8_t (&reserved)[kFieldSize], std::initializer_list<std::size_t> places) {
  for (std::size_t at : places) {
    if (at + sizeof kChangeMarker <= kFieldSize &&
        std::memcmp(reserved + at, kChangeMarker, sizeof kChangeMarker) == 0) {
      return true;
    }
  }
  return false;
}

// Puts the marker at offset `at` of the reserved field.
template <std::size_t kFieldSize>
void SetChangeMarker(std::uint8_t (&reserved)[kFieldSize], std::size_t at) {
  if (at + sizeof kChangeMarker <= kFieldSize) std::memcpy(reserved + at, kChangeMarker, sizeof kChangeMarker);
}

// Takes the marker out of every one of `places` that holds it; bytes that
// are not the marker are left as another program wrote them.
template <std::size_t kFieldSize>
void ClearChangeMarker(std::uint8_t (&reserved)[kFieldSize], std::initializer_list<std::size_t> places) {
  for (std::size_t at : places) {
    if (HoldsChangeMarker(reserved, {at})) std::memset(reserved + at, 0, sizeof kChangeMarker);
  }
}

}  // namespace lw
