// The body shared by the Squish and JAM targets: lay the input out as the
// files of one base, read it whole, append a message, and read it again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace lw::fuzz {

struct BaseLayout {
  char letter;                          // of the area identifier
  std::vector<const char*> extensions;  // one file per input piece
  // Whether the input meets a fault that is known and being fixed; such an
  // input is skipped, so that a run looks for new ones.  Drop the check
  // when the fault is gone.
  bool (*known_fault)(const std::vector<Piece>& pieces) = nullptr;
  // Whether the base's numbers are such that the next message cannot be
  // found by its number (known faults, reported): the appended message is
  // then not looked for.
  bool (*append_unreachable)(const std::vector<Piece>& pieces) = nullptr;
};

// The little-endian 32-bit word at `at` of a piece, or 0 past its end.
std::uint32_t Le32At(const Piece& piece, std::size_t at);

// Runs one input against the base format of `layout`.
void RunBaseInput(const BaseLayout& layout, const std::uint8_t* data, std::size_t size);

}  // namespace lw::fuzz
