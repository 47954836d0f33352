#include "app/run_driver.h"

#include "app/area_scan.h"
#include "app/config.h"
#include "app/run.h"
#include "errreport/exit_report.h"
#include "fidoutil/address.h"
#include "platform/platform.h"

namespace lw {

namespace {

void WriteBanner() {
  std::string banner = "Larkway/WIN32 1.07, netmail sorter for FidoNet message bases";
  banner += platform::kLineEnd;
  ConsoleLine(banner);
}

// Reads the settings and opens the log; the log's start line follows.
Status Prepare(Run& run, const std::string& config_name) {
  LW_RETURN_IF_ERROR(ReadConfiguration(config_name, run.config));
  if (!run.config.LogFileName.empty()) LW_RETURN_IF_ERROR(run.log.Open(run.config.LogFileName));
  run.log.LogOnly('>', kProgramTitle, "started");
  return CheckSettings(run.config);
}

Status ScanAreas(Run& run) {
  const RuleList<std::string>& areas = run.config.NetmailAreas;
  for (int i = 0; i < areas.count(); ++i) {
    const std::string& area = *areas.items[i];
    run.log.Say(' ', kProductTag, "Scanning " + area.substr(area.empty() ? 0 : 1));
    AreaScanResult result;
    LW_RETURN_IF_ERROR(ScanArea(run, area, result));
    if (result.nothing_to_scan) {
      run.log.Say(' ', kProductTag, "Nothing to scan !");
    } else {
      run.log.Say('*', kProductTag, IntToStr(result.found_count) + " message(s) founded");
    }
  }
  return Status();
}

// The one exit point: reports a failure as the console and the log expect
// it and turns it into the exit code.
int Finish(Run& run, const Status& status) {
  if (status.ok()) return 0;
  if (status.is_fault()) {
    WriteFaultReport(status.exit_code(), status.file(), status.line());
  } else {
    run.log.Error(kProductTag, status.text());
  }
  return status.exit_code();
}

}  // namespace

int RunMover(int argc, const char* const* argv) {
  ArmExitReport();
  WriteBanner();
  platform::Os().ConsoleSetColor(7);
  if (argc < 2) {
    ConsoleLine("Usage: LARKWAY.EXE configname");
    return 0;
  }
  Run run;
  Status status = Prepare(run, argv[1]);
  // Heap in use from here on is the scan's own; a clean scan gives it all back.
  const std::int64_t heap_at_start = platform::HeapInUse();
  if (status.ok()) status = ScanAreas(run);
  if (status.ok()) {
    std::string().swap(run.latest_msgid_line);
    const std::int64_t leak = platform::HeapInUse() - heap_at_start;
    run.log.LogOnly('i', kProductTag, "Memory leak is " + IntToStr(static_cast<std::int32_t>(leak)) + " bytes.");
  }
  return Finish(run, status);
}

}  // namespace lw
