// The copy journal of a netmail area: what a move may have copied into a
// destination without the source being deleted yet, so that the next run
// recognises those copies instead of making them again.
//
// A record says "destination D held messages up to number P": every copy
// made into D since then is among D's messages after P.  A record is
// written and synced before the first copy into D can become durable, and
// the journal is dropped once every source the run moved was deleted and
// committed.  The journal lives beside the area with its last-MSGID file,
// so every run and every user working the area, under any spelling of its
// path, finds the same journal.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "errreport/status.h"
#include "msgbase/message_base.h"

namespace lw {

// The journal's file for the netmail area `area_id`: "journal" inside a
// *.MSG folder, the base path followed by ".journal" for a Squish or JAM
// base, "journal" in the current folder for an empty path.
std::string CopyJournalFileName(const std::string& area_id);

class CopyJournal {
 public:
  // The journal kept in `file_name` (nothing is read before Load).
  explicit CopyJournal(std::string file_name) : file_name_(std::move(file_name)) {}

  // Reads the records of the file (none when it does not exist).  A line
  // that is not a whole record is passed over.  Fails when the file exists
  // but cannot be read.
  Status Load();
  // The lowest mark recorded for `dest`; false when none is.
  bool MarkOf(const std::string& dest, MsgNum& mark) const;
  // Adds the record "`dest` held messages up to `mark`" and makes it
  // durable: the whole journal is written and synced under a scratch name
  // that then takes the file's place, and the folder is synced, so a crash
  // leaves the old records or the new ones.  Fails naming the file and the
  // system's reason, with the records as they were.
  Status Record(const std::string& dest, MsgNum mark);
  // Deletes the file when it holds records, with its folder synced, and
  // forgets them.  Fails naming the file.
  Status Drop();
  // True when no record is known.
  bool empty() const { return marks_.empty(); }

 private:
  std::string file_name_;
  std::map<std::string, MsgNum> marks_;
};

// The digests of the messages a journal's records cover: for each
// destination, those of its messages after the recorded mark, read once
// before the run copies anything into it.
class KnownCopies {
 public:
  // Reads `dest` (open in `base`) after its mark in `journal`, once per
  // destination; nothing when the journal has no record of it.  The walk
  // position of `base` is left unspecified.  A message that cannot be read
  // is passed over (its copy, if it is one, is made again).
  void LoadOnce(const CopyJournal& journal, const std::string& dest, MessageBase& base);
  // True, and the digest taken out (each copy stands for one source), when
  // `dest` holds a copy with `digest`.
  bool Take(const std::string& dest, std::uint64_t digest);
  // True when `dest` still holds a copy not taken (so a digest is worth
  // taking at all).
  bool HoldsAny(const std::string& dest) const;

 private:
  std::unordered_set<std::string> loaded_;
  std::unordered_map<std::string, std::unordered_multiset<std::uint64_t>> digests_;
};

}  // namespace lw
