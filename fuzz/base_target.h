// The body shared by the Squish and JAM targets: lay the input out as the
// files of one base, read it whole, append a message, and read it again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lw::fuzz {

struct BaseLayout {
  char letter;                           // of the area identifier
  std::vector<const char*> extensions;   // one file per input piece
};

// Runs one input against the base format of `layout`.
void RunBaseInput(const BaseLayout& layout, const std::uint8_t* data, std::size_t size);

}  // namespace lw::fuzz
