#include "fidoutil/address.h"

#include <gtest/gtest.h>

namespace lw {
namespace {

FidoAddress A(int z, int n, int f, int p) {
  return FidoAddress{static_cast<std::int16_t>(z), static_cast<std::int16_t>(n), static_cast<std::int16_t>(f),
                     static_cast<std::int16_t>(p)};
}

struct ParseCase {
  const char* text;
  FidoAddress preset;
  bool accepted;
  FidoAddress expected;
};

TEST(ParseFidoAddress, FormsAndRefusals) {
  const FidoAddress kPreset = A(9, 9, 9, 9);
  const ParseCase cases[] = {
      {"2:123/45.6@othernet", kPreset, true, A(2, 123, 45, 6)},
      {"2:123/45", kPreset, true, A(2, 123, 45, 0)},
      {"123/45", A(2, 0, 0, 0), true, A(2, 123, 45, 0)},
      {"/12", kPreset, true, A(9, 9, 12, 0)},
      {".7", kPreset, true, A(9, 9, 9, 7)},
      {"12.3", kPreset, true, A(9, 9, 12, 3)},
      {"2:123", kPreset, true, kPreset},
      {"2:123/45 ", kPreset, false, kPreset},
      {"", kPreset, false, kPreset},
      {"@fidonet", kPreset, false, kPreset},
      {"2:123/70000", kPreset, true, A(2, 123, 4464, 0)},
      {"2:123/40000", kPreset, true, A(2, 123, -25536, 0)},
      {"abc", kPreset, false, kPreset},
      // Zone, net, node and point are the first four words between any of
      // ":/.", however the delimiters come.
      {"2::123//45..6", kPreset, true, A(2, 123, 45, 6)},
      {"2:123/45.6.7", kPreset, true, A(2, 123, 45, 6)},
      {"1/2:3", kPreset, true, A(1, 2, 3, 0)},
      {":/", kPreset, true, A(0, 0, 0, 0)},
  };
  for (const ParseCase& c : cases) {
    FidoAddress a = c.preset;
    EXPECT_EQ(ParseFidoAddress(c.text, a), c.accepted) << c.text;
    EXPECT_EQ(FormatAddress4D(a), FormatAddress4D(c.expected)) << c.text;
  }
}

TEST(FormatAddress, PointOnlyWhenSet) {
  EXPECT_EQ(FormatAddress(A(2, 123, 45, 0)), "2:123/45");
  EXPECT_EQ(FormatAddress(A(2, 123, 45, 6)), "2:123/45.6");
  EXPECT_EQ(FormatAddress4D(A(2, 123, 45, 0)), "2:123/45.0");
  EXPECT_EQ(FormatAddress3D(A(2, 123, 45, 6)), "2:123/45");
  EXPECT_EQ(FormatAddress(A(2, 123, -25536, 0)), "2:123/-25536");
}

TEST(CompareAddresses, FieldOrder) {
  EXPECT_EQ(CompareAddresses(A(2, 123, 45, 0), A(2, 123, 45, 6)), -1);
  EXPECT_EQ(CompareAddresses(A(1, 1, 1, 0), A(2, 1, 1, 0)), -1);
  EXPECT_EQ(CompareAddresses(A(2, 1, 1, 0), A(1, 9, 9, 9)), 1);
  EXPECT_EQ(CompareAddresses(A(2, 5, 5, 5), A(2, 5, 5, 5)), 0);
}

TEST(ExtractWord, RunsOfDelimitersCountOnce) {
  EXPECT_EQ(ExtractWord(2, "a..b", "."), "b");
  EXPECT_EQ(ExtractWord(3, "a..b", "."), "");
  EXPECT_EQ(ExtractWord(1, "  lead trail  ", " "), "lead");
  EXPECT_EQ(ExtractWord(2, ",,x,,y", ","), "y");
  EXPECT_EQ(ExtractWord(3, "2:5020/1.4", "./:"), "1");
  EXPECT_EQ(ExtractWord(4, "2:5020/1.4", "./:"), "4");
  EXPECT_EQ(ExtractWord(0, "a b", " "), "");
}

TEST(NumberConversions, BadTextGivesZero) {
  struct Case {
    const char* text;
    std::int32_t value;
  } cases[] = {{"42", 42},
               {"  -17", -17},
               {"+5", 5},
               {"$1F", 31},
               {"12a", 0},
               {"", 0},
               {"2147483647", 2147483647},
               {"2147483648", 0},
               {"-2147483648", INT32_MIN},
               {"1 2", 0}};
  for (const Case& c : cases) {
    std::int32_t v = 99;
    StrToLongInt(c.text, v);
    EXPECT_EQ(v, c.value) << c.text;
  }
  std::int16_t s = 0;
  StrToSmallInt("65535", s);
  EXPECT_EQ(s, -1);
  EXPECT_EQ(IntToStr(-25536), "-25536");
}

}  // namespace
}  // namespace lw
