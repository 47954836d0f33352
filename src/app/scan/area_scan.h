// The scan of one netmail area.
#pragma once

#include <cstdint>
#include <string>

#include "app/scan/run.h"
#include "errreport/status.h"

namespace lw {

struct AreaScanResult {
  bool nothing_to_scan = false;
  std::int32_t found_count = 0;       // messages the rules picked
  std::int32_t kept_count = 0;        // messages judged and left where they are
  std::int32_t unreadable_count = 0;  // messages left alone because they could not be read whole
};

// Walks the area's messages, has the rules judge each, copies and removes
// the picked ones, and stores where it stopped.  The area is held by its
// run lock for the whole scan.  A message that cannot be read is reported
// with a warning and left alone (and the place where the scan stopped is
// then not stored, so the next run looks at it again).  A stop request
// (platform::StopRequest) ends the walk after the message in hand, which
// then settles and stores as the end of the area does.  Fails, with every
// base closed and the current message left in its area, when the area
// cannot be opened, a copy cannot be made durable, or the place where the
// scan stopped cannot be stored.
Status ScanArea(Run& run, const std::string& area_id, AreaScanResult& result);

}  // namespace lw
