#include "msgbase/squish/squish_test_support.h"

#include <gtest/gtest.h>

#include "msgbase/squish/squish_layout.h"
#include "test_util.h"

namespace lw::test {

bool StoreMessage(MessageBase& base, const std::string& text, const std::string& from, const std::string& to) {
  if (!base.CreateMsg()) return false;
  base.SetTo(to);
  base.SetFrom(from);
  base.GetTextStream()->Write(text.data(), static_cast<std::int32_t>(text.size()));
  const bool stored = base.WriteMsg();
  base.CloseMsg();
  return stored;
}

std::vector<std::string> AllTexts(MessageBase& base) {
  std::vector<std::string> texts;
  for (base.SeekFirst(1); base.SeekFound(); base.SeekNext()) {
    if (!base.OpenMsg()) {
      ADD_FAILURE() << "message " << base.GetMsgNum() << " cannot be read";
      texts.push_back("<unreadable>");
      continue;
    }
    texts.push_back(ReadAllBytes(*base.GetTextStream()));
    base.CloseMsg();
  }
  return texts;
}

namespace {

using squish::kBaseHeaderSize;
using squish::kFrameHeaderSize;
using squish::kIndexRecordSize;

squish::FrameHeader FrameAt(const std::string& sqd, std::uint32_t ofs) {
  squish::FrameHeader f;
  squish::Decode(reinterpret_cast<const std::uint8_t*>(sqd.data()) + ofs, f);
  return f;
}

}  // namespace

void ExpectSquishConsistent(const std::string& base) {
  const std::string sqd = ReadFile(base + ".sqd");
  const std::string sqi = ReadFile(base + ".sqi");
  ASSERT_GE(sqd.size(), std::size_t{kBaseHeaderSize}) << base;
  ASSERT_EQ(sqi.size() % kIndexRecordSize, 0u) << base;
  squish::BaseHeader h;
  squish::Decode(reinterpret_cast<const std::uint8_t*>(sqd.data()), h);
  std::vector<squish::IndexRecord> index(sqi.size() / kIndexRecordSize);
  for (std::size_t i = 0; i < index.size(); ++i) {
    squish::Decode(reinterpret_cast<const std::uint8_t*>(sqi.data()) + kIndexRecordSize * i, index[i]);
    EXPECT_LT(index[i].umsgid, h.uid) << "record " << i;
  }
  EXPECT_EQ(h.num_msg, index.size());
  EXPECT_EQ(h.high_msg, index.size());
  EXPECT_EQ(h.end_frame, sqd.size());
  std::uint32_t prev = 0;
  std::uint32_t at = h.begin_frame;
  for (const squish::IndexRecord& r : index) {
    ASSERT_EQ(at, r.ofs) << "message chain and index disagree";
    ASSERT_LE(std::uint64_t{at} + kFrameHeaderSize, sqd.size());
    const squish::FrameHeader f = FrameAt(sqd, at);
    EXPECT_EQ(f.id, squish::kFrameId);
    EXPECT_EQ(f.frame_type, squish::kMessageFrame);
    EXPECT_EQ(f.prev_frame, prev);
    EXPECT_LE(std::uint64_t{at} + kFrameHeaderSize + f.frame_length, sqd.size());
    prev = at;
    at = f.next_frame;
  }
  EXPECT_EQ(at, 0u) << "the message chain goes on past the index";
  EXPECT_EQ(h.last_frame, prev);
  prev = 0;
  at = h.free_frame;
  for (std::size_t steps = 0; at != 0 && steps <= sqd.size() / kFrameHeaderSize; ++steps) {
    ASSERT_GE(at, std::uint32_t{kBaseHeaderSize});
    ASSERT_LE(std::uint64_t{at} + kFrameHeaderSize, sqd.size());
    const squish::FrameHeader f = FrameAt(sqd, at);
    EXPECT_EQ(f.frame_type, squish::kFreeFrame) << at;
    EXPECT_EQ(f.prev_frame, prev) << at;
    for (const squish::IndexRecord& r : index) EXPECT_NE(r.ofs, at) << "a free frame is a message";
    prev = at;
    at = f.next_frame;
  }
  EXPECT_EQ(at, 0u) << "the free chain does not end";
  EXPECT_EQ(h.last_free_frame, prev);
}

}  // namespace lw::test
