// --repair: the whole check of one message base, on demand.
#pragma once

#include <string>
#include <vector>

#include "errreport/status.h"

namespace lw {

// Takes the run lock of the area `area_id` names, opens its base with the
// whole check (every message's record and header, whatever the cheap
// tests of a normal open say), repairs what is out of line and closes it.
// `repairs` gets one line per thing found and mended (empty when the base
// was sound).  An error when the identifier names no format, another run
// holds the area, or the base does not open or close.
Status RepairArea(const std::string& area_id, std::vector<std::string>& repairs);

}  // namespace lw
