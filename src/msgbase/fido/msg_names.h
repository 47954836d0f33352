// The messages of a *.MSG area by number, each with the real name of its
// file, so that a message is opened, renamed and deleted by the name it
// has on disk and never looked up by another spelling.
//
// A message file is "<number>.msg" with the extension in any case; the
// number has no case, so a name is its number and the case of the three
// letters "msg".  Almost every area spells them all lower or all upper
// case: for the numbers below kMapped those two are one bit each per
// number, and any other spelling is kept in a short sorted list; that part
// stays near 16 KB.  The few numbers from kMapped up to INT32_MAX are kept
// one entry each.  Every walk is bounded by the names recorded (and the
// map's size), never by counting up to a number.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace lw::fido {

class MsgNameTable {
 public:
  // Numbers 1..kMapped-1 are kept in bit maps, higher ones one by one.
  static constexpr std::int32_t kMapped = 61440;

  // The message number a file name gives: "<number>.msg" in any case,
  // the number written as other programs write it (digits only, no
  // leading zero) and at most INT32_MAX; 0 for any other name.
  static std::int32_t NumberOf(std::string_view name);

  // Records `name` (a name without its folder) when it names a message
  // whose number is not recorded yet; returns that number, or 0 when the
  // name is no message's or the number is taken.
  std::int32_t Add(std::string_view name);
  // Forgets message `n`; nothing when it is not recorded.
  void Remove(std::int32_t n);
  // Forgets every message.
  void Clear();

  bool Has(std::int32_t n) const;
  // The file name of recorded message `n`, without its folder ("" when
  // `n` is not recorded).
  std::string Name(std::int32_t n) const;
  std::int32_t Count() const { return count_; }
  // The highest number recorded since the last Clear (deleting a message
  // does not lower it).
  std::int32_t High() const { return high_; }
  // The first recorded number above `n`, or 0 when there is none.
  std::int32_t Next(std::int32_t n) const;
  // The last recorded number below `n`, or 0 when there is none.
  std::int32_t Prior(std::int32_t n) const;
  // The first number from `n` on that is not recorded, or 0 when none is
  // left up to INT32_MAX.
  std::int32_t FirstFreeFrom(std::int32_t n) const;

 private:
  // Bit i set: letter i of "msg" is upper case.
  using Spelling = std::uint8_t;
  static constexpr Spelling kLower = 0;
  static constexpr Spelling kUpper = 7;
  static constexpr std::int32_t kBytes = kMapped / 8;

  static bool Bit(const std::vector<std::uint8_t>& bits, std::int32_t n);
  static void SetBit(std::vector<std::uint8_t>& bits, std::int32_t n, bool on);
  // Where the list entry of `n` is, or would be.
  std::vector<std::uint32_t>::const_iterator FindOther(std::int32_t n) const;

  std::vector<std::uint8_t> present_ = std::vector<std::uint8_t>(kBytes);
  std::vector<std::uint8_t> upper_ = std::vector<std::uint8_t>(kBytes);
  // Numbers of other spellings, as (number << 3 | spelling), sorted.
  std::vector<std::uint32_t> others_;
  // The numbers from kMapped on, each with its spelling.
  std::map<std::int32_t, Spelling> above_;
  std::int32_t count_ = 0;
  std::int32_t high_ = 0;
};

}  // namespace lw::fido
