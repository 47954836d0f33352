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
