// The scan of one netmail area.
#pragma once

#include <cstdint>

#include "fidoutil/short_str.h"

namespace lw {

struct AreaScanResult {
  bool nothing_to_scan = false;
  std::int32_t found_count = 0;  // messages the rules picked
};

// Walks the area's messages, has the rules judge each, copies and removes
// the picked ones, and stores where it stopped.  Ends the run through the
// log's Error on failure.
AreaScanResult ScanArea(const ShortStr& area_id);

}  // namespace lw
