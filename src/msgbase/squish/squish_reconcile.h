// Bringing a Squish base that a crash (or another program) left part way
// through an update back in line when it is opened.
#pragma once

#include "msgbase/squish/squish_layout.h"
#include "stream/stream.h"

namespace lw::squish {

enum class Reconciled { kConsistent, kRepaired, kFailed };

// Reads the base header of `sqd` into `base` and checks it, and both
// chains, against the index `sqi`.  When they disagree the base is
// repaired (see squish_reconcile.cpp for what is kept) and the repair is
// synced; a data file without a whole header and an empty index is
// completed with `fresh`.  kFailed when a read, write or sync failed or
// the base cannot be repaired without dropping messages it may hold.
Reconciled ReconcileBase(Stream& sqd, Stream& sqi, const BaseHeader& fresh, BaseHeader& base);

}  // namespace lw::squish
