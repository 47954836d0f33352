// One moment of local time: what the clock reads (platform::Platform::Now)
// and what a message's dates hold.  A plain struct with no dependencies, so
// the platform layer and the date conversions (dates.h) share it.
#pragma once

#include <cstdint>

namespace lw {

struct MsgDateTime {
  std::int32_t Hour = 0, Min = 0, Sec = 0, Sec100 = 0;
  std::int32_t Day = 0, Month = 0, Year = 0;
};

}  // namespace lw
