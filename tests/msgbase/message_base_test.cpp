#include "msgbase/message_base.h"

#include <gtest/gtest.h>

#include "msgbase/text_lines.h"
#include "test_util.h"

namespace lw {
namespace {

// A plain MessageBase over a memory stream holding `text`.
class TextFixture : public ::testing::Test {
 protected:
  void SetText(const std::string& text) {
    mem_.Seek(0);
    mem_.Truncate();
    mem_.Write(text.data(), static_cast<std::int32_t>(text.size()));
    mem_.Seek(0);
  }
  std::string Text() {
    std::string s(static_cast<std::size_t>(mem_.GetSize()), '\0');
    mem_.Seek(0);
    mem_.Read(s.data(), mem_.GetSize());
    return s;
  }
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    base_.SetTextPos(0);
    std::string line;
    while (!base_.TextEnd()) {
      base_.ReadLine(line);
      lines.push_back(line);
    }
    return lines;
  }
  MemoryStream mem_;
  MessageBase base_{&mem_};
};

TEST_F(TextFixture, LineTerminators) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"A\r\nB\r", {"A", "B"}},   {"A\nB\r", {"A\nB"}},   {std::string("A\0B\r", 4), {"A", "B"}},
      {"A\r\n\nB", {"A", "\nB"}}, {"no end", {"no end"}}, {"\r\r", {"", ""}},
  };
  for (const Case& c : cases) {
    SetText(c.text);
    EXPECT_EQ(Lines(), c.lines) << c.text;
  }
}

TEST_F(TextFixture, LfAfterCrAcrossBlockBoundary) {
  std::string text(1023, 'x');
  text += "\r\nnext\r";
  SetText(text);
  EXPECT_EQ(Lines(), (std::vector<std::string>{std::string(255, 'x'), "next"}));
  std::string big(1023, 'y');
  SetText(big + "\r\nz\r");
  char buf[2000];
  base_.SetTextPos(0);
  base_.ReadLineZ(buf, sizeof buf);
  EXPECT_EQ(std::string(buf), big);
  EXPECT_EQ(base_.GetTextPos(), 1025);
}

// The stream reader and FindLineEnd split every text into the same lines
// at the same places, with terminators just before, on and after each edge
// of the reader's growing blocks (128, 256, 512 and 1024 bytes).
TEST_F(TextFixture, StreamReaderSplitsLinesAsFindLineEnd) {
  const std::string terminators[] = {"\r", "\r\n", std::string("\0", 1), std::string("\0\n", 2), "\r\r\n", "\n\r"};
  std::vector<std::string> texts = {"", "\r", "\n", "plain", std::string("a\0\nb\r\n\r\nc", 9)};
  for (std::size_t edge : {127u, 128u, 255u, 256u, 383u, 384u, 895u, 896u, 1023u, 1024u, 1920u}) {
    for (const std::string& t : terminators) texts.push_back(std::string(edge, 'x') + t + "tail" + t);
  }
  for (const std::string& text : texts) {
    SetText(text);
    std::vector<std::pair<std::string, std::size_t>> by_stream, by_rule;
    std::vector<char> buf(4096);
    while (!base_.TextEnd()) {
      base_.ReadLineZ(buf.data(), static_cast<std::int32_t>(buf.size()));
      by_stream.emplace_back(std::string(buf.data()), static_cast<std::size_t>(base_.GetTextPos()));
    }
    for (std::size_t from = 0; from < text.size();) {
      LineBounds line = FindLineEnd(text, from);
      by_rule.emplace_back(text.substr(from, line.end - from), line.next);
      from = line.next;
    }
    EXPECT_EQ(by_stream, by_rule) << "text of " << text.size() << " bytes";
  }
}

// A stream that counts the bytes read through it.
class CountingStream final : public Stream {
 public:
  explicit CountingStream(Stream& inner) : Stream(0, ""), inner_(inner) {}
  std::int64_t bytes_read = 0;
  void Read(void* buf, std::int32_t count) override {
    bytes_read += count;
    inner_.Read(buf, count);
  }
  void Write(const void* buf, std::int32_t count) override { inner_.Write(buf, count); }
  void Seek(std::int32_t pos) override { inner_.Seek(pos); }
  std::int32_t GetPos() override { return inner_.GetPos(); }
  std::int32_t GetSize() override { return inner_.GetSize(); }
  void Flush() override {}
  void Truncate() override { inner_.Truncate(); }

 private:
  Stream& inner_;
};

// Reading a text line by line reads a bounded amount per line beyond the
// line itself, however short the lines are: reading stays linear in the
// text's size, where a block read per line made it grow with the
// number of lines times the block.
TEST_F(TextFixture, LineReadingReadsWhatTheLinesSpan) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += i % 100 == 0 ? std::string(3000, 'w') + "\r" : "ab\r";
  SetText(text);
  CountingStream counting(mem_);
  MessageBase reader(&counting);
  reader.SetTextPos(0);
  std::string line;
  int lines = 0;
  while (!reader.TextEnd()) {
    reader.ReadLine(line);
    ++lines;
  }
  EXPECT_EQ(lines, 20000);
  EXPECT_LT(counting.bytes_read, 2 * static_cast<std::int64_t>(text.size()) + 130 * lines);
  EXPECT_GE(counting.bytes_read, static_cast<std::int64_t>(text.size()));
}

