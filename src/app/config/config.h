// The settings of one run, read from the configuration file.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/config/filter_expression.h"
#include "app/message/current_message.h"
#include "errreport/status.h"
#include "fidoutil/address.h"
#include "fidoutil/address_mask.h"

namespace lw {

inline constexpr int kMaxListEntries = 100;
// FILTER lines: more than the other lists hold, since one FILTER line does
// what several rule lines of the other kinds together do.
inline constexpr int kMaxFilterRules = 1000;
// EXEC programs get this many seconds when EXECTIMEOUT does not say.
inline constexpr int kDefaultExecTimeout = 60;
inline constexpr std::size_t kMaxPriorityWord = 9;
// PRIORITY names up to this many rule kinds: every kind there is.
inline constexpr int kPriorityKinds = 7;
// A configuration line is read up to this many characters.
inline constexpr std::size_t kMaxConfigLine = 255;
inline const char* const kProductTag = "LW 1.07";
inline const char* const kVersion = "1.07";
// "Larkway/<platform> 1.07", as the banner and the log's start line name
// the program.
std::string ProgramTitle();

// Where a configuration line was read.
struct ConfigPlace {
  std::string file;  // as in ConfigProblem
  int line = 0;      // 1-based
  int sequence = 0;  // as in ConfigProblem
};

struct NameRule {
  std::string name;                  // folded, at most 36 characters (72 for a subject); may hold * and ?
  std::string target;                // the target text as written after the first comma
  std::vector<std::string> targets;  // that text split at commas: each an area identifier, or one KILL
  ConfigPlace place;                 // where the rule was read
};

struct AddressRule {
  FidoAddress address;   // the parts written as numbers
  AddressWildcards any;  // the parts written as *
  std::string target;
  std::vector<std::string> targets;
  ConfigPlace place;
};

// A FILTER line as read, and where.
struct FilterLine : FilterRule {
  ConfigPlace place;
};

// The entries of one list key, in file order, at most kMaxListEntries.
template <typename T>
struct RuleList {
  std::vector<std::unique_ptr<T>> items;
  int limit = kMaxListEntries;

  int count() const { return static_cast<int>(items.size()); }
  bool Full() const { return count() >= limit; }
  void Append(std::unique_ptr<T> item) { items.push_back(std::move(item)); }
};

// An error is a line the run skips, misreads or fails on; a warning is a
// line the run reads sensibly but not as written (a target named twice).
enum class ProblemLevel { kError, kWarning };

// A configuration line the reader skipped or may have misread.
struct ConfigProblem {
  ConfigProblem() = default;
  ConfigProblem(int line, std::string what, ProblemLevel how_bad = ProblemLevel::kError, std::string in_file = {},
                int read_sequence = 0)
      : line_number(line), text(std::move(what)), level(how_bad), file(std::move(in_file)), sequence(read_sequence) {}

  int line_number = 0;  // 1-based
  std::string text;     // what is wrong, for a person to read
  ProblemLevel level = ProblemLevel::kError;
  // The file the line is in, as the run names it (the configuration's
  // name, or an included file's path as INCLUDE makes it); "" for a line
  // applied without a file.
  std::string file;
  // The line's place among every line read, included files' lines in
  // their place: problems are told in this order.
  int sequence = 0;
  int column = 0;  // 1-based column of the fault in the line; 0 when the whole line is meant
};

// Included files nest at most this deep: a chain of links that hides a
// loop still ends.
inline constexpr int kMaxIncludeDepth = 16;

struct MoverConfig {
  RuleList<std::string> NetmailAreas;
  RuleList<NameRule> ToRules;
  RuleList<NameRule> FromRules;
  RuleList<AddressRule> ToAddrRules;
  RuleList<AddressRule> FromAddrRules;
  RuleList<NameRule> SubjRules;
  RuleList<std::string> NotTouchNames;
  std::vector<ConfigPlace> not_touch_places;  // where each NotTouchNames entry was read
  // FILTER lines in file order; their targets as written (folded where
  // the platform folds paths).
  RuleList<FilterLine> filter_rules{{}, kMaxFilterRules};
  // ADDRESS: our own addresses, for TOUS, FROMUS and TOPOINT.
  std::vector<FidoAddress> our_addresses;
  int exec_timeout = kDefaultExecTimeout;  // EXECTIMEOUT: seconds an EXEC program may run
  // Some FILTER tests the message text (TEXT, KLUDGE): the text is read
  // once for each message judged.
  bool filters_read_text = false;
  bool MoveMode = false;
  bool UseLastRead = false;
  std::int32_t UserNumber = 0;
  std::string Priority[kPriorityKinds];
  bool KeepLocalUnsent = false;
  std::string LogFileName;
  bool LogUtf8 = false;    // LOGCHARSET UTF-8: the log is written in UTF-8
  bool LogDetail = false;  // LOGDETAIL YES: a detail line for each action
  // Lines skipped or possibly misread, in file order.
  std::vector<ConfigProblem> problems;
  // The line each key was first read on (keys without their blank).
  std::map<std::string, ConfigPlace, std::less<>> first_line_of_key;
  // Why an included file was not read whole ("" when every one was): a
  // run must not go on with part of its rules.
  std::string unread_include;
};

// Reads the configuration file `name` into `config`.  A missing file is a
// reported error; one that cannot be opened or read is the run-time fault
// of the failed call (standard error is told the path and the system's
// reason).  An `INCLUDE file` line reads that file in its place (a
// relative name from the including file's folder), nested up to
// kMaxIncludeDepth; an included file that is missing, cannot be read or
// includes itself again is a problem of its INCLUDE line and is named,
// with the system's reason or the chain of includes, in
// `config.unread_include`.  A list entry beyond its list's limit is
// skipped with a console warning.  Lines skipped, cut or possibly misread, and rules that can
// never fire, are recorded in `config.problems` in file order; reporting
// them is the caller's.
Status ReadConfiguration(const std::string& name, MoverConfig& config);

// The settings a run cannot do without: a netmail area, and a user number
// when the lastread pointer is used.
Status CheckSettings(const MoverConfig& config);

// Applies one configuration line (without its line end, cut at
// kMaxConfigLine characters) to `config`, and records in
// `config.problems` what is wrong with it, its cut included.  A rule name written
// in UTF-8 is compared in CP866.  Returns false when the line was a list
// entry beyond the list's limit.
bool ApplyConfigLine(MoverConfig& config, std::string_view line, int line_number = 0);
// The same for a line read at `place`: its problems and the first line of
// its key carry the place.
bool ApplyConfigLine(MoverConfig& config, std::string_view line, const ConfigPlace& place);

}  // namespace lw
