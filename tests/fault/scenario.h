// The small run that every fault loop repeats: one netmail area of five
// messages, moved (MOVE YES) by name rules into a Squish base, a JAM base
// and a *.MSG folder, one message killed and one kept.  The Squish and JAM
// destinations exist before the run and hold one older message each; the
// *.MSG destination is created by the run.  With USELASTREAD two messages
// no rule picks come first, already read (the lastread number and the
// last-MSGID file name the second, so the run starts behind them), and one
// more comes last.
//
// The broad scenario (WriteBroadScenario) is the same run grown to what a
// real one meets: several hundred messages in the first netmail area, so
// that they take several batches; a second netmail area of another format;
// a rule with three targets, one of each format; USELASTREAD; and a clock
// that jumps past the batch and hold limits part way, so that a batch ends
// by its age and the destinations, held past their limit, are closed and
// opened again.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "fault/base_checker.h"

namespace lw::test {

// Where a message of the scenario belongs once the run is done.
enum class Fate { kMoved, kKilled, kKept, kAlreadyThere };

struct ScenarioMessage {
  MessageIdentity identity;
  Fate fate = Fate::kKept;
  std::string source;              // area identifier of the netmail area it starts in ("" for kAlreadyThere)
  std::vector<std::string> homes;  // area identifiers of its destinations (kMoved: one copy in each; kAlreadyThere)
};

struct Scenario {
  std::string root;                  // the scratch folder everything lives in
  std::string config_path;           // the configuration file of the run
  std::vector<std::string> sources;  // area identifiers of the netmail areas, in the order they are scanned
  std::vector<std::string> destinations;
  std::vector<std::string> made_by_run;  // the destinations the run creates (missing before it reaches them)
  std::vector<ScenarioMessage> messages;
  bool use_lastread = false;
  std::int32_t user = 0;  // USERNUMBER of the run when `use_lastread`
  // The run's clock stands still but for one jump of kClockJump, at the
  // `clock_jump_at`-th file created in the folder `clock_jump_in` (0: the
  // clock is left alone).
  std::string clock_jump_in;
  std::int64_t clock_jump_at = 0;

  // The netmail areas and every destination.
  std::vector<std::string> Areas() const;
  bool IsSource(const std::string& area_id) const;
};

// The jump of the broad scenario's clock: past the batch's age limit and
// the destinations' hold.
inline constexpr std::chrono::seconds kClockJump{2};

// Writes the scenario into the existing empty folder `root`; the netmail
// area is of the format of `source_letter` ('M', 'S' or 'J').  Uses the
// platform in use, so call it before a fault is installed.
Scenario WriteScenario(const std::string& root, char source_letter, bool use_lastread = false);

// Writes the broad scenario into the existing empty folder `root`: its
// first netmail area is of the format of `source_letter`, its second of
// the next format.  Uses the platform in use.
Scenario WriteBroadScenario(const std::string& root, char source_letter);

// What the bases hold after a run.
struct Inspection {
  Violations damage;                 // broken invariants, "<area>: <what>"
  // Messages found nowhere they may be, and (USELASTREAD) messages still
  // to be handled that the next run skips: at or below a lastread number
  // whose message has the MSGID the last-MSGID file holds.
  std::vector<std::string> lost;
  std::vector<std::string> refused;  // areas that do not open or not whole
  std::vector<std::string> undone;   // the job is not complete (see below)
  // Messages where they do not belong: unknown to the scenario, in a
  // destination that is not their home, or killed and found in a base.
  std::vector<std::string> misplaced;
  int most_copies = 0;  // the most copies of one message in one area
  // Each area's messages with what a copy must keep (date, attributes,
  // kludges), to compare with a run that met no fault.
  std::map<std::string, MessageDetails> details;
};

// Reads every area of the scenario.  `lost` lists each message that is
// neither in the netmail area nor in its home (killed messages may be
// gone); `undone` each moved message that is not in its home or still in
// the netmail area, each killed message still there, and each kept or
// older message that is not exactly once where it was.
Inspection Inspect(const Scenario& s);

// All findings of an inspection in one text ("" when there are none),
// leaving out the job check when `job_done_too` is false.
std::string Findings(const Inspection& i, bool job_done_too);

// Each message whose copies differ in date, attributes or kludges from
// those `reference` (a run without a fault) holds, "<area>: <what>".
std::vector<std::string> ChangedFrom(const Inspection& reference, const Inspection& now);

}  // namespace lw::test