TEST_F(TextFixture, LongLineCutPositionAfterTerminator) {
  SetText(std::string(300, 'a') + "\rsecond\r");
  EXPECT_EQ(Lines(), (std::vector<std::string>{std::string(255, 'a'), "second"}));
  SetText(std::string(100 * 1024, 'b') + "\rend\r");
  EXPECT_EQ(Lines().back(), "end");
}

TEST_F(TextFixture, FindAndGetKludge) {
  SetText("\001MSGID: 2:5020/1 abcd1234\r\001PID: x\rbody line\r");
  std::string line;
  EXPECT_TRUE(base_.GetKludge("\001PID", line));
  EXPECT_EQ(line, "\001PID: x");
  EXPECT_FALSE(base_.GetKludge("\001TOPT", line));
  EXPECT_EQ(line, "body line");  // the last line on failure
  SetText("");
  EXPECT_FALSE(base_.GetKludge("\001MSGID", line));
  EXPECT_EQ(line, "");
}

TEST_F(TextFixture, KludgeEditsKeepTheTailByteForByte) {
  const std::string tail = "body\r\nwith LF\rand\0NUL\r";
  SetText("\001MSGID: 1:1/1 abcd1234\r\001FMPT 3\r" + tail);
  base_.SetKludge("\001FMPT", "\001FMPT 5");
  EXPECT_EQ(Text(), "\001MSGID: 1:1/1 abcd1234\r\001FMPT 5\r" + tail);
  base_.DeleteKludge("\001FMPT");
  EXPECT_EQ(Text(), "\001MSGID: 1:1/1 abcd1234\r" + tail);
  base_.AddKludge("\001TOPT 7");
  EXPECT_EQ(Text(), "\001MSGID: 1:1/1 abcd1234\r\001TOPT 7\r" + tail);
  base_.DeleteKludge("\001NONE");
  EXPECT_EQ(Text(), "\001MSGID: 1:1/1 abcd1234\r\001TOPT 7\r" + tail);
}

TEST_F(TextFixture, WhereNewKludgesGo) {
  SetText("");
  base_.AddKludge("\001A");
  EXPECT_EQ(Text(), "\001A\r");
  SetText("plain\rtext\r");
  base_.AddKludge("\001A");
  EXPECT_EQ(Text(), "plain\rtext\r\001A\r");
  SetText("\001K\r");
  base_.SetKludge("\001FMPT", "\001FMPT 5");
  EXPECT_EQ(Text(), "\001K\r\001FMPT 5\r");
}

TEST_F(TextFixture, AddressKludges) {
  FidoAddress orig{2, 123, 456, 0};
  FidoAddress dest{1, 10, 20, 3};
  SetText("\001MSGID: 1:1/1 abcd1234\rbody\r");
  base_.SetOrigAddr(orig, false);
  EXPECT_EQ(Lines()[0], "\001MSGID: 2:123/456 abcd1234");
  base_.SetMsgKind(0);
  base_.SetAddrs(FidoAddress{2, 5020, 1, 7}, dest, false);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"\001MSGID: 2:5020/1.7 abcd1234", "\001INTL 1:10/20 2:5020/1",
                                               "\001FMPT 7", "\001TOPT 3", "body"}));
  FidoAddress o, d;
  base_.GetAddrs(o, d);
  EXPECT_EQ(FormatAddress(o), "2:5020/1.7");
  EXPECT_EQ(FormatAddress(d), "1:10/20.3");
  base_.SetAddrs(orig, FidoAddress{1, 10, 20, 0}, true);
  std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(0, 18), "\001MSGID: 2:123/456 ");
  EXPECT_NE(lines[0].substr(18), "abcd1234");
  EXPECT_EQ(lines[1], "\001INTL 1:10/20 2:123/456");
}

TEST_F(TextFixture, DestAddrOnlyForNetmail) {
  SetText("body\r");
  base_.SetMsgKind(1);
  base_.SetDestAddr(FidoAddress{1, 2, 3, 4});
  EXPECT_EQ(Text(), "body\r");
}

TEST_F(TextFixture, OrigFromIntlAndFmpt) {
  SetText("\001INTL 1:2/3 2:123/456\r\001FMPT 7\r");
  FidoAddress a;
  base_.GetOrigAddr(a);
  EXPECT_EQ(FormatAddress(a), "2:123/456.7");
}

TEST_F(TextFixture, OriginLine) {
  SetText("");
  base_.AddOrigin(FidoAddress{2, 5020, 1, 0}, std::string(std::string(100, 'o')));
  std::string line = Lines()[0];
  EXPECT_EQ(line.size(), 79u);
  EXPECT_EQ(line.substr(0, 11), " * Origin: ");
  EXPECT_EQ(line.substr(line.size() - 11), " (2:5020/1)");
}

TEST_F(TextFixture, FlagsAndKinds) {
  base_.SetMsgKind(2);
  EXPECT_EQ(base_.Flags, kFlagLocal);
  base_.SetMsgKind(7);
  EXPECT_EQ(base_.Flags, 0u);
  base_.SetFlag(0x3, true);
  EXPECT_TRUE(base_.TestFlag(0x1));
  EXPECT_FALSE(base_.TestFlag(0x5));
}

TEST(PlainMessageBase, FormatOperationFailsWithNoFormatStatus) {
  MemoryStream mem;
  MessageBase plain(&mem);
  EXPECT_FALSE(plain.OpenMsg());
  EXPECT_EQ(plain.Status, kNoFormat);
  EXPECT_FALSE(plain.WriteMsg());
  EXPECT_FALSE(plain.DeleteMsg());
}

}  // namespace
}  // namespace lw
