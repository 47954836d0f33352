// ShortStr: text of at most 255 single-byte characters, kept in place with
// its length (no heap).  Longer values are cut at 255 characters.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace lw {

class ShortStr {
 public:
  static constexpr std::size_t kMax = 255;

  ShortStr() = default;
  ShortStr(std::string_view s) { assign(s); }  // NOLINT: implicit by design
  ShortStr(const char* s) { assign(std::string_view(s)); }
  ShortStr(const std::string& s) { assign(std::string_view(s)); }

  void assign(std::string_view s) {
    len_ = static_cast<std::uint8_t>(std::min(s.size(), kMax));
    if (len_ != 0) std::memcpy(data_, s.data(), len_);
  }
  void clear() { len_ = 0; }

  std::size_t size() const { return len_; }
  bool empty() const { return len_ == 0; }
  const char* data() const { return data_; }
  char operator[](std::size_t i) const { return data_[i]; }
  char& operator[](std::size_t i) { return data_[i]; }
  char back() const { return data_[len_ - 1]; }
  std::string_view view() const { return std::string_view(data_, len_); }
  std::string str() const { return std::string(data_, len_); }

  // The first `n` characters.
  ShortStr Left(std::size_t n) const { return ShortStr(view().substr(0, n)); }
  // The last `n` characters (all of them when shorter).
  ShortStr Right(std::size_t n) const {
    return n >= len_ ? *this : ShortStr(view().substr(len_ - n));
  }
  void Truncate(std::size_t n) {
    if (n < len_) len_ = static_cast<std::uint8_t>(n);
  }

  ShortStr& operator+=(std::string_view s) {
    std::size_t n = std::min(s.size(), kMax - len_);
    if (n != 0) std::memcpy(data_ + len_, s.data(), n);
    len_ = static_cast<std::uint8_t>(len_ + n);
    return *this;
  }
  ShortStr& operator+=(const ShortStr& s) { return *this += s.view(); }
  ShortStr& operator+=(const char* s) { return *this += std::string_view(s); }
  ShortStr& operator+=(char c) {
    if (len_ < kMax) data_[len_++] = c;
    return *this;
  }

  friend ShortStr operator+(ShortStr a, std::string_view b) { return a += b; }
  friend ShortStr operator+(ShortStr a, const ShortStr& b) { return a += b.view(); }
  friend ShortStr operator+(ShortStr a, const char* b) { return a += b; }
  friend ShortStr operator+(ShortStr a, const std::string& b) { return a += std::string_view(b); }
  friend ShortStr operator+(ShortStr a, char c) { return a += c; }
  friend bool operator==(const ShortStr& a, const ShortStr& b) { return a.view() == b.view(); }
  friend bool operator==(const ShortStr& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const ShortStr& a, const char* b) { return a.view() == b; }

 private:
  std::uint8_t len_ = 0;
  char data_[kMax];
};

}  // namespace lw
