#include "log/log_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "platform/platform_wrapper.h"
#include "test_util.h"

namespace lw {
namespace {

TEST(LogStamp, Format) {
  struct Case {
    MsgDateTime t;
    const char* text;
  } cases[] = {
      {{.Hour = 9, .Min = 4, .Sec = 3, .Day = 5, .Month = 1, .Year = 2007}, "05 Jan 07 09:04:03"},
      {{.Hour = 23, .Min = 59, .Sec = 59, .Sec100 = 99, .Day = 31, .Month = 12, .Year = 1999}, "31 Dec 99 23:59:59"},
      {{.Hour = 13, .Min = 5, .Sec = 9, .Day = 4, .Month = 5, .Year = 2000}, "04 May 00 13:05:09"},
      {{.Hour = 0, .Min = 0, .Sec = 0, .Day = 10, .Month = 12, .Year = 2026}, "10 Dec 26 00:00:00"},
      {{.Hour = -1, .Min = 0, .Sec = 0, .Day = 1, .Month = 13, .Year = 2126}, "01 ??? 26 00:00:00"},
  };
  for (const Case& c : cases) {
    std::string stamp = "x";
    AppendLogStamp(stamp, c.t);
    EXPECT_EQ(stamp, std::string("x") + c.text);
  }
}

}  // namespace
}  // namespace lw

namespace lw {
namespace {

// Keeps what goes to the console.
class CapturedConsole : public platform::PlatformWrapper {
 public:
  CapturedConsole() : PlatformWrapper(platform::NativePlatform()) {}
  void ConsoleWrite(std::string_view text) override { out += text; }
  platform::Result WriteFile(platform::FileHandle file, const void* buf, std::size_t count,
                             std::size_t* done) override {
    ++file_writes;
    return PlatformWrapper::WriteFile(file, buf, count, done);
  }
  std::string out;
  int file_writes = 0;
};

class LogLines : public ::testing::Test {
 protected:
  void SetUp() override { guard_ = std::make_unique<platform::ScopedPlatform>(&console_); }
  void TearDown() override { guard_.reset(); }
  // The lines of a log file with each stamp taken out.
  static std::vector<std::string> FileLines(const std::string& name) {
    std::string text = test::ReadFile(name);
    std::vector<std::string> lines;
    for (std::size_t pos = 0; pos < text.size();) {
      std::size_t end = std::min(text.find("\r\n", pos), text.size());
      std::string line = text.substr(pos, end - pos);
      if (line.size() > 20 && line[1] == ' ') line.erase(2, 19);  // "DD Mon YY HH:MM:SS "
      lines.push_back(line);
      pos = end + 2;
    }
    return lines;
  }
  std::vector<std::string> FileLines() { return FileLines(dir_ / "x.log"); }
  CapturedConsole console_;
  std::unique_ptr<platform::ScopedPlatform> guard_;
  test::TempDir dir_;
};

TEST_F(LogLines, EachOperationsFileAndConsoleParts) {
  {
    LogFile log;
    ASSERT_TRUE(log.Open(dir_ / "x.log").ok());
    log.Say('*', "TAG", "said");
    log.SayRaw("raw text");
    log.LogOnly('#', "TAG", "only in the file");
    log.Warning("TAG", "careful");
    log.LogOnly('-', "TAG", std::string(std::string(300, 'x')));
  }
  const std::string eol = platform::kLineEnd;
  EXPECT_EQ(console_.out, "said" + eol + "raw text" + eol + "Warning: careful" + eol);
  std::vector<std::string> lines = FileLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "* TAG said");
  EXPECT_EQ(lines[2], "raw text");
  EXPECT_EQ(lines[3], "# TAG only in the file");
  EXPECT_EQ(lines[4], "? TAG Warning: careful");
  EXPECT_EQ(lines[5].size(), 255u - 19u);  // cut at 255 before the stamp came out
}

// A group's lines reach the file together, in order, with one write, only
// when the group ends; their console parts are shown at once.
TEST_F(LogLines, GroupedLinesAreAppendedTogetherInOrder) {
  LogFile log;
  ASSERT_TRUE(log.Open(dir_ / "x.log").ok());
  const int writes_before = console_.file_writes;
  log.StartGroup();
  log.LogOnly('-', "TAG", "first");
  log.Warning("TAG", "second");
  log.LogOnly(' ', "TAG", "third");
  log.LogOnly('-', "TAG", std::string(300, 'x'));
  EXPECT_EQ(console_.out, std::string("Warning: second") + platform::kLineEnd);
  EXPECT_EQ(FileLines(), std::vector<std::string>{""});
  log.EndGroup();
  EXPECT_EQ(console_.file_writes - writes_before, 1);
  log.LogOnly('*', "TAG", "after");
  EXPECT_EQ(FileLines(), (std::vector<std::string>{"", "- TAG first", "? TAG Warning: second", "  TAG third",
                                                   "- TAG " + std::string(255 - 25, 'x'), "* TAG after"}));
}

TEST_F(LogLines, LogWithoutFileWritesNoFile) {
  LogFile log;
  log.Say(' ', "TAG", "shown");
  log.Error("TAG", "broken");
  EXPECT_TRUE(test::ListDir(dir_.path()).empty());
  EXPECT_EQ(console_.out, std::string("shown") + platform::kLineEnd + "Error: broken" + platform::kLineEnd);
}

TEST_F(LogLines, AppendsAcrossRunsAndMakesItsFolder) {
  for (const char* text : {"first", "second"}) {
    LogFile log;
    ASSERT_TRUE(log.Open(dir_ / "logs/deep/x.log").ok());
    log.Error("TAG", text);
  }
  std::vector<std::string> lines = FileLines(dir_ / "logs/deep/x.log");
  ASSERT_EQ(lines.size(), 4u);  // each run: an empty line, then its lines
  EXPECT_EQ(lines[1], "! TAG Error: first");
  EXPECT_EQ(lines[3], "! TAG Error: second");
}

TEST_F(LogLines, ALogThatCannotBeOpenedIsAnError) {
  test::WriteFile(dir_ / "file", "x");
  LogFile log;
  Status status = log.Open(dir_ / "file/x.log");
  EXPECT_FALSE(status.ok());
  EXPECT_EQ(status.exit_code(), 255);
  EXPECT_NE(status.text().find("file/x.log"), std::string::npos) << status.text();
}

}  // namespace
}  // namespace lw

