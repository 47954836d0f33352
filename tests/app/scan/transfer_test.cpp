// A copy carries the source's header and text: its addresses, attributes
// and MSGID come through whatever kludge lines the source has and wherever
// they stand, and a *.MSG copy keeps the text byte for byte.
#include "app/scan/transfer.h"

#include <gtest/gtest.h>

#include "app/copy_first.h"
#include "msgbase/area.h"
#include "msgbase/jam/jam_msg_base.h"
#include "msgbase/squish/squish_msg_base.h"
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

namespace lw {
namespace {

// A netmail message whose addresses its source keeps where that format
// keeps them when no INTL, FMPT or TOPT line says them: the *.MSG header's
// net and node (the origin's point only in the MSGID), the Squish header's
// address fields, the JAM address subfields.
struct AddressedSource {
  char format;
  FidoAddress orig;
  FidoAddress dest;
  std::string text;
};

const AddressedSource kAddressedSources[] = {
    {'M', {2, 5030, 15, 7}, {2, 5020, 1, 0}, "\001MSGID: 2:5030/15.7 1a2b3c4d\rHello,\rthe link is up.\r"},
    {'S', {1, 5030, 15, 7}, {1, 5020, 1, 3}, "Hello,\rthe link is up.\r"},
    {'J', {2, 5030, 15, 7}, {3, 5020, 1, 3}, "\001MSGID: 2:5030/15.7@fidonet 1a2b3c4d\rHello,\rthe link is up.\r"},
};

void WriteAddressedSource(const AddressedSource& source, const std::string& area_id) {
  MsgBasePtr base;
  ASSERT_TRUE(OpenOrCreateArea(base, area_id));
  // Echomail, so that *.MSG takes the header fields alone and adds no kludge.
  base->SetMsgKind(1);
  ASSERT_TRUE(base->CreateMsg());
  base->GetTextStream()->Write(source.text.data(), static_cast<std::int32_t>(source.text.size()));
  base->SetHeaderAddrs(source.orig, source.dest);
  base->SetFrom("Vasily Pupkin");
  base->SetTo("Sysop");
  base->SetSubj("About the link");
  ASSERT_TRUE(base->WriteMsg());
  base->CloseMsg();
  ASSERT_TRUE(CloseArea(base));
}

// The text without the address kludge lines a format may rebuild.
std::string WithoutAddressKludges(const std::string& text) {
  std::string kept;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\r', at);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(at, end - at);
    if (!line.starts_with("\001INTL") && !line.starts_with("\001FMPT") && !line.starts_with("\001TOPT")) kept += line;
    at = end;
  }
  return kept;
}

TEST(Transfer, EveryAddressTheSourceKnowsReachesTheCopyInEveryFormat) {
  for (const AddressedSource& source : kAddressedSources) {
    for (const char to : {'M', 'S', 'J'}) {
      SCOPED_TRACE(std::string(1, source.format) + " to " + std::string(1, to));
      test::TempDir dir;
      const std::string source_id = test::AreaIdOf(source.format, dir / "net");
      const std::string dest_id = test::AreaIdOf(to, dir / "dest");
      WriteAddressedSource(source, source_id);
      const Seen original = ReadFirst(source_id);
      ASSERT_EQ(original.orig, source.orig);
      ASSERT_EQ(original.dest, source.dest);
      test::CopyFirstMessage(source_id, dest_id);
      const Seen copy = ReadFirst(dest_id);
      EXPECT_EQ(copy.orig, source.orig);
      EXPECT_EQ(copy.dest, source.dest);
      // Only the address kludges a format rebuilds or needs may differ.
      EXPECT_EQ(WithoutAddressKludges(copy.text), WithoutAddressKludges(original.text));
      if (to == 'S' || (to == 'M' && source.format == 'M')) {
        EXPECT_EQ(copy.text, original.text);
      }
      if (to == 'S') {
        // The Squish header itself carries the addresses, for every reader.
        SquishMsgBase squish;
        ASSERT_TRUE(squish.OpenMsgBase(dir / "dest"));
        squish.SeekFirst(1);
        ASSERT_TRUE(squish.OpenMsg());
        const std::int16_t* o = squish.MessageHeader().orig;
        const std::int16_t* d = squish.MessageHeader().dest;
        EXPECT_EQ((FidoAddress{o[0], o[1], o[2], o[3]}), source.orig);
        EXPECT_EQ((FidoAddress{d[0], d[1], d[2], d[3]}), source.dest);
      }
      if (to == 'J') {
        // Read as echomail, no address kludge is rebuilt: the subfields alone.
        JamMsgBase jam;
        ASSERT_TRUE(jam.OpenMsgBase(dir / "dest"));
        jam.SeekFirst(1);
        ASSERT_TRUE(jam.OpenMsg());
        FidoAddress orig;
        FidoAddress dest;
        jam.GetAddrs(orig, dest);
        EXPECT_EQ(orig, source.orig);
        EXPECT_EQ(dest, source.dest);
      }
    }
  }
}

}  // namespace
}  // namespace lw
