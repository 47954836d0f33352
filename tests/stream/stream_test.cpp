#include "stream/stream.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <random>
#include <vector>

#include "platform/platform_wrapper.h"
#include "test_util.h"

namespace lw {
namespace {

class StreamTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
};

TEST_F(StreamTest, MissingFileFailsOpenAndReadsZeros) {
  auto s = OpenFileStream(dir_ / "missing", fmReadWrite);
  EXPECT_EQ(s->Status, kStreamOpenError);
  char buf[4] = {1, 2, 3, 4};
  s->Read(buf, 4);
  EXPECT_EQ(std::string(buf, 4), std::string(4, '\0'));
  EXPECT_EQ(s->GetSize(), -1);
  EXPECT_EQ(s->GetPos(), -1);
}

TEST_F(StreamTest, ShortReadZeroesWholeBufferAndSticks) {
  test::WriteFile(dir_ / "f", std::string(100, 'a'));
  auto s = OpenFileStream(dir_ / "f", fmRead);
  ASSERT_EQ(s->Status, kStreamOk);
  std::vector<char> buf(190, 'z');
  s->Read(buf.data(), 190);
  EXPECT_EQ(s->Status, kStreamReadShort);
  EXPECT_EQ(std::string(buf.begin(), buf.end()), std::string(190, '\0'));
  s->Seek(0);
  s->Read(buf.data(), 10);
  EXPECT_EQ(buf[0], '\0');  // a failed stream does nothing further
  s->ResetStatus();
  s->Seek(0);
  s->Read(buf.data(), 10);
  EXPECT_EQ(buf[0], 'a');
}

// Counts the size and position queries that reach the platform.
class QueryCounter : public platform::PlatformWrapper {
 public:
  QueryCounter() : PlatformWrapper(platform::NativePlatform()) {}
  platform::Result FileSize(platform::FileHandle file, std::int64_t* size) override {
    ++queries;
    return target_.FileSize(file, size);
  }
  platform::Result TellFile(platform::FileHandle file, std::int64_t* pos) override {
    ++queries;
    return target_.TellFile(file, pos);
  }
  int queries = 0;
};

// A stream that holds its file against other writers answers GetSize and
// GetPos from what it did, and must still answer as the file is.
TEST_F(StreamTest, KnownSizeAndPositionFollowEveryChange) {
  test::WriteFile(dir_ / "f", "0123456789");
  QueryCounter counter;
  platform::ScopedPlatform use(&counter);
  auto s = OpenFileStream(dir_ / "f", fmReadWrite | fmDenyWrite);
  ASSERT_EQ(s->Status, kStreamOk);
  char buf[4];
  struct Step {
    const char* what;
    std::function<void()> act;
    std::int32_t size, pos;
  } steps[] = {
      {"open", [] {}, 10, 0},
      {"read 4", [&] { s->Read(buf, 4); }, 10, 4},
      {"write past the end", [&] { s->Seek(8), s->Write("abcd", 4); }, 12, 12},
      {"write inside", [&] { s->Seek(2), s->Write("x", 1); }, 12, 3},
      {"truncate", [&] { s->Truncate(); }, 3, 3},
      {"positioned write past the end", [&] { s->WriteAt(20, "yz", 2); }, 22, -1},  // position unspecified
      {"seek and truncate", [&] { s->Seek(5), s->Truncate(); }, 5, 5},
  };
  for (const Step& step : steps) {
    step.act();
    EXPECT_EQ(s->GetSize(), step.size) << step.what;
    if (step.pos >= 0) {
      EXPECT_EQ(s->GetPos(), step.pos) << step.what;
    }
    EXPECT_EQ(test::FileSizeOf(dir_ / "f"), step.size) << step.what;
  }
  EXPECT_LE(counter.queries, 3) << "the size or position was asked for again and again";
}

// A created file is open to every writer: its size is asked for each time.
TEST_F(StreamTest, SizeOfACreatedFileSeesOtherWriters) {
  auto s = OpenFileStream(dir_ / "shared", fmCreate);
  s->Write("abc", 3);
  EXPECT_EQ(s->GetSize(), 3);
  test::WriteFile(dir_ / "shared", "another program's longer text");
  EXPECT_EQ(s->GetSize(), 29);
}

TEST_F(StreamTest, NegativeSeekFailsTheStream) {
  test::WriteFile(dir_ / "f", "abc");
  auto s = OpenFileStream(dir_ / "f", fmRead);
  s->Seek(-5);
  EXPECT_EQ(s->Status, kStreamOsError);
  char buf[3] = {'x', 'x', 'x'};
  s->Read(buf, 3);
  EXPECT_EQ(std::string(buf, 3), std::string(3, '\0'));
}

TEST_F(StreamTest, CreateWriteTruncate) {
  auto s = OpenFileStream(dir_ / "New.Bin", fmCreate);
  ASSERT_EQ(s->Status, kStreamOk);
  s->Write("hello world", 11);
  s->Seek(5);
  s->Truncate();
  s->Write("!", 1);
  EXPECT_EQ(s->GetSize(), 6);
  s.reset();
  EXPECT_EQ(test::ReadFile(dir_ / "New.Bin"), "hello!");
}

TEST_F(StreamTest, CopyFromBetweenKinds) {
  std::string text(5000, 'q');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  test::WriteFile(dir_ / "src", text);
  auto file = OpenFileStream(dir_ / "src", fmRead);
  auto mem = NewMemoryStream(65536);
  mem->CopyFrom(*file, file->GetSize());
  EXPECT_EQ(mem->GetSize(), 5000);
  std::string back(5000, ' ');
  mem->Seek(0);
  mem->Read(back.data(), 5000);
  EXPECT_EQ(back, text);
}

TEST(MemoryStream, GrowthSteps) {
  struct Case {
    std::vector<std::int32_t> targets;
    std::vector<std::int32_t> blocks;
  } cases[] = {
      {{100, 150, 10000}, {100, 8192, 1708}}, {{100}, {100}},    {{8192, 8193}, {8192, 1}},
      {{20000}, {8192, 8192, 3616}},          {{20000, 5}, {5}}, {{20000, 8200}, {8192, 8}},
  };
  for (const Case& c : cases) {
    MemoryStream m;
    std::vector<char> bytes(20000, 'x');
    for (std::int32_t t : c.targets) {
      if (t >= m.GetSize()) {
        m.Seek(m.GetSize());
        m.Write(bytes.data(), t - m.GetSize());
      } else {
        m.Seek(t);
        m.Truncate();
      }
      ASSERT_EQ(m.GetSize(), t);
    }
    EXPECT_EQ(m.BlockLengths(), c.blocks);
  }
}

// AllBytes gives every byte and leaves the position at the end, whether
// the stream lends its own memory (one block) or the bytes are read (a
// file, or several blocks).
TEST_F(StreamTest, AllBytesByViewOrByRead) {
  std::string text(20000, ' ');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  test::WriteFile(dir_ / "src", text);
  for (const std::int32_t size : {0, 1, 8192, 8193, 20000}) {
    MemoryStream mem;
    mem.Write(text.data(), size);
    mem.Seek(0);
    std::string storage;
    std::string_view view;
    EXPECT_EQ(mem.ViewAll(&view), size <= 8192) << size;
    EXPECT_EQ(AllBytes(mem, storage), std::string_view(text).substr(0, static_cast<std::size_t>(size))) << size;
    EXPECT_EQ(mem.GetPos(), size);
  }
  auto file = OpenFileStream(dir_ / "src", fmRead);
  std::string storage;
  std::string_view view;
  EXPECT_FALSE(file->ViewAll(&view));
  EXPECT_EQ(AllBytes(*file, storage), text);
  EXPECT_EQ(file->GetPos(), 20000);
}

// Every byte a stream grew by without being written reads as zero: gaps
// left by seeking past the end, across blocks, and a Truncate past the
// end; also in memory the stream had filled and given back before.
TEST(MemoryStream, UnwrittenBytesReadAsZeros) {
  MemoryStream m;
  const std::string pattern(30000, '#');
  m.Write(pattern.data(), static_cast<std::int32_t>(pattern.size()));
  m.Seek(0);
  m.Truncate();
  m.Seek(3);
  m.Write("a", 1);
  m.Seek(20000);
  m.Write("b", 1);
  m.Seek(26000);
  m.Truncate();
  ASSERT_EQ(m.GetSize(), 26000);
  std::string expected(26000, '\0');
  expected[3] = 'a';
  expected[20000] = 'b';
  std::string storage;
  EXPECT_TRUE(AllBytes(m, storage) == expected);
}

TEST(MemoryStream, EdgeReadsAndWrites) {
  MemoryStream m;
  m.Write("abcde", 5);
  char buf[4] = {'z', 'z', 'z', 'z'};
  m.Read(buf, 4);  // at the end: nothing copied
  EXPECT_EQ(buf[0], 'z');
  EXPECT_EQ(m.Status, 0);
  m.Seek(-10);
  m.Read(buf, 4);
  EXPECT_EQ(buf[0], 'z');
  m.Write("x", 1);  // a negative position writes nothing
  EXPECT_EQ(m.GetSize(), 5);
  m.Seek(0);
  m.Truncate();
  EXPECT_EQ(m.GetSize(), 0);
  m.Write("12345", 5);
  EXPECT_EQ(m.GetSize(), 5);
  // A gap left by seeking past the end reads as zeros.
  m.Seek(8);
  m.Write("z", 1);
  char all[9];
  m.Seek(0);
  m.Read(all, 9);
  EXPECT_EQ(std::string(all, 9), std::string("12345\0\0\0z", 9));
  m.Seek(INT32_MAX - 2);
  m.Write("abcdef", 6);  // would pass the largest position: ignored
  EXPECT_EQ(m.GetSize(), 9);
}

// A read the OS fails, or one that meets the end of the file, shows in
// Status and hands out zeros in place of every byte asked for; a copy
// stops there and writes nothing it did not read.
class FailingReads : public platform::PlatformWrapper {
 public:
  explicit FailingReads(int fail_at) : PlatformWrapper(platform::NativePlatform()), fail_at_(fail_at) {}
  platform::Result ReadFile(platform::FileHandle f, void* b, std::size_t n, std::size_t* done) override {
    if (++reads_ == fail_at_) return platform::kDiskReadError;
    return target_.ReadFile(f, b, n, done);
  }

