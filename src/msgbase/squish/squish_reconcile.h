// Bringing a Squish base that a crash (or another program) left part way
// through an update back in line when it is opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "msgbase/squish/squish_layout.h"
#include "stream/stream.h"

namespace lw::squish {

enum class Reconciled { kConsistent, kRepaired, kFailed };

// How far ReconcileBase looks before it takes the base for consistent.
enum class Depth {
  // The header, the index in memory, the last message frame and the ends
  // of the free chain; the whole check only when one of them, or the
  // change marker, says the base may be damaged.
  kCheap,
  // Every frame of both chains, whatever the header says.
  kFull,
};

// What a repair found out of line and changed.
struct Findings {
  bool marker = false;            // the header said a change had stopped part way
  std::size_t records_found = 0;  // index records on disk
  std::size_t records_kept = 0;   // of them, those of whole messages
  std::uint32_t count_was = 0;    // num_msg in the header
  std::uint32_t count_now = 0;
  std::int64_t data_was = 0;  // data file size
  std::int64_t data_now = 0;
  std::size_t frames_relinked = 0;  // frame headers rewritten (links, type)
};

// Reads the base header of `sqd` into `base` and checks it, and both
// chains (as far as `depth` says), against the index `sqi`.  A header
// carrying the change marker is always checked whole, and the marker is
// taken out (synced) by the repair.  When they disagree the base is
// repaired (see squish_reconcile.cpp for what is kept) and the repair is
// synced; a data file without a whole header and an empty index is
// completed with `fresh`.  kFailed when a read, write or sync failed or
// the base cannot be repaired without dropping messages it may hold.
// `found`, when given, tells what a repair changed.  When the base is
// consistent, `index` (when given) gets the index records read, so the
// caller need not read them again; else it is left empty.
Reconciled ReconcileBase(Stream& sqd, Stream& sqi, const BaseHeader& fresh, BaseHeader& base, Depth depth,
                         Findings* found = nullptr, std::vector<IndexRecord>* index = nullptr);

}  // namespace lw::squish
