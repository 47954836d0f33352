// The run lock of a netmail area: while one run scans an area, a second
// run on the same area waits for it, then gives up with an error.  The
// lock is separate from the byte locks other FidoNet programs take, so it
// never keeps them out.
#pragma once

#include <string>

#include "errreport/status.h"
#include "platform/platform.h"

namespace lw {

// How long a second run waits for the area.
inline constexpr int kAreaLockWaitMs = 10000;

class AreaLock {
 public:
  AreaLock() = default;
  ~AreaLock();  // releases the lock
  AreaLock(const AreaLock&) = delete;
  AreaLock& operator=(const AreaLock&) = delete;

  // Takes the lock of the area `area_id` names: its folder for a *.MSG
  // area, the data file of a Squish base, the header file of a JAM base.
  // An area that does not exist or cannot be read is not locked (opening
  // it reports that, with the reason).
  // Fails (Status::TryLater) when another run holds the lock longer than
  // kAreaLockWaitMs.
  Status Acquire(const std::string& area_id);

 private:
  platform::FileHandle lock_ = platform::kNoFile;
};

}  // namespace lw
