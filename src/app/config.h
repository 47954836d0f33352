// The settings of one run, read from the configuration file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/current_message.h"
#include "errreport/status.h"
#include "fidoutil/address.h"
#include "fidoutil/address_mask.h"

namespace lw {

inline constexpr int kMaxListEntries = 100;
inline constexpr std::size_t kMaxPriorityWord = 9;
// A configuration line is read up to this many characters.
inline constexpr std::size_t kMaxConfigLine = 255;
inline const char* const kProductTag = "LW 1.07";
inline const char* const kVersion = "1.07";
// "Larkway/<platform> 1.07", as the banner and the log's start line name
// the program.
std::string ProgramTitle();

struct NameRule {
  std::string name;                  // folded, at most 36 characters (72 for a subject); may hold * and ?
  std::string target;                // the target text as written after the first comma
  std::vector<std::string> targets;  // that text split at commas: each an area identifier, or one KILL
};

struct AddressRule {
  FidoAddress address;   // the parts written as numbers
  AddressWildcards any;  // the parts written as *
  std::string target;
  std::vector<std::string> targets;
};

// The entries of one list key, in file order, at most kMaxListEntries.
template <typename T>
struct RuleList {
  std::vector<std::unique_ptr<T>> items;

  int count() const { return static_cast<int>(items.size()); }
  bool Full() const { return count() >= kMaxListEntries; }
  void Append(std::unique_ptr<T> item) { items.push_back(std::move(item)); }
};

// A configuration line the reader skipped or may have misread.
struct ConfigProblem {
  int line_number = 0;  // 1-based
  std::string text;     // what is wrong, for a person to read
};

struct MoverConfig {
  RuleList<std::string> NetmailAreas;
  RuleList<NameRule> ToRules;
  RuleList<NameRule> FromRules;
  RuleList<AddressRule> ToAddrRules;
  RuleList<AddressRule> FromAddrRules;
  RuleList<NameRule> SubjRules;
  RuleList<std::string> NotTouchNames;
  bool MoveMode = false;
  bool UseLastRead = false;
  std::int32_t UserNumber = 0;
  std::string Priority[5];
  bool KeepLocalUnsent = false;
  std::string LogFileName;
  bool LogUtf8 = false;    // LOGCHARSET UTF-8: the log is written in UTF-8
  bool LogDetail = false;  // LOGDETAIL YES: a detail line for each action
  // Lines skipped or possibly misread, in file order.
  std::vector<ConfigProblem> problems;
};

// Reads the configuration file `name` into `config`.  A missing file is a
// reported error; one that cannot be opened or read is the run-time fault
// of the failed call (standard error is told the path and the system's
// reason).  A list entry beyond its list's limit is skipped with a console
// warning.  Lines skipped or possibly misread are recorded in
// `config.problems`; reporting them is the caller's.
Status ReadConfiguration(const std::string& name, MoverConfig& config);

// The settings a run cannot do without: a netmail area, and a user number
// when the lastread pointer is used.
Status CheckSettings(const MoverConfig& config);

// The first kMaxConfigLine characters of a configuration line.
std::string_view CutConfigLine(std::string_view line);

// Applies one configuration line (without its line end) to `config`, and
// records in `config.problems` what is wrong with it.  A rule name written
// in UTF-8 is compared in CP866.  Returns false when the line was a list
// entry beyond the list's limit.
bool ApplyConfigLine(MoverConfig& config, std::string_view line, int line_number = 0);

}  // namespace lw
