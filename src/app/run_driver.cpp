#include "app/run_driver.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/command_options.h"
#include "app/config/config.h"
#include "app/scan/area_repair.h"
#include "app/scan/area_scan.h"
#include "app/scan/json_report.h"
#include "app/scan/run.h"
#include "errreport/exit_report.h"
#include "fidoutil/address.h"
#include "msgbase/area.h"
#include "platform/platform.h"
#include "platform/read_only_platform.h"

namespace lw {

namespace {

constexpr int kExitCheckProblems = 1;
constexpr int kExitUsage = 2;
// A run a signal stopped exits with this plus the signal's number, as a
// shell reports a process the signal ended.
constexpr int kExitSignalBase = 128;

// `text` written with this system's console line ends.
std::string WithLineEnds(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += platform::kLineEnd;
    } else {
      out += c;
    }
  }
  return out;
}

void WriteBanner() {
  std::string banner = ProgramTitle() + ", netmail sorter for FidoNet message bases";
  banner += platform::kLineEnd;
  ConsoleLine(banner);
}

// Each problem of the configuration as "larkway: file:line: kind: text"
// (the file an included line is in, or `config_name`; file:line:column
// where a column is known): a run calls every
// one a warning, --check tells errors from warnings.  Returns how many are
// errors.
std::int32_t ReportProblems(const std::string& config_name, const MoverConfig& config, bool check) {
  std::int32_t errors = 0;
  for (const ConfigProblem& p : config.problems) {
    const bool error = check && p.level == ProblemLevel::kError;
    if (p.level == ProblemLevel::kError) ++errors;
    std::string place = (p.file.empty() ? config_name : p.file) + ":" + IntToStr(p.line_number);
    if (p.column > 0) place.append(":").append(IntToStr(p.column));
    Diagnose(place + ": " + (error ? "error" : "warning") + ": " + p.text);
  }
  return errors;
}

// --list: `area_id` is the only netmail area, walked from its first
// message whatever its lastread pointer says.  An identifier with no
// format letter is refused before anything is scanned.
Status ListOnly(MoverConfig& config, const std::string& area_id) {
  AreaKind kind = AreaKind::kNone;
  std::string path;
  ParseAreaId(area_id, kind, path);
  if (kind == AreaKind::kNone) {
    return Status::Error("not an area identifier - " + area_id, "it starts with no format letter (*, M, F, S or J)");
  }
  config.NetmailAreas.items.clear();
  config.NetmailAreas.Append(std::make_unique<std::string>(area_id));
  config.UseLastRead = false;
  return Status();
}

// Reads the settings (none for a --list without a configuration: no rule
// then picks anything) and opens the log; the log's start line follows.
Status Prepare(Run& run, const CommandOptions& options) {
  const std::string& config_name = options.config_name;
  if (!options.list || !config_name.empty()) {
    LW_RETURN_IF_ERROR(ReadConfiguration(config_name, run.config));
    ReportProblems(config_name, run.config, false);
    // Part of the rules missing could move mail the sysop wants kept.
    if (!run.config.unread_include.empty()) {
      return Status::Error("Configuration " + config_name + " not read whole", run.config.unread_include);
    }
  }
  if (options.list) LW_RETURN_IF_ERROR(ListOnly(run.config, options.list_area));
  run.log.SetUtf8(run.config.LogUtf8);
  if (!run.config.LogFileName.empty() && !run.dry_run) LW_RETURN_IF_ERROR(run.log.Open(run.config.LogFileName));
  run.log.LogOnly('>', ProgramTitle(), "started");
  return CheckSettings(run.config);
}

// Whether a stop was asked for; the log and the console are told so.
bool SaysStopped(Run& run) {
  const int signal = platform::StopRequest();
  if (signal == 0) return false;
  run.log.Say(' ', kProductTag,
              "Stopped by " + platform::StopSignalName(signal) + ", the rest is left for the next run");
  return true;
}

// Scans every netmail area in turn; `tally` adds up what each reported.
Status ScanAreas(Run& run, DryRunTally& tally) {
  const RuleList<std::string>& areas = run.config.NetmailAreas;
  for (int i = 0; i < areas.count(); ++i) {
    if (SaysStopped(run)) return Status();
    const std::string& area = *areas.items[i];
    run.log.Say(' ', kProductTag, "Scanning " + area.substr(area.empty() ? 0 : 1));
    AreaScanResult result;
    LW_RETURN_IF_ERROR(ScanArea(run, area, result));
    ++tally.areas;
    tally.picked += result.found_count;
    tally.kept += result.kept_count;
    tally.unreadable += result.unreadable_count;
    if (result.nothing_to_scan) {
      run.log.Say(' ', kProductTag, "Nothing to scan !");
    } else {
      run.log.Say('*', kProductTag, IntToStr(result.found_count) + " message(s) founded");
    }
  }
  SaysStopped(run);
  return Status();
}

