#include "app/config.h"

#include <string>

#include "errreport/exit_report.h"
#include "fidoutil/cp866.h"
#include "fidoutil/helpers.h"
#include "log/log_file.h"
#include "platform/text_file.h"

namespace lw {

namespace {

MoverConfig g_config;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}


// One line as the reader sees it: comment and TABs handled, then folded.
// `plain` keeps the written case for path values.
struct ConfigLine {
  ShortStr plain;
  ShortStr folded;

  explicit ConfigLine(std::string_view raw) {
    ShortStr cut(raw);
    for (std::size_t i = 0; i < cut.size() && cut[i] != ';'; ++i) {
      plain += cut[i] == '\t' ? ' ' : cut[i];
    }
    folded = UpCase866(plain.view());
  }
  bool StartsWith(std::string_view key) const { return folded.view().substr(0, key.size()) == key; }
  std::string_view Rest(std::string_view key) const { return folded.view().substr(key.size()); }
  std::string_view PathRest(std::string_view key) const {
    return (platform::kFoldConfigPaths ? folded : plain).view().substr(key.size());
  }
};

// The name part and target of a rule line: the first comma-separated word,
// and everything after the first comma.
struct RuleParts {
  ShortStr name;
  ShortStr target;
};

RuleParts SplitRule(const ConfigLine& line, std::string_view key) {
  std::string_view rest = line.Rest(key);
  std::string_view plain_rest = line.PathRest(key);
  RuleParts parts;
  parts.name = Trim(ExtractWord(1, rest, ",").view());
  std::size_t comma = rest.find(',');
  if (comma != std::string_view::npos) parts.target = Trim(plain_rest.substr(comma + 1));
  return parts;
}

bool AppendNameRule(RuleList<NameRule>& list, const ConfigLine& line, std::string_view key) {
  if (list.Full()) return false;
  RuleParts parts = SplitRule(line, key);
  list.Append(new NameRule{parts.name.Left(kMaxNameLength), parts.target});
  return true;
}

bool AppendAddressRule(RuleList<AddressRule>& list, const ConfigLine& line, std::string_view key) {
  if (list.Full()) return false;
  RuleParts parts = SplitRule(line, key);
  auto* rule = new AddressRule{};
  ParseFidoAddress(parts.name.view(), rule->address);
  rule->target = parts.target;
  list.Append(rule);
  return true;
}

bool AppendName(RuleList<ShortStr>& list, std::string_view value) {
  if (list.Full()) return false;
  list.Append(new ShortStr(value));
  return true;
}

void SetPriority(MoverConfig& config, std::string_view rest) {
  for (int i = 0; i < 5; ++i) {
    config.Priority[i] = Trim(ExtractWord(i + 1, rest, " ").view()).substr(0, kMaxPriorityWord);
  }
}

}  // namespace

void MoverConfig::ReleaseLists() {
  NetmailAreas.Release();
  ToRules.Release();
  FromRules.Release();
  ToAddrRules.Release();
  FromAddrRules.Release();
  NotTouchNames.Release();
}

MoverConfig& Config() { return g_config; }

bool ApplyConfigLine(MoverConfig& config, std::string_view raw) {
  ConfigLine line(raw);
  if (line.StartsWith("NETMAIL ")) return AppendName(config.NetmailAreas, Trim(line.PathRest("NETMAIL ")));
  if (line.StartsWith("TO ")) return AppendNameRule(config.ToRules, line, "TO ");
  if (line.StartsWith("FROM ")) return AppendNameRule(config.FromRules, line, "FROM ");
  if (line.StartsWith("TOADDR ")) return AppendAddressRule(config.ToAddrRules, line, "TOADDR ");
  if (line.StartsWith("FROMADDR ")) return AppendAddressRule(config.FromAddrRules, line, "FROMADDR ");
  if (line.StartsWith("MOVE ")) {
    config.MoveMode = Trim(line.Rest("MOVE ")) == "YES";
  } else if (line.StartsWith("NOT_TOUCH ")) {
    return AppendName(config.NotTouchNames, Trim(line.Rest("NOT_TOUCH ")).substr(0, kMaxNameLength));
  } else if (line.StartsWith("USELASTREAD ")) {
    config.UseLastRead = Trim(line.Rest("USELASTREAD ")) == "YES";
  } else if (line.StartsWith("USERNUMBER ")) {
    StrToLongInt(Trim(line.Rest("USERNUMBER ")), config.UserNumber);
  } else if (line.StartsWith("PRIORITY ")) {
    SetPriority(config, line.Rest("PRIORITY "));
  } else if (line.StartsWith("DON'T_TOUCH_LOCAL_AND_UNSENT_MAIL ")) {
    config.KeepLocalUnsent = Trim(line.Rest("DON'T_TOUCH_LOCAL_AND_UNSENT_MAIL ")) == "YES";
  } else if (line.StartsWith("LOG ")) {
    config.LogFileName = Trim(line.PathRest("LOG "));
  }
  return true;
}

void ReadConfiguration(int argc, const char* const* argv) {
  if (argc < 2) {
    ConsoleLine("Usage: LARKWAY.EXE configname");
    platform::ExitProcess(0);
  }
  ShortStr name(argv[1]);
  std::uint32_t attr = 0;
  if (name.empty() || platform::Os().QueryAttributes(name.view(), &attr) != platform::kOk) {
    ConsoleError(ShortStr("Unable to open ") + name + ", rc=" + Hex8(0));
  }
  platform::TextReader reader;
  if (int rc = reader.Open(name.view()); rc != platform::kOk) LW_RUN_ERROR(rc);

  MoverConfig& config = Config();
  config.ReleaseLists();
  config = MoverConfig();
  std::string raw;
  int error = platform::kOk;
  int line_number = 0;
  while (reader.ReadLine(&raw, &error)) {
    ++line_number;
    if (!ApplyConfigLine(config, raw)) {
      ConsoleWarning(ShortStr("More than 100 entries of one key, line ") + IntToStr(line_number) +
                     " ignored: " + ShortStr(raw));
    }
  }
  if (error != platform::kOk) LW_RUN_ERROR(error);
  if (int rc = reader.Close(); rc != platform::kOk) LW_RUN_ERROR(rc);

  bool has_log = !config.LogFileName.empty();
  LogFile& log = InitTheLog(config.LogFileName, has_log, has_log);
  log.LogOnly('>', kProgramTitle, "started");
  if (config.NetmailAreas.count == 0) log.Error(kProductTag, "Path to netmail inbox not set. Please fix it.");
  if (config.UseLastRead && config.UserNumber == 0) {
    log.Error(kProductTag, "Please set some number in UserNumber, not ZERO.");
  }
}

}  // namespace lw
