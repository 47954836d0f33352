// A copy carries the source's header and text: its addresses, attributes
// and MSGID come through whatever kludge lines the source has and wherever
// they stand, and a *.MSG copy keeps the text byte for byte.
#include "app/transfer.h"

#include <gtest/gtest.h>

#include "app/copy_first.h"
#include "msgbase/area.h"
#include "stream/stream.h"
#include "test_util.h"

namespace lw {
namespace {

// Kludges before and after the body, a FLAGS line the attributes must keep
// in step, and a point address on both sides.
const std::string kText =
    "\001INTL 2:5020/2 2:5020/1\r\001FMPT 7\r\001TOPT 3\r\001FLAGS K/S\rHello,\r\r\001MSGID: 2:5020/1.7 1a2b3c4d\r"
    "the link is up.\r\001Via 2:5020/1 @20240305\r";
const std::uint32_t kAttributes = kAttrPrivate | kAttrKillSent | kAttrCrash;
const std::uint32_t kEveryAttribute[] = {kAttrPrivate,  kAttrCrash, kAttrReceived, kAttrSent,
                                         kAttrKillSent, kAttrLocal, kAttrHold,     kAttrFileRequest};

void WriteSource(const std::string& area_id) {
  MsgBasePtr base;
  ASSERT_TRUE(OpenOrCreateArea(base, area_id));
  base->SetFlag(kFlagNetmail, true);
  ASSERT_TRUE(base->CreateMsg());
  base->GetTextStream()->Write(kText.data(), static_cast<std::int32_t>(kText.size()));
  base->SetFrom("Vasily Pupkin");
  base->SetTo("Sysop");
  base->SetSubj("About the link");
  for (const std::uint32_t mask : kEveryAttribute) base->SetAttr(mask, (kAttributes & mask) != 0);
  ASSERT_TRUE(base->WriteMsg());
  base->CloseMsg();
  ASSERT_TRUE(CloseArea(base));
}

struct Seen {
  FidoAddress orig;
  FidoAddress dest;
  std::string msgid;
  std::uint32_t attributes = 0;
  std::string text;
};

Seen ReadFirst(const std::string& area_id) {
  Seen seen;
  MsgBasePtr base;
  EXPECT_TRUE(OpenArea(base, area_id)) << area_id;
  if (!base) return seen;
  base->SetFlag(kFlagNetmail, true);  // as a scan reads a netmail area
  base->SeekFirst(1);
  EXPECT_TRUE(base->OpenMsg());
  base->GetAddrs(seen.orig, seen.dest);
  base->GetKludge("\001MSGID", seen.msgid);
  for (const std::uint32_t mask : kEveryAttribute) {
    if (base->IsAttr(mask)) seen.attributes |= mask;
  }
  seen.text = ReadAllBytes(*base->GetTextStream());
  base->CloseMsg();
  CloseArea(base);
  return seen;
}

TEST(Transfer, CopyKeepsAddressesAttributesMsgidAndText) {
  for (const char to : {'M', 'S', 'J'}) {
    SCOPED_TRACE(to);
    test::TempDir dir;
    const std::string source_id = "*" + dir / "net";
    const std::string dest_id = std::string(1, to) + dir / "dest";
    WriteSource(source_id);
    test::CopyFirstMessage(source_id, dest_id);
    const Seen original = ReadFirst(source_id);
    const Seen copy = ReadFirst(dest_id);
    EXPECT_EQ(copy.orig, original.orig);
    EXPECT_EQ(copy.dest, original.dest);
    EXPECT_EQ(original.orig, (FidoAddress{2, 5020, 1, 7}));
    EXPECT_EQ(original.dest, (FidoAddress{2, 5020, 2, 3}));
    EXPECT_EQ(copy.msgid, "\001MSGID: 2:5020/1.7 1a2b3c4d");
    EXPECT_EQ(copy.attributes, kAttributes);
    if (to == 'M') {
      EXPECT_EQ(copy.text, original.text);
    }
    EXPECT_NE(copy.text.find("Hello,\r\r"), std::string::npos);
    EXPECT_NE(copy.text.find("the link is up.\r"), std::string::npos);
  }
}

}  // namespace
}  // namespace lw
