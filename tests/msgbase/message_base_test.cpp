#include "msgbase/message_base.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string_view>
#include <vector>

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
// A stream that hands every call to another one; a test overrides what it
// watches or breaks.
class ForwardingStream : public Stream {
 public:
  explicit ForwardingStream(Stream& inner) : Stream(0, ""), inner_(inner) {}
  void Read(void* buf, std::int32_t count) override { inner_.Read(buf, count); }
  void Write(const void* buf, std::int32_t count) override { inner_.Write(buf, count); }
  void Seek(std::int32_t pos) override { inner_.Seek(pos); }
  std::int32_t GetPos() override { return inner_.GetPos(); }
  std::int32_t GetSize() override { return inner_.GetSize(); }
  void Flush() override {}
  void Truncate() override { inner_.Truncate(); }

 private:
  Stream& inner_;
};

class CountingStream final : public ForwardingStream {
 public:
  using ForwardingStream::ForwardingStream;
  std::int64_t bytes_read = 0;
  void Read(void* buf, std::int32_t count) override {
    bytes_read += count;
    ForwardingStream::Read(buf, count);
  }
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

// ---- Kludge lookups against a walk of the lines from the start ----

struct WalkedLine {
  std::size_t start;
  LineBounds bounds;
};

// Every line of `text`, walked from 0 with FindLineEnd.
std::vector<WalkedLine> WalkLines(std::string_view text) {
  std::vector<WalkedLine> lines;
  for (std::size_t from = 0; from < text.size();) {
    lines.push_back({from, FindLineEnd(text, from)});
    from = lines.back().bounds.next;
  }
  return lines;
}

std::string_view LineOf(std::string_view text, const WalkedLine& line) {
  return text.substr(line.start, line.bounds.end - line.start);
}

// Every byte of a string literal, NULs included.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

// Texts whose line starts are easy to get wrong: LF after a terminator or
// after none, NUL terminators, ^A inside a line, empty lines, no final
// terminator, lines longer than a line reader keeps.
const std::vector<std::string>& TrickyTexts() {
  static const std::vector<std::string> texts = {
      "",
      "\r",
      "a\rb\r",
      "a\rb",
      "a\r\n",
      Bytes("a\r\0"),
      "\r\n\n\001INTL 1:1/1 2:2/2\r",
      Bytes("\r\0\n\001FMPT 5\r"),
      "\r\r\n\001TOPT 4",
      "\001MSGID: 1:2/3 abc",
      "x\001MSGID: 1:1/1 x\r\001MSGID: 2:2/2 y\r",
      "\001MSGID: 1:2/3 abc\r\001INTL 1:2/3 4:5/6\r\001FMPT 7\r\001TOPT 9\rbody\r",
      "\001MSGID: 1:1/1 a\r\n\001INTL 2:2/2 3:3/3\r\n\r\nbody\r\n",
      "\001PID: x\r\rbody\r\001TOPT 3\r\001FMPT 4\r",
      "\n\001TOPT 3\r\001INTL 7:7/7 8:8/8\r",
      Bytes("\001MSG\0\001MSGID: 9:9/9 z\0\n\n\001TOPT 1"),
      "\001INTL 1:2/3 " + std::string(250, ' ') + "4:5/6\rbody\r",
      "\001FMPT 2\r" + std::string(300, 'z'),
      "head\r" + std::string(300, 'z') + "\r\n",
      "\r\r\r",
  };
  return texts;
}

// The local rule for a line start and the search from the end agree with
// walking every line from the start.
TEST(TextLines, LineStartsAgreeWithTheWalk) {
  for (const std::string& text : TrickyTexts()) {
    std::vector<bool> starts(text.size(), false);
    for (const WalkedLine& line : WalkLines(text)) starts[line.start] = true;
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
      EXPECT_EQ(IsLineStart(text, pos), starts[pos]) << "position " << pos << " of " << ::testing::PrintToString(text);
    }
    for (char first : {'\001', '\n', 'b'}) {
      std::vector<std::size_t> by_search, by_walk;
      for (std::size_t at = FindLineStartingWith(text, first, 0); at != std::string_view::npos;
           at = FindLineStartingWith(text, first, at + 1)) {
        by_search.push_back(at);
      }
      for (const WalkedLine& line : WalkLines(text)) {
        if (line.start < text.size() && text[line.start] == first) by_walk.push_back(line.start);
      }
      EXPECT_EQ(by_search, by_walk) << ::testing::PrintToString(text);
    }
    const std::vector<WalkedLine> lines = WalkLines(text);
    EXPECT_EQ(LastLineStart(text), lines.empty() ? 0 : lines.back().start) << ::testing::PrintToString(text);
  }
}

