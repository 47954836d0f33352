#include "app/config/config.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/config/area_identity.h"
#include "app/config/config_check.h"
#include "app/config/rule_coverage_check.h"
#include "app/config/rule_line.h"
#include "app/message/text_charset.h"
#include "fidoutil/cp866.h"
#include "fidoutil/helpers.h"
#include "log/log_file.h"
#include "msgbase/area.h"
#include "platform/text_file.h"

namespace lw {

namespace {

// One line as the reader sees it: comment and TABs handled, then folded.
// `plain` keeps the written case for path values.
struct ConfigLine {
  std::string plain;
  std::string folded;

  explicit ConfigLine(std::string_view raw) {
    std::string cut(raw);
    for (std::size_t i = 0; i < cut.size() && cut[i] != ';'; ++i) {
      plain += cut[i] == '\t' ? ' ' : cut[i];
    }
    folded = UpCase866(plain);
  }
  bool StartsWith(std::string_view key) const { return std::string_view(folded).starts_with(key); }
  std::string_view Rest(std::string_view key) const { return std::string_view(folded).substr(key.size()); }
  std::string_view PathRest(std::string_view key) const {
    return std::string_view(platform::kFoldConfigPaths ? folded : plain).substr(key.size());
  }
};

RuleText RuleValue(const ConfigLine& line, std::string_view key) {
  return RuleText{line.Rest(key), line.PathRest(key)};
}

// Appends the rule `read` makes of a line.  A rule that cannot be used is
// skipped, its line recorded as a problem.
template <typename Rule, typename ReadRule>
bool AppendRule(MoverConfig& config, RuleList<Rule>& list, int line_number, ReadRule read) {
  if (list.Full()) return false;
  auto rule = std::make_unique<Rule>();
  std::string problem;
  if (read(*rule, problem)) {
    list.Append(std::move(rule));
  } else {
    config.problems.push_back(ConfigProblem{line_number, problem});
  }
  return true;
}

bool AppendNameRule(MoverConfig& config, RuleList<NameRule>& list, const ConfigLine& line, std::string_view key,
                    std::size_t cut, const ConfigPlace& place) {
  return AppendRule(config, list, place.line, [&](NameRule& rule, std::string& problem) {
    rule.place = place;
    return ReadNameRule(RuleValue(line, key), cut, rule, problem);
  });
}

bool AppendAddressRule(MoverConfig& config, RuleList<AddressRule>& list, const ConfigLine& line, std::string_view key,
                       const ConfigPlace& place) {
  return AppendRule(config, list, place.line, [&](AddressRule& rule, std::string& problem) {
    rule.place = place;
    return ReadAddressRule(RuleValue(line, key), rule, problem);
  });
}

bool AppendName(RuleList<std::string>& list, std::string_view value) {
  if (list.Full()) return false;
  list.Append(std::make_unique<std::string>(value));
  return true;
}

// Why file `name` could not be read: the system's reason for `rc`, or
// that it is a folder.
std::string UnreadableReason(const std::string& name, const platform::Result& rc) {
  std::uint32_t attr = 0;
  const bool folder = platform::Os().QueryAttributes(name, &attr) == platform::kOk && (attr & platform::kAttrDirectory);
  return folder ? std::string("it is a folder") : platform::ReasonText(rc);
}

bool AppendNotTouch(MoverConfig& config, std::string_view value, const ConfigPlace& place) {
  if (!AppendName(config.NotTouchNames, value)) return false;
  config.not_touch_places.push_back(place);
  return true;
}

// A FILTER line is read from its unfolded text: the reader folds the
// patterns itself, and an EXEC program keeps its case.  A malformed one is
// skipped, recorded with the column of its fault.
void AppendFilter(MoverConfig& config, const ConfigLine& line, const ConfigPlace& place) {
  const int line_number = place.line;
  if (config.filter_rules.Full()) {
    config.problems.push_back(
        ConfigProblem{line_number, "more than " + IntToStr(kMaxFilterRules) + " FILTER lines; the line is not read"});
    return;
  }
  auto rule = std::make_unique<FilterLine>();
  FilterSyntaxError error;
  if (!ReadFilterRule(line.plain, std::string_view("FILTER ").size(), *rule, error)) {
    ConfigProblem problem{line_number, "FILTER: " + error.text};
    problem.column = static_cast<int>(error.column);
    config.problems.push_back(std::move(problem));
    return;
  }
  rule->place = place;
  for (FilterAction& action : rule->actions) {
    if (action.kind != FilterActionKind::kCopy && action.kind != FilterActionKind::kMove) continue;
    if (platform::kFoldConfigPaths) action.target = UpCase866(action.target);
    AreaKind kind = AreaKind::kNone;
    std::string path;
    ParseAreaId(action.target, kind, path);
    if (kind == AreaKind::kNone) {
      config.problems.push_back(ConfigProblem{
          line_number, "target `" + action.target + "` is not a format letter (*, M, F, S, J) and a path"});
    }
  }
  config.filters_read_text = config.filters_read_text || rule->reads_text;
  config.filter_rules.Append(std::move(rule));
}

// ADDRESS: one or more of our addresses, separated by blanks.
void AppendOurAddresses(MoverConfig& config, std::string_view value, int line_number) {
  for (int i = 1;; ++i) {
    const std::string word = ExtractWord(i, value, " ");
    if (word.empty()) return;
    FidoAddress address;
    if (!ParseFidoAddress(word, address) || address.zone == 0) {
      config.problems.push_back(
          ConfigProblem{line_number, "ADDRESS `" + word + "` is not a full address (zone:net/node[.point])"});
      continue;
    }
    config.our_addresses.push_back(address);
  }
}

void SetExecTimeout(MoverConfig& config, std::string_view value, int line_number) {
  std::int32_t seconds = 0;
  // A value that is no number is told by the line check.
  const bool number =
      value.find_first_not_of("0123456789") == std::string_view::npos && TryStrToLongInt(value, &seconds);
  config.exec_timeout = number && seconds >= 1 ? seconds : kDefaultExecTimeout;
  if (number && seconds < 1) {
    // No program could run in no time at all.
    config.problems.push_back(ConfigProblem{line_number, "EXECTIMEOUT `" + std::string(value) +
                                                             "` is less than one second; " +
                                                             IntToStr(kDefaultExecTimeout) + " is taken"});
  }
}

// A configuration that cannot be read ends the run through the fault
// report; standard error is told the path and why.
Status ConfigFault(const std::string& name, const platform::Result& rc, Status fault) {
  return fault.Because(name + ": " + UnreadableReason(name, rc), "cannot read the configuration");
}

// Records the place `raw`'s key is first read at; a key that holds one
// value and was read before is noted, since only its last line counts.
void NoteKey(MoverConfig& config, std::string_view raw, const ConfigPlace& place) {
  const std::string key = KeyOfLine(raw);
  if (key.empty()) return;
  auto [at, first] = config.first_line_of_key.emplace(key, place);
  if (!first && HoldsOneValue(key)) {
    const ConfigPlace& before = at->second;
    const std::string where =
        "line " + IntToStr(before.line) + (before.file == place.file ? std::string() : " of " + before.file);
    config.problems.push_back(ConfigProblem{
        place.line, key + " is set again (first on " + where + "); the last line counts", ProblemLevel::kWarning});
  }
}

void SetPriority(MoverConfig& config, std::string_view rest) {
  for (int i = 0; i < kPriorityKinds; ++i) {
    config.Priority[i] = TrimBlanks(ExtractWord(i + 1, rest, " ")).substr(0, kMaxPriorityWord);
  }
}

// ApplyConfigLine without giving its problems their place.
bool ApplyLine(MoverConfig& config, std::string_view whole, const ConfigPlace& place) {
  const int line_number = place.line;
  const std::string_view raw = whole.substr(0, kMaxConfigLine);
  CheckConfigLine(whole, line_number, config.problems);
  NoteKey(config, raw, place);
  std::string charset_problem;
  ConfigLine line(RuleNamesToCp866(raw, &charset_problem));
  if (!charset_problem.empty()) config.problems.push_back(ConfigProblem{line_number, charset_problem});
  if (line.StartsWith("NETMAIL ")) return AppendName(config.NetmailAreas, TrimBlanks(line.PathRest("NETMAIL ")));
  if (line.StartsWith("TO ")) return AppendNameRule(config, config.ToRules, line, "TO ", kMaxNameLength, place);
  if (line.StartsWith("FROM ")) return AppendNameRule(config, config.FromRules, line, "FROM ", kMaxNameLength, place);
  if (line.StartsWith("SUBJ ")) {
    return AppendNameRule(config, config.SubjRules, line, "SUBJ ", kMaxSubjectLength, place);
  }
  if (line.StartsWith("TOADDR ")) return AppendAddressRule(config, config.ToAddrRules, line, "TOADDR ", place);
  if (line.StartsWith("FROMADDR ")) return AppendAddressRule(config, config.FromAddrRules, line, "FROMADDR ", place);
  if (line.StartsWith("MOVE ")) {
    config.MoveMode = TrimBlanks(line.Rest("MOVE ")) == "YES";
  } else if (line.StartsWith("NOT_TOUCH ")) {
    return AppendNotTouch(config, CutName(TrimBlanks(line.Rest("NOT_TOUCH "))), place);
  } else if (line.StartsWith("FILTER ")) {
    AppendFilter(config, line, place);
  } else if (line.StartsWith("ADDRESS ")) {
    AppendOurAddresses(config, line.Rest("ADDRESS "), line_number);
  } else if (line.StartsWith("EXECTIMEOUT ")) {
    SetExecTimeout(config, TrimBlanks(line.Rest("EXECTIMEOUT ")), line_number);
  } else if (line.StartsWith("USELASTREAD ")) {
    config.UseLastRead = TrimBlanks(line.Rest("USELASTREAD ")) == "YES";
  } else if (line.StartsWith("USERNUMBER ")) {
    StrToLongInt(TrimBlanks(line.Rest("USERNUMBER ")), config.UserNumber);
  } else if (line.StartsWith("PRIORITY ")) {
    SetPriority(config, line.Rest("PRIORITY "));
  } else if (line.StartsWith("DON'T_TOUCH_LOCAL_AND_UNSENT_MAIL ")) {
    config.KeepLocalUnsent = TrimBlanks(line.Rest("DON'T_TOUCH_LOCAL_AND_UNSENT_MAIL ")) == "YES";
  } else if (line.StartsWith("LOG ")) {
    config.LogFileName = TrimBlanks(line.PathRest("LOG "));
  } else if (line.StartsWith("LOGCHARSET ")) {
    config.LogUtf8 = TrimBlanks(line.Rest("LOGCHARSET ")) == "UTF-8";
  } else if (line.StartsWith("LOGDETAIL ")) {
    config.LogDetail = TrimBlanks(line.Rest("LOGDETAIL ")) == "YES";
  }
  return true;
}

// The file an INCLUDE line of file `including` names: a relative name is
// taken from the including file's folder.
std::string IncludedPath(const std::string& including, std::string_view written) {
  const bool absolute =
      platform::IsPathSeparator(written[0]) || (written.size() > 1 && written[1] == ':');  // "C:" names a drive
  if (absolute) return std::string(written);
  std::size_t folder_end = including.size();
  while (folder_end > 0 && !platform::IsPathSeparator(including[folder_end - 1])) --folder_end;
  return including.substr(0, folder_end) + std::string(written);
}

// Reads configuration files into one configuration: a file's lines in
// order, and in place of each INCLUDE line the lines of the file it names.
class ConfigFiles {
 public:
  explicit ConfigFiles(MoverConfig& config) : config_(config) {}

