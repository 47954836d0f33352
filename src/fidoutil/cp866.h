// Code-page-866 letter folding.
#pragma once

#include <string>
#include <string_view>

namespace lw {

// "a"-"z" to "A"-"Z"; Cyrillic 160-175 to 128-143, 224-239 to 144-159,
// 241 to 240; every other byte unchanged.
inline char UpCase866(char ch) {
  unsigned char c = static_cast<unsigned char>(ch);
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 32);
  if (c >= 160 && c <= 175) return static_cast<char>(c - 32);
  if (c >= 224 && c <= 239) return static_cast<char>(c - 80);
  if (c == 241) return static_cast<char>(240);
  return ch;
}

inline std::string UpCase866(std::string_view s) {
  std::string r(s);
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = UpCase866(r[i]);
  return r;
}

}  // namespace lw