// What FindKludgeZ gives, taken from a walk of the lines: the first line
// whose kept part starts with the prefix, else the last line read.
struct Lookup {
  bool found = false;
  std::string line;
  std::int32_t found_start = -1;
  std::int32_t found_end = -1;
  std::int32_t pos = 0;
  bool operator==(const Lookup&) const = default;
};

Lookup WalkedLookup(std::string_view text, std::string_view prefix, std::size_t keep) {
  Lookup result;
  result.pos = static_cast<std::int32_t>(text.size());
  for (const WalkedLine& line : WalkLines(text)) {
    result.found_start = static_cast<std::int32_t>(line.start);
    result.line = std::string(LineOf(text, line).substr(0, keep));
    if (result.line.starts_with(prefix)) {
      result.found = true;
      result.found_end = result.pos = static_cast<std::int32_t>(line.bounds.next);
      return result;
    }
  }
  return result;
}

// Where a walk finds the leading kludge block ending: the first line after
// a kludge line that is not one, or the text's end.
std::size_t WalkedKludgeEnd(std::string_view text) {
  bool seen = false;
  for (const WalkedLine& line : WalkLines(text)) {
    const bool kludge = text[line.start] == kKludgeChar;
    if (seen && !kludge) return line.start;
    seen = seen || kludge;
  }
  return text.size();
}

std::ostream& operator<<(std::ostream& out, const Lookup& l) {
  return out << "{found " << l.found << ", " << ::testing::PrintToString(l.line) << ", start " << l.found_start
             << ", end " << l.found_end << ", pos " << l.pos << "}";
}

TEST_F(TextFixture, KludgeLookupsAgreeWithTheWalk) {
  const std::string prefixes[] = {"\001MSGID:", "\001INTL", "\001FMPT", "\001TOPT", "\001",
                                  "",           "\n",       "b",        "\r",       "\001MSGID: 1:2/3 abc"};
  for (const std::string& text : TrickyTexts()) {
    for (const std::string& prefix : prefixes) {
      for (std::int32_t capacity : {4, 256, kMaxKludgeLine}) {
        SetText(text);
        base_.FoundStart = base_.FoundEnd = -1;
        std::vector<char> buf(static_cast<std::size_t>(capacity), 'q');
        Lookup got;
        got.found = base_.FindKludgeZ(prefix.c_str(), buf.data(), capacity);
        got.line = buf.data();
        got.found_start = base_.FoundStart;
        got.found_end = base_.FoundEnd;
        got.pos = base_.GetTextPos();
        EXPECT_EQ(got, WalkedLookup(text, prefix, static_cast<std::size_t>(capacity - 1)))
            << ::testing::PrintToString(text) << " prefix " << ::testing::PrintToString(prefix) << " capacity "
            << capacity;
      }
      std::string line = "stale";
      EXPECT_EQ(base_.GetKludge(prefix, line), WalkedLookup(text, prefix, kMaxKludgeLine - 1).found);
      EXPECT_EQ(line, WalkedLookup(text, prefix, kMaxKludgeLine - 1).line);
    }
  }
}

// Where the leading kludge block ends, and the addresses parsed from every
// kludge line in text order (cut as ReadLine cuts them), as a walk finds them.
TEST_F(TextFixture, KludgeEndAndAddressesAgreeWithTheWalk) {
  MessageBase parser;
  for (const std::string& text : TrickyTexts()) {
    FidoAddress orig{1, 1, 1, 1}, dest{2, 2, 2, 2};
    for (const WalkedLine& line : WalkLines(text)) {
      if (text[line.start] != kKludgeChar) continue;
      const std::string cut = CutTextLine(std::string(LineOf(text, line)));
      parser.ParseOrigKludge(cut, orig);
      parser.ParseDestKludge(cut, dest);
    }
    SetText(text);
    EXPECT_EQ(base_.GetKludgeEnd(), static_cast<std::int32_t>(WalkedKludgeEnd(text))) << ::testing::PrintToString(text);
    FidoAddress o{1, 1, 1, 1}, d{2, 2, 2, 2};
    base_.GetOrigAddr(o);
    EXPECT_EQ(base_.GetTextPos(), static_cast<std::int32_t>(text.size()));
    base_.GetDestAddr(d);
    EXPECT_EQ(FormatAddress4D(o) + " " + FormatAddress4D(d), FormatAddress4D(orig) + " " + FormatAddress4D(dest))
        << ::testing::PrintToString(text);
    FidoAddress o2{1, 1, 1, 1}, d2{2, 2, 2, 2};
    base_.SetTextPos(0);
    base_.GetAddrs(o2, d2);
    EXPECT_EQ(FormatAddress4D(o2) + " " + FormatAddress4D(d2), FormatAddress4D(orig) + " " + FormatAddress4D(dest));
    EXPECT_EQ(base_.GetTextPos(), static_cast<std::int32_t>(text.size()));
  }
}