// The one exit point: reports a failure as the console and the log expect
// it, and on standard error, and turns it into the exit code.
int Finish(Run& run, const Status& status) {
  if (status.ok()) return 0;
  if (status.is_fault()) {
    // The report is written without the platform's console; what the
    // console still holds comes first.
    platform::Os().ConsoleFlush();
    WriteFaultReport(status.exit_code(), status.file(), status.line());
    const std::string what = !status.text().empty() ? status.text()
                                                    : "run-time fault " + IntToStr(status.exit_code()) + " (" +
                                                          status.file() + ", line " + IntToStr(status.line()) + ")";
    Diagnose(WithCause(
        what, !status.cause().empty() ? status.cause() : platform::ReasonText(platform::Result(status.exit_code()))));
  } else {
    run.log.Error(kProductTag, status.text(), status.cause());
  }
  return status.exit_code();
}

// --check: reads the configuration only and reports every problem on
// standard error; the console gets one line of outcome.
int CheckConfiguration(const std::string& config_name) {
  MoverConfig config;
  Status status = ReadConfiguration(config_name, config);
  if (!status.ok()) {
    Diagnose(status.Described());
    return kExitCheckProblems;
  }
  std::int32_t errors = ReportProblems(config_name, config, true);
  std::int32_t count = static_cast<std::int32_t>(config.problems.size());
  if (Status settings = CheckSettings(config); !settings.ok()) {
    Diagnose(config_name + ": error: " + settings.text());
    ++errors;
    ++count;
  }
  if (count == 0) {
    ConsoleLine(config_name + ": no problems found");
  } else if (errors == 0) {
    ConsoleLine(config_name + ": " + IntToStr(count) + " warning(s) found");
  } else {
    ConsoleLine(config_name + ": " + IntToStr(count) + " problem(s) found");
  }
  return errors == 0 ? 0 : kExitCheckProblems;
}

// --repair: the whole check of one base; the console gets a line per
// thing mended, or that the base is sound.
int RepairOneArea(const std::string& area_id) {
  std::vector<std::string> repairs;
  Status status = RepairArea(area_id, repairs);
  if (!status.ok()) {
    Run run;
    return Finish(run, status);
  }
  for (const std::string& line : repairs) ConsoleLine(WithCause(area_id, line));
  ConsoleLine(area_id + (repairs.empty() ? ": sound, nothing to repair" : ": repaired"));
  return 0;
}

// A scan, real or dry, of every netmail area the configuration names (of
// the one area --list names).  A
// stop signal ends it after the message in hand, with everything done so
// far settled and the log closed as at the end, and 128 + the signal's
// number as the exit code.  A --json run that scanned to its end, or to
// the stop, closes its report with the summary object.
int RunAreas(const CommandOptions& options) {
  const platform::StopWatch stop_watch;
  const bool dry_run = options.dry_run || options.list;
  // A dry run goes through a platform that refuses every change, so not
  // even the repair of a damaged base that opening it would make is written.
  platform::ReadOnlyPlatform read_only(platform::Os());
  std::optional<platform::ScopedPlatform> dry;
  if (dry_run) dry.emplace(&read_only);
  Run run;
  run.dry_run = dry_run;
  run.json = options.json;
  run.log.KeepLastLogOnlyText(dry_run);
  Status status = Prepare(run, options);
  // Heap in use from here on is the scan's own; a clean scan gives it all back.
  const std::int64_t heap_at_start = platform::HeapInUse();
  DryRunTally tally;
  if (status.ok()) status = ScanAreas(run, tally);
  if (status.ok() && run.json) {
    const int signal = platform::StopRequest();
    ConsoleReport(JsonSummaryLine(tally, signal == 0 ? std::string() : platform::StopSignalName(signal)));
  }
  if (status.ok()) {
    std::string().swap(run.latest_msgid_line);
    const std::int64_t leak = platform::HeapInUse() - heap_at_start;
    run.log.LogOnly('i', kProductTag, "Memory leak is " + IntToStr(static_cast<std::int32_t>(leak)) + " bytes.");
  }
  const int code = Finish(run, status);
  const int signal = platform::StopRequest();
  return code == 0 && signal != 0 ? kExitSignalBase + signal : code;
}

int Dispatch(const CommandOptions& options, const std::string& program) {
  platform::Platform& os = platform::Os();
  if (!options.error.empty()) {
    os.ErrorWrite(WithLineEnds("larkway: " + options.error + "\n" + UsageText(program, true) + "\n"));
    return kExitUsage;
  }
  if (options.help) {
    os.ConsoleWrite(WithLineEnds(HelpText(program)));
    return 0;
  }
  if (options.version) {
    os.ConsoleWrite(WithLineEnds(VersionText()));
    return 0;
  }
  if (options.check) return CheckConfiguration(options.config_name);
  if (options.quiet) SetConsoleLevel(ConsoleLevel::kErrorsOnly);
  if (options.json) SetConsoleLevel(ConsoleLevel::kReportOnly);
  WriteBanner();
  // JSON lines stay free of colour codes, on a terminal too.
  if (!options.json) os.ConsoleSetColor(7);
  if (options.no_arguments) {
    ConsoleLine(UsageText(program, false));
    return 0;
  }
  if (options.repair) return RepairOneArea(options.repair_area);
  return RunAreas(options);
}

}  // namespace

int RunMover(int argc, const char* const* argv) {
  ArmExitReport();
  const CommandOptions options = ReadCommandOptions(argc, argv);
  const int code = Dispatch(options, platform::ProgramName(argc > 0 ? argv[0] : "larkway"));
  platform::Os().ConsoleResetColor();
  SetConsoleLevel(ConsoleLevel::kAll);
  return code;
}

}  // namespace lw