 private:
  int fail_at_;
  int reads_ = 0;
};

TEST_F(StreamTest, FailedReadShowsAndCopiesNothingUnread) {
  test::WriteFile(dir_ / "f", std::string(3000, 'a'));
  auto file = OpenFileStream(dir_ / "f", fmRead);
  MemoryStream copy;
  FailingReads failing(2);
  {
    platform::ScopedPlatform installed(&failing);
    copy.CopyFrom(*file, 3000);
  }
  EXPECT_EQ(file->Status, kStreamOsError);
  EXPECT_EQ(copy.Status, kStreamOk);
  std::string back(2048, 'z');
  copy.Seek(0);
  copy.Read(back.data(), 2048);
  EXPECT_EQ(back.substr(0, 1024), std::string(1024, 'a'));
  EXPECT_EQ(back.substr(1024), std::string(1024, '\0'));  // pre-sized, never written

  file.reset();
  auto again = OpenFileStream(dir_ / "f", fmRead);
  std::vector<char> buf(100, 'z');
  again->Seek(INT32_MAX);
  again->Read(buf.data(), 100);
  EXPECT_EQ(again->Status, kStreamReadShort);
  EXPECT_EQ(std::string(buf.begin(), buf.end()), std::string(100, '\0'));
}

TEST_F(StreamTest, CloseReportsAndEndsTheFile) {
  test::WriteFile(dir_ / "f", "abc");
  auto s = OpenFileStream(dir_ / "f", fmRead);
  s->Close();
  EXPECT_EQ(s->Status, kStreamOk);
  char c = 'z';
  s->Read(&c, 1);
  EXPECT_NE(s->Status, kStreamOk);
  s->Close();  // twice is harmless
}

// Reads and writes at any position agree with a plain string, whatever
// the blocks look like (small writes at the end make small blocks).
TEST(MemoryStream, RandomAccessOverUnevenBlocks) {
  MemoryStream m;
  std::string model;
  std::mt19937 random(7);
  for (int i = 0; i < 3000; ++i) {
    std::string piece(random() % 40 + 1, static_cast<char>('a' + i % 26));
    if (i % 50 == 0) piece.assign(9000, static_cast<char>('A' + i % 26));
    m.Seek(static_cast<std::int32_t>(model.size()));
    m.Write(piece.data(), static_cast<std::int32_t>(piece.size()));
    model += piece;
  }
  ASSERT_GT(m.BlockLengths().size(), 1000u);
  for (int i = 0; i < 2000; ++i) {
    std::int32_t pos = static_cast<std::int32_t>(random() % model.size());
    std::int32_t n = static_cast<std::int32_t>(random() % 20000);
    if (i % 3 == 0) {
      std::string w(static_cast<std::size_t>(n % 100), static_cast<char>('0' + i % 10));
      m.Seek(pos);
      m.Write(w.data(), static_cast<std::int32_t>(w.size()));
      model.replace(static_cast<std::size_t>(pos), std::min(w.size(), model.size() - static_cast<std::size_t>(pos)), w);
    }
    std::string got(static_cast<std::size_t>(n), '\0');
    m.Seek(pos);
    m.Read(got.data(), n);
    got.resize(std::min(static_cast<std::size_t>(n), model.size() - static_cast<std::size_t>(pos)));
    ASSERT_EQ(got, model.substr(static_cast<std::size_t>(pos), got.size())) << i;
  }
  EXPECT_EQ(m.GetSize(), static_cast<std::int32_t>(model.size()));
}

TEST(MemoryStream, PositionsNearTheLimitNeverOverflow) {
  MemoryStream m;
  m.Write("abc", 3);
  char buf[8] = {'z'};
  for (std::int32_t pos : {INT32_MAX, INT32_MAX - 1, INT32_MIN}) {
    m.Seek(pos);
    m.Read(buf, 8);
    EXPECT_EQ(buf[0], 'z');
    m.Write("xy", 2);  // would end past the largest position, or before 0
    EXPECT_EQ(m.GetSize(), 3);
  }
  m.Seek(1);
  m.Read(buf, INT32_MAX);  // clipped to what the stream holds
  EXPECT_EQ(std::string(buf, 2), "bc");
  MemoryStream to;
  to.Seek(INT32_MAX - 1);
  to.CopyFrom(m, INT32_MAX);  // cannot fit: nothing grows
  EXPECT_EQ(to.GetSize(), 0);
}

}  // namespace
}  // namespace lw
