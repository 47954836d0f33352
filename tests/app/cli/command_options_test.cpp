#include "app/cli/command_options.h"

#include <gtest/gtest.h>

#include <vector>

namespace lw {
namespace {

CommandOptions Read(std::vector<const char*> args) {
  args.insert(args.begin(), "larkway");
  return ReadCommandOptions(static_cast<int>(args.size()), args.data());
}

TEST(CommandOptions, Table) {
  struct Case {
    std::vector<const char*> args;
    const char* flags;  // h V c n q, in that order, '.' for off
    const char* config;
    const char* error;  // "" when usable
  };
  const Case cases[] = {
      {{"cfg"}, ".....", "cfg", ""},
      {{"--dry-run", "cfg"}, "...n.", "cfg", ""},
      {{"cfg", "--dry-run"}, "...n.", "cfg", ""},  // after the name too
      {{"-nq", "cfg"}, "...nq", "cfg", ""},
      {{"-c", "cfg"}, "..c..", "cfg", ""},
      {{"--help"}, "h....", "", ""},
      {{"-V"}, ".V...", "", ""},
      {{"--", "-odd.cfg"}, ".....", "-odd.cfg", ""},
      {{"--help", "cfg", "more"}, "h....", "", "extra argument 'more'"},
      {{"--dry", "cfg"}, "...n.", "cfg", ""},  // an unambiguous abbreviation, as getopt_long allows
      {{"--nope", "cfg"}, ".....", "", "unknown option '--nope'"},
      {{"-z", "cfg"}, ".....", "", "unknown option '-z'"},
      {{"-q"}, "....q", "", "no configuration file named"},
      {{"a", "b"}, ".....", "", "extra argument 'b'"},
      {{"-c", "-n", "cfg"}, "..cn.", "cfg", "--check and --dry-run do not go together"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    CommandOptions o = Read(c.args);
    std::string flags;
    flags += o.help ? 'h' : '.';
    flags += o.version ? 'V' : '.';
    flags += o.check ? 'c' : '.';
    flags += o.dry_run ? 'n' : '.';
    flags += o.quiet ? 'q' : '.';
    EXPECT_EQ(o.error, c.error);
    if (o.error.empty()) {
      EXPECT_EQ(flags, c.flags);
      EXPECT_EQ(o.config_name, c.config);
    }
  }
}

TEST(CommandOptions, NoArgumentAtAllIsTheUsageLine) {
  const char* argv[] = {"larkway"};
  CommandOptions o = ReadCommandOptions(1, argv);
  EXPECT_TRUE(o.no_arguments);
  EXPECT_EQ(o.error, "");
  EXPECT_EQ(UsageText("larkway", false), "Usage: larkway configname");
}

// --list takes its area and an optional configuration; --json needs a
// report to shape.
TEST(CommandOptions, ListAndJson) {
  struct Case {
    std::vector<const char*> args;
    const char* list_area;  // "" when --list is not given
    bool json;
    const char* config;
    const char* error;  // "" when usable
  };
  const Case cases[] = {
      {{"--list", "*net", "cfg"}, "*net", false, "cfg", ""},
      {{"-l", "Jbase"}, "Jbase", false, "", ""},
      {{"cfg", "--list=Sbase", "--json"}, "Sbase", true, "cfg", ""},
      {{"-nj", "cfg"}, "", true, "cfg", ""},
      {{"--json", "cfg"}, "", true, "cfg", "--json goes with --dry-run or --list"},
      {{"--list"}, "", false, "", "option '--list' needs a value"},
      {{"-l", "*net", "a", "b"}, "*net", false, "", "extra argument 'b'"},
      {{"-l", "*net", "-c", "cfg"}, "*net", false, "", "--list goes with no --check or --repair"},
      {{"-l", "*net", "-r", "Sbase"}, "*net", false, "", "--list goes with no --check or --repair"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    CommandOptions o = Read(c.args);
    EXPECT_EQ(o.error, c.error);
    if (!o.error.empty()) continue;
    EXPECT_EQ(o.list, *c.list_area != 0);
    EXPECT_EQ(o.list_area, c.list_area);
    EXPECT_EQ(o.json, c.json);
    EXPECT_EQ(o.config_name, c.config);
  }
}

}  // namespace
}  // namespace lw
