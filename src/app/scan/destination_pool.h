// The destinations of one netmail area's scan, kept open from message to
// message: each is opened (or created) once, takes part in the scan's
// batches, and is closed again after a bounded hold so that another
// program waiting for its lock gets its turn.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "errreport/status.h"
#include "msgbase/area.h"
#include "platform/platform.h"

namespace lw {

using PoolClock = std::chrono::steady_clock;

// How long a destination stays open: about `hold` since it was opened, or
// `hold_messages` messages written into it, whichever comes first.  The
// time is what another program waiting for the lock sees.  The message
// count is only a backstop, and a large one: every open checks the whole
// base (Squish and JAM read a header per message), so closing after a few
// hundred messages would make a long move into a large base quadratic.
struct HoldLimits {
  PoolClock::duration hold = std::chrono::seconds(1);
  std::int32_t hold_messages = 16384;
};

class DestinationPool {
 public:
  explicit DestinationPool(
      HoldLimits limits = HoldLimits(), std::function<PoolClock::time_point()> now = [] { return platform::Os().SteadyNow(); })
      : limits_(limits), now_(std::move(now)) {}
  // Closes every base still open (a batch still open is committed by the
  // close); failures are not reported here: the exit paths that get here
  // already report an error.
  ~DestinationPool();
  DestinationPool(const DestinationPool&) = delete;
  DestinationPool& operator=(const DestinationPool&) = delete;

  // The open base of the area `area_id` names, opened or created on its
  // first use since it was last closed, and in a batch (BeginBatch) from
  // its first use after a commit.  `base` stays valid until the pool
  // closes it.  Fails with "unable to open destination messagebase - X"
  // when the area cannot be opened or created.
  Status Use(const std::string& area_id, MessageBase*& base);
  // Counts a message written into the base of `area_id` (towards its hold).
  void CountMessage(const std::string& area_id);
  // CommitBatch on every base used since the last commit, all of them even
  // after one fails.  Fails with "unable to close destination messagebase
  // - X" for the first that could not make its batch durable.
  Status CommitAll();
  // Closes every base held beyond its hold (`all`: every base).  Fails
  // with "unable to close destination messagebase - X" for the first that
  // does not close cleanly; the others are closed all the same.
  Status Close(bool all);
  // The spelling of `area_id` the pool goes by: the first spelling of the
  // same base (AreaIdentity) it was asked about, so that a base that rules
  // name in two spellings is opened once, and its copies are counted,
  // journaled and logged under one name.
  const std::string& SpellingOf(const std::string& area_id);
  // Whether the pool holds the base of `area_id` open.
  bool IsOpen(const std::string& area_id) const { return open_.count(area_id) != 0; }

 private:
  struct Held {
    MsgBasePtr base;
    PoolClock::time_point opened;
    std::int32_t messages = 0;
    bool in_batch = false;
  };

  HoldLimits limits_;
  std::function<PoolClock::time_point()> now_;
  std::map<std::string, Held> open_;
  std::map<std::string, std::string> spelling_;           // as written -> as the pool goes by it
  std::map<std::string, std::string> first_spelling_of_;  // identity -> as the pool goes by it
};

}  // namespace lw