  // Applies every line of the open file `name` (as the run names it) and
  // of the files it includes.  Returns the error that ended reading
  // `name` itself (kOk when it was read to its end); what went wrong with
  // an included file is a problem of its INCLUDE line.
  platform::Result ReadLines(platform::TextReader& reader, const std::string& name) {
    chain_.push_back(name);
    identities_.push_back(FileIdentity(name));
    std::string raw;
    platform::Result error;
    int line_number = 0;
    while (reader.ReadLine(&raw, &error)) {
      const ConfigPlace place{name, ++line_number, ++sequence_};
      if (!ApplyConfigLine(config_, raw, place)) {
        // Standard error hears of it with the other problems.
        ConsoleLine("Warning: More than 100 entries of one key, line " + IntToStr(line_number) + " ignored: " + raw);
        config_.problems.push_back(ConfigProblem{line_number, "more than 100 entries of one key; the line is not read",
                                                 ProblemLevel::kError, name, place.sequence});
      }
      const ConfigLine line(std::string_view(raw).substr(0, kMaxConfigLine));
      if (line.StartsWith("INCLUDE ")) Include(place, TrimBlanks(line.PathRest("INCLUDE ")));
    }
    chain_.pop_back();
    identities_.pop_back();
    return error;
  }

 private:
  void Include(const ConfigPlace& at, std::string_view written) {
    if (written.empty()) return;  // the check of the line reports it
    const std::string path = IncludedPath(at.file, written);
    if (static_cast<int>(chain_.size()) >= kMaxIncludeDepth) {
      Unread(at, "INCLUDE " + path + " nests files deeper than " + IntToStr(kMaxIncludeDepth) + "; it is not read");
      return;
    }
    const std::string identity = FileIdentity(path);
    if (std::find(identities_.begin(), identities_.end(), identity) != identities_.end()) {
      std::string chain;
      for (const std::string& file : chain_) chain += file + " -> ";
      Unread(at, "INCLUDE loop " + chain + path + "; the file is not read again");
      return;
    }
    platform::TextReader reader;
    platform::Result rc = reader.Open(path);
    if (rc == platform::kOk) {
      rc = ReadLines(reader, path);
      if (const platform::Result closed = reader.Close(); rc == platform::kOk) rc = closed;
    }
    if (rc != platform::kOk) Unread(at, "cannot read the included file " + path + ": " + UnreadableReason(path, rc));
  }

