#include "platform/command_line.h"

#include <getopt.h>

namespace lw::platform {

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, const std::vector<OptionName>& options) {
  ParsedCommandLine parsed;
  std::string short_options = ":";  // a leading ':' keeps getopt_long quiet
  std::vector<option> long_options;
  for (const OptionName& name : options) {
    short_options += name.short_name;
    if (name.takes_value) short_options += ':';
    long_options.push_back(
        option{name.long_name, name.takes_value ? required_argument : no_argument, nullptr, name.short_name});
  }
  long_options.push_back(option{nullptr, 0, nullptr, 0});
  // getopt_long reorders its argument array: give it a copy.
  std::vector<std::string> copies(argv, argv + argc);
  std::vector<char*> args;
  args.reserve(copies.size() + 1);
  for (std::string& a : copies) args.push_back(a.data());
  args.push_back(nullptr);
  optind = 0;  // 0 restarts the scan from scratch (glibc and mingw-w64)
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, args.data(), short_options.c_str(), long_options.data(), nullptr)) != -1) {
    if (c == ':') {
      const std::string given = optind > 0 && optind <= argc ? std::string(args[optind - 1]) : std::string();
      if (parsed.error.empty()) parsed.error = "option '" + given + "' needs a value";
      continue;
    }
    if (c == '?') {
      const std::string given = optind > 0 && optind <= argc ? std::string(args[optind - 1]) : std::string();
      if (parsed.error.empty()) {
        parsed.error = given.rfind("--", 0) == 0 || optopt == 0
                           ? "unknown option '" + given + "'"
                           : std::string("unknown option '-") + static_cast<char>(optopt) + "'";
      }
      continue;
    }
    parsed.options.push_back(static_cast<char>(c));
    parsed.values.emplace_back(optarg != nullptr ? optarg : "");
  }
  for (int i = optind; i < argc; ++i) parsed.operands.push_back(args[i]);
  return parsed;
}

}  // namespace lw::platform
