#include "app/cli/command_options.h"

#include <vector>

#include "app/config/config.h"
#include "platform/command_line.h"
#include "platform/platform.h"

namespace lw {

namespace {

// The configuration LARKWAY_CONFIG names; "" when it is unset or empty.
std::string ConfigFromEnvironment() {
  std::string name;
  if (!platform::Os().GetEnv("LARKWAY_CONFIG", &name)) return std::string();
  return name;
}

}  // namespace

CommandOptions ReadCommandOptions(int argc, const char* const* argv) {
  CommandOptions options;
  if (argc < 2) {
    options.config_name = ConfigFromEnvironment();
    options.no_arguments = options.config_name.empty();
    return options;
  }
  static const std::vector<platform::OptionName> kOptionNames = {
      {"help", 'h'},  {"version", 'V'},      {"check", 'c'},      {"dry-run", 'n'},
      {"quiet", 'q'}, {"repair", 'r', true}, {"list", 'l', true}, {"json", 'j'}};
  platform::ParsedCommandLine parsed = platform::ParseCommandLine(argc, argv, kOptionNames);
  options.error = parsed.error;
  for (std::size_t i = 0; i < parsed.options.size(); ++i) {
    const char c = parsed.options[i];
    if (c == 'r') {
      options.repair = true;
      options.repair_area = parsed.values[i];
    }
    if (c == 'l') {
      options.list = true;
      options.list_area = parsed.values[i];
    }
    options.json = options.json || c == 'j';
    options.help = options.help || c == 'h';
    options.version = options.version || c == 'V';
    options.check = options.check || c == 'c';
    options.dry_run = options.dry_run || c == 'n';
    options.quiet = options.quiet || c == 'q';
  }
  if (!options.error.empty()) return options;
  const bool repair = options.repair;
  if (parsed.operands.size() > (repair ? 0 : 1)) {
    options.error = "extra argument '" + parsed.operands[repair ? 0 : 1] + "'";
  } else if (options.list && (options.check || repair)) {
    options.error = "--list goes with no --check or --repair";
  } else if (repair) {
    if (options.check || options.dry_run) options.error = "--repair goes with no --check or --dry-run";
  } else if (parsed.operands.size() == 1) {
    options.config_name = parsed.operands[0];
  } else if (options.list) {
    // Without a configuration the list shows every message as kept.
    options.config_name = ConfigFromEnvironment();
  } else if (!options.help && !options.version) {
    options.config_name = ConfigFromEnvironment();
    if (options.config_name.empty()) options.error = "no configuration file named";
  }
  if (options.error.empty() && options.check && options.dry_run) {
    options.error = "--check and --dry-run do not go together";
  }
  if (options.error.empty() && options.json && !options.dry_run && !options.list && !options.help && !options.version) {
    options.error = "--json goes with --dry-run or --list";
  }
  return options;
}

std::string UsageText(const std::string& program, bool long_form) {
  if (!long_form) return "Usage: " + program + " configname";
  return "Usage: " + program +
         " [-q] configname\n"
         "       " +
         program +
         " -c|--check configname\n"
         "       " +
         program +
         " -n|--dry-run [-j|--json] configname\n"
         "       " +
         program +
         " -l|--list area [-j|--json] [configname]\n"
         "       " +
         program +
         " [-q] -r|--repair area\n"
         "       " +
         program + " -h|--help | -V|--version";
}

std::string HelpText(const std::string& program) {
  return UsageText(program, true) +
         "\n\n"
         "Sorts the netmail areas the configuration file names: messages that a rule\n"
         "picks are copied into message bases, moved or deleted.\n"
         "\n"
         "  -c, --check    read the configuration only; report every problem with\n"
         "                 its file:line; exit 0 when clean, 1 otherwise\n"
         "  -n, --dry-run  judge every message and print the verdict per message;\n"
         "                 write no file at all (no copy, deletion, lastread, log)\n"
         "  -l, --list area\n"
         "                 the dry run of one area (an identifier such as\n"
         "                 */var/spool/fido/net) from its first message, lastread\n"
         "                 ignored; judged by the configuration's rules when one is\n"
         "                 named, else every message shows as kept\n"
         "  -j, --json     with --dry-run or --list: one JSON object per message,\n"
         "                 then a summary object, and nothing else on standard output\n"
         "  -q, --quiet    the console shows errors only (and what --dry-run reports)\n"
         "  -r, --repair area\n"
         "                 check the whole base of one area (an identifier such as\n"
         "                 S/var/spool/fido/net), repair it and report what was\n"
         "                 mended; exit 0 when it is sound or repaired\n"
         "  -h, --help     show this text\n"
         "  -V, --version  show the version, platform and formats\n"
         "\n"
         "Without configname, the file LARKWAY_CONFIG names is used.\n"
         "\n"
         "Exit codes: 0 ok; 1 --check found problems; 2 usage error; 75 an area\n"
         "was held by another run, try later; 128+N stopped by signal N (129 SIGHUP,\n"
         "130 SIGINT, 143 SIGTERM) after the message in hand; 255 an error the\n"
         "program reported; other: a run-time fault.\n"
         "See larkway(1) and larkway.cfg(5).\n";
}

std::string VersionText() {
  return ProgramTitle() +
         "\n"
         "Platform: " +
         platform::kPlatformName +
         "\n"
         "Formats: *.MSG (FTS-0001 stored messages), Squish, JAM\n";
}

}  // namespace lw