namespace lw {
namespace {

// Keeps what goes to the console and to standard error.
class CapturedStreams : public platform::PlatformWrapper {
 public:
  CapturedStreams() : PlatformWrapper(platform::NativePlatform()) {}
  void ConsoleWrite(std::string_view text) override { out += text; }
  void ConsoleWriteKeepCursor(std::string_view text) override { out += text; }
  void ErrorWrite(std::string_view text) override { err += text; }
  std::string out, err;
};

// --quiet still shows errors on the console; --json keeps it for the
// report alone.  Standard error hears everything at every level.
TEST(ConsoleLevels, ErrorsOnlyStillShowsErrorsAndStandardErrorHearsEverything) {
  CapturedStreams streams;
  platform::ScopedPlatform guard(&streams);
  const std::string end = platform::kLineEnd;
  struct Case {
    ConsoleLevel level;
    std::string out;
  } cases[] = {
      {ConsoleLevel::kAll, "said" + end + "5 scanned" + "Warning: careful" + end + "Error: broken" + end},
      {ConsoleLevel::kErrorsOnly, "Error: broken" + end},
      {ConsoleLevel::kReportOnly, ""},
  };
  for (const Case& c : cases) {
    streams.out.clear();
    streams.err.clear();
    SetConsoleLevel(c.level);
    LogFile log;
    log.Say(' ', "LW", "said");
    ConsoleProgress("5 scanned");
    log.Warning("LW", "careful");
    log.Error("LW", "broken");
    EXPECT_EQ(streams.out, c.out);
    EXPECT_EQ(streams.err, "larkway: warning: careful" + end + "larkway: broken" + end);
  }
  SetConsoleLevel(ConsoleLevel::kAll);
}

TEST(ConsoleLevels, TheCauseReachesStandardErrorAndTheLogNeverTheConsole) {
  CapturedStreams streams;
  platform::ScopedPlatform guard(&streams);
  test::TempDir dir;
  const std::string end = platform::kLineEnd;
  LogFile log;
  ASSERT_TRUE(log.Open(dir.path() + "/lw.log").ok());
  log.Error("LW", "Unable to open x.cfg", "x.cfg: Permission denied");
  log.Warning("LW", "Unable to delete message 3 in *nm", "nm/3.msg: Permission denied");
  log.Error("LW", "second");
  EXPECT_EQ(streams.out, "Error: Unable to open x.cfg" + end + "Warning: Unable to delete message 3 in *nm" + end +
                             "Error: second" + end);
  EXPECT_EQ(streams.err, "larkway: Unable to open x.cfg: x.cfg: Permission denied" + end +
                             "larkway: warning: Unable to delete message 3 in *nm: nm/3.msg: Permission denied" + end +
                             "larkway: second" + end);
  const std::string file = test::ReadFile(dir.path() + "/lw.log");
  EXPECT_NE(file.find("Error: Unable to open x.cfg: x.cfg: Permission denied\r\n"), std::string::npos) << file;
  EXPECT_NE(file.find("Warning: Unable to delete message 3 in *nm: nm/3.msg: Permission denied\r\n"), std::string::npos)
      << file;
  EXPECT_NE(file.find("Error: second\r\n"), std::string::npos) << file;
}

TEST(LogCharset, Utf8LogConvertsFromTheTextsCharset) {
  CapturedStreams streams;
  platform::ScopedPlatform guard(&streams);
  test::TempDir dir;
  const std::string name = dir / "lw.log";
  {
    LogFile log;
    ASSERT_TRUE(log.Open(name).ok());
    log.LogOnly('#', "LW", "cp866 \x88\xa2\xa0\xad");
    log.SetUtf8(true);
    log.LogOnly('#', "LW", "cp866 \x88\xa2\xa0\xad");
    log.LogOnly('=', "LW", "koi8 \xe9\xd7\xc1\xce", "KOI8-R");
  }
  const std::string text = test::ReadFile(name);
  EXPECT_NE(text.find("LW cp866 \x88\xa2\xa0\xad\r\n"), std::string::npos);
  EXPECT_NE(text.find("LW cp866 Иван\r\n"), std::string::npos);
  EXPECT_NE(text.find("LW koi8 Иван\r\n"), std::string::npos);
}

}  // namespace
}  // namespace lw
