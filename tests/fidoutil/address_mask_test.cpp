#include "fidoutil/address_mask.h"

#include <gtest/gtest.h>

namespace lw {
namespace {

FidoAddress Addr(int zone, int net, int node, int point) {
  return FidoAddress{static_cast<std::int16_t>(zone), static_cast<std::int16_t>(net), static_cast<std::int16_t>(node),
                     static_cast<std::int16_t>(point)};
}

TEST(AddressMask, MatchTable) {
  struct Case {
    const char* mask;
    FidoAddress addr;
    bool match;
  } cases[] = {
      {"2:5020/*", Addr(2, 5020, 100, 0), true},
      {"2:5020/*", Addr(2, 5020, 100, 7), false},  // a node mask does not take in points
      {"2:5020/*", Addr(2, 5021, 100, 0), false},
      {"2:5020/*", Addr(1, 5020, 100, 0), false},
      {"2:5020/*.*", Addr(2, 5020, 100, 7), true},
      {"2:5020/*.*", Addr(2, 5020, 1, 0), true},
      {"2:5020/*.*", Addr(2, 5030, 1, 0), false},
      {"2:*/*.*", Addr(2, 1, 1, 1), true},
      {"2:*/*.*", Addr(3, 5020, 1, 0), false},
      {"2:*/*", Addr(2, 50, 1, 1), false},
      {"2:5020/100.*", Addr(2, 5020, 100, 0), true},
      {"2:5020/100.*", Addr(2, 5020, 100, 12), true},
      {"2:5020/100.*", Addr(2, 5020, 101, 0), false},
      {"*:*/*.*", Addr(0, 0, 0, 0), true},
      {"*:*/*.*", Addr(7, -1, 12, 3), true},
      {"*:5020/1", Addr(1, 5020, 1, 0), true},
      {"*:5020/1", Addr(1, 5020, 1, 1), false},
      {"2:*/1.5", Addr(2, 9, 1, 5), true},
      {"2:65535/*", Addr(2, -1, 1, 0), true},  // headers hold 16-bit parts
      {"2:5020/*.*@fidonet", Addr(2, 5020, 9, 9), true},
  };
  for (const Case& c : cases) {
    AddressMask mask;
    ASSERT_TRUE(ParseAddressMask(c.mask, mask)) << c.mask;
    EXPECT_EQ(MaskMatches(mask, c.addr), c.match) << c.mask << " vs " << FormatAddress4D(c.addr);
  }
}

TEST(AddressMask, UnreadableMasksLeaveTheMaskUntouched) {
  for (const char* text :
       {"2:50*/1", "2:5020/1*", "**:1/1", "5020/*", "*/*", "*", "2:*", "2:5020/*.*.*", "2:5020/*.", "2:/*", ":1/*",
        "2:5020/*.x", "2:65536/*", "2:-1/*", "2/5020:*", "2:5020/ *", "2:123456/*"}) {
    AddressMask mask;
    mask.address.zone = 42;
    EXPECT_FALSE(ParseAddressMask(text, mask)) << text;
    EXPECT_EQ(mask.address.zone, 42) << text;
  }
}

TEST(AddressMask, FormatShowsThePointOnlyWhenItNarrowsOrWidens) {
  struct Case {
    const char* written;
    const char* shown;
  } cases[] = {{"2:5020/*", "2:5020/*"},  {"2:5020/*.0", "2:5020/*"},       {"2:5020/*.*", "2:5020/*.*"},
               {"*:*/*.*", "*:*/*.*"},    {"2:5020/100.*", "2:5020/100.*"}, {"2:*/1.5", "2:*/1.5"},
               {"2:65535/*", "2:65535/*"}};
  for (const Case& c : cases) {
    AddressMask mask;
    ASSERT_TRUE(ParseAddressMask(c.written, mask)) << c.written;
    EXPECT_EQ(FormatAddressMask(mask), c.shown);
  }
}

}  // namespace
}  // namespace lw

namespace lw {
namespace {

TEST(AddressPattern, MatchTable) {
  struct Case {
    const char* pattern;
    FidoAddress addr;
    bool match;
  } cases[] = {
      {"2:200/2*.*", Addr(2, 200, 2, 0), true},
      {"2:200/2*.*", Addr(2, 200, 27, 3), true},
      {"2:200/2*.*", Addr(2, 200, 12, 0), false},
      {"2:200/2*", Addr(2, 200, 27, 3), false},  // without a point: point 0 only
      {"2:50?0/*", Addr(2, 5020, 1, 0), true},
      {"2:50?0/*", Addr(2, 500, 1, 0), false},
      {"2:50?0/*", Addr(2, 50200, 1, 0), false},
      {"200/100", Addr(1, 200, 100, 0), true},  // no zone: any zone
      {"200/100", Addr(5, 200, 100, 0), true},
      {"200/100", Addr(5, 200, 100, 1), false},
      {"2:5020/02", Addr(2, 5020, 2, 0), true},  // a plain part is a number
      {"2:*/*.*", Addr(2, 1, 1, 1), true},
      {"2:*/*.*", Addr(3, 1, 1, 1), false},
      {"*:5020/1@fidonet", Addr(7, 5020, 1, 0), true},
      {"2:?/1", Addr(2, 9, 1, 0), true},
      {"2:?/1", Addr(2, 10, 1, 0), false},
      {"2:65535/1", Addr(2, -1, 1, 0), true},  // parts are unsigned 16-bit, as the headers store them
  };
  for (const Case& c : cases) {
    AddressPattern pattern;
    ASSERT_TRUE(ParseAddressPattern(c.pattern, pattern)) << c.pattern;
    EXPECT_EQ(AddressPatternMatches(pattern, c.addr), c.match) << c.pattern << " " << FormatAddress4D(c.addr);
  }
}

TEST(AddressPattern, RefusesWhatIsNotAPattern) {
  for (const char* text : {"", "2:5020", "5020", "2:/1", "2:5020/", "2:5020/1.", "2:50a0/1", "2:65536/1", "2:5020/1/2",
                           "2:5020/12345678901234567*", "3/2:1"}) {
    AddressPattern pattern;
    pattern.net = "untouched";
    EXPECT_FALSE(ParseAddressPattern(text, pattern)) << text;
    EXPECT_EQ(pattern.net, "untouched");
  }
}

// Every mask of today means the same as a pattern.
TEST(AddressPattern, MasksKeepTheirMeaning) {
  const FidoAddress addrs[] = {Addr(2, 5020, 100, 0), Addr(2, 5020, 100, 7), Addr(1, 5020, 1, 0), Addr(2, 5030, 0, 0)};
  for (const char* text : {"2:5020/*", "2:5020/*.*", "2:*/*.*", "*:5020/100", "2:5020/100.*", "*:*/*"}) {
    AddressMask mask;
    AddressPattern from_text;
    ASSERT_TRUE(ParseAddressMask(text, mask));
    ASSERT_TRUE(ParseAddressPattern(text, from_text));
    const AddressPattern from_mask = PatternOfMask(mask);
    for (const FidoAddress& a : addrs) {
      EXPECT_EQ(AddressPatternMatches(from_mask, a), MaskMatches(mask, a)) << text;
      EXPECT_EQ(AddressPatternMatches(from_text, a), MaskMatches(mask, a)) << text;
    }
  }
}

}  // namespace
}  // namespace lw
