#include <gtest/gtest.h>

#include <string>

#include "platform/program_run.h"
#include "test_util.h"

namespace lw {
namespace {

using Kind = ProgramOutcome::Kind;

// The program gets the input byte for byte, the words as they are and the
// added variables; nothing of them passes through a shell.
TEST(ProgramRun, InputWordsAndEnvironmentArriveAsGiven) {
  test::TempDir dir;
  constexpr char kInput[] = "line one\r\x01MSGID: 2:5020/1 1\r\0 after a NUL\r\n$(touch x) `y`";
  const std::string input(kInput, sizeof kInput - 1);
  ProgramOutcome outcome = RunProgram(
      {"sh", "-c",
       "cat > \"$OUT/in\"; printf '%s|' \"$@\" > \"$OUT/args\"; printf '%s' \"$LARKWAY_SUBJ\" > \"$OUT/env\"", "sh",
       "two words", "$HOME", ";", "*"},
      {{"OUT", dir.path()}, {"LARKWAY_SUBJ", "Re: $(rm -rf /) привет"}}, input, 60);
  EXPECT_TRUE(outcome.Succeeded()) << DescribeOutcome(outcome, 60);
  EXPECT_EQ(test::ReadFile(dir / "in"), input);
  EXPECT_EQ(test::ReadFile(dir / "args"), "two words|$HOME|;|*|");
  EXPECT_EQ(test::ReadFile(dir / "env"), "Re: $(rm -rf /) привет");
  EXPECT_FALSE(test::Exists(dir / "x"));
}

TEST(ProgramRun, EachWayToEnd) {
  struct Case {
    std::vector<std::string> words;
    int timeout;
    Kind kind;
    int code;
    const char* described;
  } cases[] = {
      {{"true"}, 60, Kind::kExited, 0, "exit code 0"},
      {{"sh", "-c", "exit 3"}, 60, Kind::kExited, 3, "exit code 3"},
      {{"sh", "-c", "kill -9 $$"}, 60, Kind::kSignalled, 9, "signal 9"},
      {{"sh", "-c", "exec sleep 600"}, 1, Kind::kTimedOut, 0, "no end within 1 s"},
      {{"/nonexistent/program"}, 60, Kind::kNotStarted, 0, "not started: No such file or directory"},
  };
  for (const Case& c : cases) {
    ProgramOutcome outcome = RunProgram(c.words, {}, "text", c.timeout);
    EXPECT_EQ(outcome.kind, c.kind) << c.words.back();
    EXPECT_EQ(outcome.code, c.code) << c.words.back();
    EXPECT_EQ(DescribeOutcome(outcome, c.timeout), c.described);
  }
}

// A program that ends without reading a large input leaves us running.
TEST(ProgramRun, ProgramThatReadsNothing) {
  ProgramOutcome outcome = RunProgram({"sh", "-c", "exit 0"}, {}, std::string(4 << 20, 'x'), 60);
  EXPECT_TRUE(outcome.Succeeded()) << DescribeOutcome(outcome, 60);
}

}  // namespace
}  // namespace lw
