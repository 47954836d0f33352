#include "msgbase/fido/msg_names.h"

#include <algorithm>
#include <iterator>

namespace lw::fido {

namespace {

constexpr std::string_view kExtension = ".msg";
constexpr std::size_t kLongestNumber = 10;  // INT32_MAX has ten digits

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::int32_t MsgNameTable::NumberOf(std::string_view name) {
  if (name.size() <= kExtension.size()) return 0;
  const std::string_view stem = name.substr(0, name.size() - kExtension.size());
  for (std::size_t i = 0; i < kExtension.size(); ++i) {
    if (Lower(name[stem.size() + i]) != kExtension[i]) return 0;
  }
  if (stem[0] == '0' || stem.size() > kLongestNumber) return 0;
  std::int64_t n = 0;
  for (char c : stem) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n <= INT32_MAX ? static_cast<std::int32_t>(n) : 0;
}

bool MsgNameTable::Bit(const std::vector<std::uint8_t>& bits, std::int32_t n) {
  return (bits[static_cast<std::size_t>(n / 8)] & (1u << (n % 8))) != 0;
}

void MsgNameTable::SetBit(std::vector<std::uint8_t>& bits, std::int32_t n, bool on) {
  const auto bit = static_cast<std::uint8_t>(1u << (n % 8));
  std::uint8_t& byte = bits[static_cast<std::size_t>(n / 8)];
  byte = on ? static_cast<std::uint8_t>(byte | bit) : static_cast<std::uint8_t>(byte & ~bit);
}

std::vector<std::uint32_t>::const_iterator MsgNameTable::FindOther(std::int32_t n) const {
  return std::lower_bound(others_.begin(), others_.end(), static_cast<std::uint32_t>(n) << 3);
}

std::int32_t MsgNameTable::Add(std::string_view name) {
  const std::int32_t n = NumberOf(name);
  if (n == 0 || Has(n)) return 0;
  Spelling spelling = 0;
  const std::string_view letters = name.substr(name.size() - 3);
  for (std::size_t i = 0; i < letters.size(); ++i) {
    if (letters[i] != Lower(letters[i])) spelling = static_cast<Spelling>(spelling | (1u << i));
  }
  if (n >= kMapped) {
    above_.emplace(n, spelling);
  } else {
    SetBit(present_, n, true);
    if (spelling == kUpper) {
      SetBit(upper_, n, true);
    } else if (spelling != kLower) {
      others_.insert(FindOther(n), static_cast<std::uint32_t>(n) << 3 | spelling);
    }
  }
  ++count_;
  high_ = std::max(high_, n);
  return n;
}

void MsgNameTable::Remove(std::int32_t n) {
  if (!Has(n)) return;
  if (n >= kMapped) {
    above_.erase(n);
  } else {
    SetBit(present_, n, false);
    SetBit(upper_, n, false);
    auto other = FindOther(n);
    if (other != others_.end() && (*other >> 3) == static_cast<std::uint32_t>(n)) others_.erase(other);
  }
  --count_;
}

void MsgNameTable::Clear() {
  std::fill(present_.begin(), present_.end(), 0);
  std::fill(upper_.begin(), upper_.end(), 0);
  others_.clear();
  above_.clear();
  count_ = 0;
  high_ = 0;
}

bool MsgNameTable::Has(std::int32_t n) const {
  if (n >= kMapped) return above_.count(n) != 0;
  return n >= 1 && Bit(present_, n);
}

std::string MsgNameTable::Name(std::int32_t n) const {
  if (!Has(n)) return "";
  Spelling spelling = kLower;
  if (n >= kMapped) {
    spelling = above_.at(n);
  } else {
    spelling = Bit(upper_, n) ? kUpper : kLower;
    auto other = FindOther(n);
    if (other != others_.end() && (*other >> 3) == static_cast<std::uint32_t>(n)) spelling = *other & 7;
  }
  std::string name = std::to_string(n) + std::string(kExtension);
  for (std::size_t i = 0; i < 3; ++i) {
    char& c = name[name.size() - 3 + i];
    if ((spelling & (1u << i)) != 0) c = Upper(c);
  }
  return name;
}

// The map's walks look at whole bytes, so an empty stretch costs one step
// per eight numbers and a walk never runs past the map; above it each step
// is a recorded number.
std::int32_t MsgNameTable::Next(std::int32_t n) const {
  if (n == INT32_MAX) return 0;
  for (n = std::max(n + 1, 1); n < kMapped;) {
    if (present_[static_cast<std::size_t>(n / 8)] == 0) {
      n = (n / 8 + 1) * 8;
    } else if (Has(n)) {
      return n;
    } else {
      ++n;
    }
  }
  const auto above = above_.lower_bound(n);
  return above != above_.end() ? above->first : 0;
}

std::int32_t MsgNameTable::Prior(std::int32_t n) const {
  if (n > kMapped) {
    const auto above = above_.lower_bound(n);
    if (above != above_.begin()) return std::prev(above)->first;
  }
  for (n = n > kMapped ? kMapped - 1 : n < 1 ? 0 : n - 1; n >= 1;) {
    if (present_[static_cast<std::size_t>(n / 8)] == 0) {
      n = n / 8 * 8 - 1;
    } else if (Has(n)) {
      return n;
    } else {
      --n;
    }
  }
  return 0;
}

std::int32_t MsgNameTable::FirstFreeFrom(std::int32_t n) const {
  for (n = std::max(n, 1); n < kMapped; ++n) {
    if (!Has(n)) return n;
  }
  // Each step passes a recorded number.
  for (auto above = above_.lower_bound(n); above != above_.end() && above->first == n; ++above) {
    if (n == INT32_MAX) return 0;
    ++n;
  }
  return n;
}

}  // namespace lw::fido