  // Records that the file INCLUDE line `at` names was not read whole.
  void Unread(const ConfigPlace& at, const std::string& why) {
    config_.problems.push_back(ConfigProblem{at.line, why, ProblemLevel::kError, at.file, at.sequence});
    if (config_.unread_include.empty()) config_.unread_include = at.file + ":" + IntToStr(at.line) + ": " + why;
  }

  MoverConfig& config_;
  int sequence_ = 0;                     // lines read so far, from every file
  std::vector<std::string> chain_;       // the files being read, the outermost first
  std::vector<std::string> identities_;  // the same as FileIdentity keys
};

}  // namespace

std::string ProgramTitle() { return std::string("Larkway/") + platform::kPlatformName + " " + kVersion; }

bool ApplyConfigLine(MoverConfig& config, std::string_view whole, int line_number) {
  return ApplyConfigLine(config, whole, ConfigPlace{std::string(), line_number, line_number});
}

bool ApplyConfigLine(MoverConfig& config, std::string_view whole, const ConfigPlace& place) {
  const std::size_t known_problems = config.problems.size();
  const bool applied = ApplyLine(config, whole, place);
  for (std::size_t i = known_problems; i < config.problems.size(); ++i) {
    config.problems[i].file = place.file;
    config.problems[i].sequence = place.sequence;
  }
  return applied;
}

Status ReadConfiguration(const std::string& name, MoverConfig& config) {
  platform::Platform& os = platform::Os();
  std::uint32_t attr = 0;
  const platform::Result found = name.empty() ? platform::kFileNotFound : os.QueryAttributes(name, &attr);
  if (found != platform::kOk) {
    return Status::Error("Unable to open " + name + ", rc=" + Hex8(static_cast<std::uint32_t>(found.code())),
                         name + ": " + platform::ReasonText(found));
  }
  platform::TextReader reader;
  if (const platform::Result rc = reader.Open(name); rc != platform::kOk) return ConfigFault(name, rc, LW_FAULT(rc));

  config = MoverConfig();
  ConfigFiles files(config);
  if (const platform::Result error = files.ReadLines(reader, name); error != platform::kOk) {
    return ConfigFault(name, error, LW_FAULT(error));
  }
  if (const platform::Result rc = reader.Close(); rc != platform::kOk) return ConfigFault(name, rc, LW_FAULT(rc));
  CheckRuleKinds(config, config.problems);
  CheckUnreachableRules(config, config.problems);
  std::stable_sort(config.problems.begin(), config.problems.end(),
                   [](const ConfigProblem& a, const ConfigProblem& b) { return a.sequence < b.sequence; });
  return Status();
}

Status CheckSettings(const MoverConfig& config) {
  if (config.NetmailAreas.count() == 0) return Status::Error("Path to netmail inbox not set. Please fix it.");
  if (config.UseLastRead && config.UserNumber == 0) {
    return Status::Error("Please set some number in UserNumber, not ZERO.");
  }
  return Status();
}

}  // namespace lw