// Editing a kludge replaces exactly the line a walk finds (or inserts at the
// end of the leading block) and keeps every other byte.
TEST_F(TextFixture, KludgeEditsAgreeWithTheWalk) {
  for (const std::string& text : TrickyTexts()) {
    for (const std::string prefix : {"\001INTL", "\001TOPT", "\001MSGID:"}) {
      const Lookup found = WalkedLookup(text, prefix, kMaxKludgeLine - 1);
      const std::size_t kludge_end = WalkedKludgeEnd(text);
      const std::string added = text.substr(0, kludge_end) + "\001NEW\r" + text.substr(kludge_end);
      const std::string kept = found.found ? text.substr(0, static_cast<std::size_t>(found.found_start)) : text;
      const std::string after = found.found ? text.substr(static_cast<std::size_t>(found.found_end)) : "";

      SetText(text);
      base_.SetKludge(prefix, "\001NEW");
      EXPECT_EQ(Text(), found.found ? kept + "\001NEW\r" + after : added) << ::testing::PrintToString(text);
      SetText(text);
      base_.DeleteKludge(prefix);
      EXPECT_EQ(Text(), kept + after) << ::testing::PrintToString(text);
    }
    SetText(text);
    const std::size_t kludge_end = WalkedKludgeEnd(text);
    base_.AddKludge("\001NEW");
    EXPECT_EQ(Text(), text.substr(0, kludge_end) + "\001NEW\r" + text.substr(kludge_end));
  }
}

// A stream whose reads fail as a file stream's do: Status set, bytes zeroed.
class FailingReadStream final : public ForwardingStream {
 public:
  using ForwardingStream::ForwardingStream;
  void Read(void* buf, std::int32_t count) override {
    std::memset(buf, 0, static_cast<std::size_t>(count));
    Status = kStreamReadShort;
  }
};

// A text that cannot be read is neither searched nor rewritten: an edit
// built on zeroed bytes would write them over the message.
TEST_F(TextFixture, UnreadableTextIsNeverRewritten) {
  const std::string text = "\001MSGID: 1:1/1 abcd\r\001FMPT 3\rbody\r";
  SetText(text);
  FailingReadStream failing(mem_);
  MessageBase base(&failing);
  std::string line = "stale";
  EXPECT_FALSE(base.GetKludge("\001MSGID", line));
  EXPECT_EQ(line, "");
  base.SetKludge("\001FMPT", "\001FMPT 9");
  base.DeleteKludge("\001MSGID");
  base.AddKludge("\001NEW");
  base.SetMsgKind(0);
  base.SetAddrs(FidoAddress{2, 2, 2, 2}, FidoAddress{3, 3, 3, 3}, false);
  EXPECT_EQ(Text(), text);
  EXPECT_EQ(failing.Status, kStreamReadShort);
}

// A lookup reads the text once in one piece, not line by line.
TEST_F(TextFixture, LookupsReadTheTextOnce) {
  std::string text = "\001MSGID: 1:1/1 abcd\r";
  for (int i = 0; i < 500; ++i) text += "line of the body\r";
  SetText(text);
  CountingStream counting(mem_);
  MessageBase reader(&counting);
  FidoAddress orig, dest;
  reader.GetAddrs(orig, dest);
  std::string line;
  reader.GetKludge("\001TOPT", line);
  EXPECT_EQ(counting.bytes_read, 2 * static_cast<std::int64_t>(text.size()));
  EXPECT_EQ(line, "line of the body");
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
