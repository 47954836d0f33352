// Reading a command line's options with the C library's getopt_long.
#pragma once

#include <string>
#include <vector>

namespace lw::platform {

// One option: its long name ("help") and its one-letter form ('h'), and
// whether it takes a value ("--repair AREA", "-r AREA", "--repair=AREA").
struct OptionName {
  const char* long_name;
  char short_name;
  bool takes_value = false;
};

struct ParsedCommandLine {
  std::vector<char> options;          // the short names of the options given, in order
  std::vector<std::string> values;    // each option's value, beside it ("" for one that takes none)
  std::vector<std::string> operands;  // the other arguments, in order
  std::string error;                  // why the line could not be read ("" when it could)
};

// Reads argv[1..argc-1] against `options` as getopt_long does (options may
// stand before or after operands; "--" ends the options).  An unknown
// option, a value given to one that takes none, or an option without the
// value it takes, fills `error` with a text naming it; nothing is printed.  Safe to call more than once in a process.
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, const std::vector<OptionName>& options);

}  // namespace lw::platform
