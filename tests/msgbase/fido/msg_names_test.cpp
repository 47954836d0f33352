#include "msgbase/fido/msg_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lw::fido {
namespace {

TEST(MsgNameTable, KeepsEachRealName) {
  struct Case {
    const char* name;
    std::int32_t number;  // 0: no message's name
  } cases[] = {
      {"23.MSG", 23},
      {"7.msg", 7},
      {"12.Msg", 12},
      {"9.mSG", 9},
      {"61439.msG", 61439},
      {"61440.MSG", 61440},
      {"999999.mSg", 999999},
      {"2147483647.msg", 2147483647},
      {"05.msg", 0},
      {"2147483648.msg", 0},
      {"99999999999.msg", 0},
      {"7.msgx", 0},
      {".msg", 0},
      {"1.ms", 0},
      {"x1.msg", 0},
      {"1x.msg", 0},
      {"12.m5g", 0},
      {"3.txt", 0},
  };
  MsgNameTable table;
  for (const Case& c : cases) {
    EXPECT_EQ(MsgNameTable::NumberOf(c.name), c.number) << c.name;
    EXPECT_EQ(table.Add(c.name), c.number) << c.name;
  }
  for (const Case& c : cases) {
    if (c.number != 0) {
      EXPECT_EQ(table.Name(c.number), c.name);
    }
  }
  EXPECT_EQ(table.Count(), 8);
  EXPECT_EQ(table.High(), 2147483647);
  EXPECT_EQ(table.Name(8), "");
}

// Every spelling of many numbers, some removed again: the others keep
// their names, and the walks see exactly the numbers left.
TEST(MsgNameTable, RemovingKeepsTheOtherNames) {
  const std::vector<std::string> spellings = {"msg", "Msg", "mSg", "MSg", "msG", "MsG", "mSG", "MSG"};
  auto name_of = [&](std::int32_t n) { return std::to_string(n) + "." + spellings[n % 8]; };
  MsgNameTable table;
  for (std::int32_t n = 300; n >= 1; --n) ASSERT_EQ(table.Add(name_of(n)), n);
  for (std::int32_t n = 3; n <= 300; n += 3) table.Remove(n);
  table.Remove(301);  // never recorded: nothing happens
  std::vector<std::int32_t> left;
  for (std::int32_t n = table.Next(0); n != 0; n = table.Next(n)) left.push_back(n);
  ASSERT_EQ(left.size(), 200u);
  for (std::int32_t n : left) {
    EXPECT_NE(n % 3, 0);
    EXPECT_EQ(table.Name(n), name_of(n));
  }
  EXPECT_EQ(table.Count(), 200);
  EXPECT_EQ(table.High(), 300);  // a removal does not lower it
  EXPECT_EQ(table.Prior(300), 299);
  EXPECT_EQ(table.FirstFreeFrom(1), 3);
  EXPECT_EQ(table.Add("3.MSG"), 3);  // a freed number takes any spelling
  EXPECT_EQ(table.Name(3), "3.MSG");
}

TEST(MsgNameTable, ANumberKeepsTheNameItWasFirstRecordedBy) {
  MsgNameTable table;
  EXPECT_EQ(table.Add("5.msg"), 5);
  EXPECT_EQ(table.Add("5.MSG"), 0);
  EXPECT_EQ(table.Add("5.Msg"), 0);
  EXPECT_EQ(table.Name(5), "5.msg");
  EXPECT_EQ(table.Count(), 1);
  table.Clear();
  EXPECT_FALSE(table.Has(5));
  EXPECT_EQ(table.Count(), 0);
  EXPECT_EQ(table.High(), 0);
  EXPECT_EQ(table.FirstFreeFrom(MsgNameTable::kMapped), MsgNameTable::kMapped);
}

// Numbers on both sides of the map's end, up to the largest: the walks
// see each of them in order, and a free number is found past a run of
// taken ones, with none left after the largest.
TEST(MsgNameTable, NumbersPastTheMapAreMessagesToo) {
  const std::int32_t kMapped = MsgNameTable::kMapped;
  const std::vector<std::int32_t> numbers = {3,      kMapped - 1, kMapped,    kMapped + 1,    70000,
                                             70001,  70002,       1000000000, INT32_MAX - 1, INT32_MAX};
  MsgNameTable table;
  for (std::int32_t n : numbers) ASSERT_EQ(table.Add(std::to_string(n) + ".MSG"), n);
  std::vector<std::int32_t> forward;
  for (std::int32_t n = table.Next(0); n != 0; n = table.Next(n)) forward.push_back(n);
  EXPECT_EQ(forward, numbers);
  std::vector<std::int32_t> back;
  for (std::int32_t n = table.Prior(INT32_MAX); n != 0; n = table.Prior(n)) back.push_back(n);
  EXPECT_EQ(back, std::vector<std::int32_t>(numbers.rbegin() + 1, numbers.rend()));
  EXPECT_EQ(table.Next(INT32_MAX), 0);
  EXPECT_EQ(table.Next(70002), 1000000000);
  EXPECT_EQ(table.Prior(1000000000), 70002);
  EXPECT_EQ(table.Name(70001), "70001.MSG");
  EXPECT_EQ(table.Count(), static_cast<std::int32_t>(numbers.size()));
  EXPECT_EQ(table.High(), INT32_MAX);
  EXPECT_EQ(table.FirstFreeFrom(kMapped - 1), kMapped + 2);
  EXPECT_EQ(table.FirstFreeFrom(70000), 70003);
  EXPECT_EQ(table.FirstFreeFrom(INT32_MAX - 1), 0);
  table.Remove(70001);
  EXPECT_FALSE(table.Has(70001));
  EXPECT_EQ(table.FirstFreeFrom(70000), 70001);
  EXPECT_EQ(table.Next(70000), 70002);
}

}  // namespace
}  // namespace lw::fido
