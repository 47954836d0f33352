// The program's command line: its options, and the texts of --help,
// --version and the usage line.
#pragma once

#include <string>

namespace lw {

struct CommandOptions {
  bool no_arguments = false;  // called with nothing at all: the usage line
  bool help = false;          // -h, --help
  bool version = false;       // -V, --version
  bool check = false;         // -c, --check: read the configuration only
  bool dry_run = false;       // -n, --dry-run: judge every message, change nothing
  bool quiet = false;         // -q, --quiet: the console shows errors only
  bool repair = false;        // -r, --repair AREA: check that base whole and repair it; no configuration
  std::string repair_area;    // its AREA
  bool list = false;          // -l, --list AREA: every message of one area, as a dry run shows it
  std::string list_area;      // its AREA
  bool json = false;          // -j, --json: the dry run's or the list's report as JSON lines
  std::string config_name;    // the one operand, or LARKWAY_CONFIG
  std::string error;          // why the command line is unusable ("" when it is usable)
};

// Reads the command line.  --help, --version and --repair need no
// configuration name, --list takes one when it is given (or LARKWAY_CONFIG
// names one); every other use needs exactly one, taken from the environment
// variable LARKWAY_CONFIG when the command line names none (called with
// nothing at all and no LARKWAY_CONFIG: `no_arguments`).  An unknown option, a missing
// configuration name, an extra argument, or options that do not go
// together (--json without --dry-run or --list) fill `error`.
CommandOptions ReadCommandOptions(int argc, const char* const* argv);

// "Usage: <program> configname" (the specified form when `long_form` is
// false; with the options when it is true).
std::string UsageText(const std::string& program, bool long_form);
// The --help text: the usage, each option, the exit codes.
std::string HelpText(const std::string& program);
// The --version text: the program's name and version, its platform, and
// the message-base formats it reads and writes.
std::string VersionText();

}  // namespace lw
