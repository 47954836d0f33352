#include "app/run_driver.h"

#include "app/area_scan.h"
#include "app/config.h"
#include "errreport/exit_report.h"
#include "log/log_file.h"
#include "msgbase/area.h"
#include "platform/platform.h"

namespace lw {

namespace {

void WriteBanner() {
  std::string banner = "Larkway/WIN32 1.07, netmail sorter for FidoNet message bases";
  banner += platform::kLineEnd;
  ConsoleLine(banner);
}

}  // namespace

int RunMover(int argc, const char* const* argv) {
  ArmExitReport();
  const std::int64_t heap_at_start = platform::HeapInUse();
  WriteBanner();
  platform::Os().ConsoleSetColor(7);
  ReadConfiguration(argc, argv);
  LogFile& log = *TheLog();
  InstallStreamFactories();

  MoverConfig& config = Config();
  for (int i = 0; i < config.NetmailAreas.count; ++i) {
    const ShortStr& area = *config.NetmailAreas.items[i];
    log.Say(' ', kProductTag, ShortStr("Scanning ") + area.view().substr(area.empty() ? 0 : 1));
    AreaScanResult result = ScanArea(area);
    if (result.nothing_to_scan) {
      log.Say(' ', kProductTag, "Nothing to scan !");
    } else {
      log.Say('*', kProductTag, IntToStr(result.found_count) + " message(s) founded");
    }
  }

  config.ReleaseLists();
  const std::int64_t leak = platform::HeapInUse() - heap_at_start;
  log.LogOnly('i', kProductTag, ShortStr("Memory leak is ") + IntToStr(static_cast<std::int32_t>(leak)) + " bytes.");
  return 0;
}

}  // namespace lw
