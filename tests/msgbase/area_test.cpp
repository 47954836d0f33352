#include "msgbase/area.h"

#include <gtest/gtest.h>

#include "msgbase/fido/fido_msg_base.h"
#include "msgbase/jam/jam_msg_base.h"
#include "msgbase/squish/squish_msg_base.h"
#include "test_util.h"

namespace lw {
namespace {

TEST(ParseAreaId, LetterTable) {
  struct Case {
    const char* id;
    AreaKind kind;
    const char* path;
  } cases[] = {
      {"*/mail/net", AreaKind::kMsg, "/mail/net"},
      {"F/x", AreaKind::kMsg, "/x"},
      {"f/x", AreaKind::kMsg, "/x"},
      {"M/x", AreaKind::kMsg, "/x"},
      {"m/x", AreaKind::kMsg, "/x"},
      {"J/b", AreaKind::kJam, "/b"},
      {"j", AreaKind::kJam, ""},
      {"S/b", AreaKind::kSquish, "/b"},
      {"s b", AreaKind::kSquish, " b"},
      {"X:\\MAIL", AreaKind::kNone, "X:\\MAIL"},
  };
  for (const Case& c : cases) {
    AreaKind kind = AreaKind::kNone;
    std::string path("unchanged");
    ParseAreaId(std::string(c.id), kind, path);
    EXPECT_EQ(kind, c.kind) << c.id;
    EXPECT_EQ(path, c.path) << c.id;
  }
  AreaKind kind = AreaKind::kMsg;
  std::string path("kept");
  ParseAreaId(std::string(), kind, path);
  EXPECT_EQ(kind, AreaKind::kNone);
  EXPECT_EQ(path, "kept");
}

TEST(NewMsgBaseForArea, ObjectOfTheFormat) {
  MsgBasePtr base;
  ASSERT_TRUE(NewMsgBaseForArea(std::string("S/x"), base));
  EXPECT_NE(dynamic_cast<SquishMsgBase*>(base.get()), nullptr);
  ASSERT_TRUE(NewMsgBaseForArea(std::string("j/x"), base));
  EXPECT_NE(dynamic_cast<JamMsgBase*>(base.get()), nullptr);
  ASSERT_TRUE(NewMsgBaseForArea(std::string("*/x"), base));
  EXPECT_NE(dynamic_cast<FidoMsgBase*>(base.get()), nullptr);
  EXPECT_FALSE(NewMsgBaseForArea(std::string("X:\\MAIL"), base));
  EXPECT_EQ(base, nullptr);
  EXPECT_FALSE(NewMsgBaseForArea(std::string(), base));
}

// An area identifier: a format letter and a path.
std::string Id(const char* letter, const std::string& path) {
  std::string id(letter);
  id.append(path);
  return std::string(id);
}

class Opener : public ::testing::Test {
 protected:
  test::TempDir dir_;
};

TEST_F(Opener, OpenOrCreate) {
  MsgBasePtr base;
  EXPECT_FALSE(OpenArea(base, Id("*", dir_ / "net")));
  EXPECT_EQ(base, nullptr);
  ASSERT_TRUE(OpenOrCreateArea(base, Id("*", dir_ / "net")));
  EXPECT_TRUE(base->IsOpen);
  EXPECT_TRUE(CloseArea(base));
  EXPECT_FALSE(CloseArea(base));
  EXPECT_FALSE(DisposeMsgBase(base));
  ASSERT_TRUE(OpenArea(base, Id("*", dir_ / "net")));
  CloseArea(base);
}

// A base that is there but does not open is never replaced by a new one.
TEST_F(Opener, NeverCreatesOverAnUnopenableBase) {
  for (const char* id : {"S", "J"}) {
    const std::string path = dir_ / (std::string(id) + "base");
    MsgBasePtr base;
    ASSERT_TRUE(OpenOrCreateArea(base, Id(id, path)));
    base->CreateMsg();
    base->GetTextStream()->Write("x\r", 2);
    ASSERT_TRUE(base->WriteMsg());
    CloseArea(base);
    const std::string ext = id[0] == 'S' ? ".sqd" : ".jhr";
    std::string damaged = test::ReadFile(path + ext).substr(0, 10);  // no longer opens
    test::WriteFile(path + ext, damaged);
    EXPECT_FALSE(OpenOrCreateArea(base, Id(id, path))) << id;
    ASSERT_NE(base, nullptr);
    EXPECT_FALSE(base->IsOpen);
    EXPECT_EQ(test::ReadFile(path + ext), damaged);
  }
}

}  // namespace
}  // namespace lw
