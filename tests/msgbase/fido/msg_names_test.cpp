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
      {"23.MSG", 23}, {"7.msg", 7},     {"12.Msg", 12},    {"9.mSG", 9},  {"61439.msG", 61439},
      {"05.msg", 0},  {"61440.MSG", 0}, {"7.msgx", 0},     {".msg", 0},   {"1.ms", 0},
      {"x1.msg", 0},  {"1x.msg", 0},    {"999999.msg", 0}, {"12.m5g", 0}, {"3.txt", 0},
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
  EXPECT_EQ(table.Count(), 5);
  EXPECT_EQ(table.High(), 61439);
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
  EXPECT_EQ(table.FirstFreeFrom(MsgNameTable::kLimit), 0);
}

}  // namespace
}  // namespace lw::fido
