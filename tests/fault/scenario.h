// The small run that every fault loop repeats: one netmail area of five
// messages, moved (MOVE YES) by name rules into a Squish base, a JAM base
// and a *.MSG folder, one message killed and one kept.  The Squish and JAM
// destinations exist before the run and hold one older message each; the
// *.MSG destination is created by the run.  With USELASTREAD two messages
// no rule picks come first, already read (the lastread number and the
// last-MSGID file name the second, so the run starts behind them), and one
// more comes last.
#pragma once

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
  std::string home;  // area identifier of its destination (kMoved, kAlreadyThere)
};

struct Scenario {
  std::string root;         // the scratch folder everything lives in
  std::string config_path;  // the configuration file of the run
  std::string source;       // area identifier of the netmail area
  std::vector<std::string> destinations;
  std::vector<ScenarioMessage> messages;
  bool use_lastread = false;
  std::int32_t user = 0;  // USERNUMBER of the run when `use_lastread`

  // The netmail area and every destination.
  std::vector<std::string> Areas() const;
};

// Writes the scenario into the existing empty folder `root`; the netmail
// area is of the format of `source_letter` ('M', 'S' or 'J').  Uses the
// platform in use, so call it before a fault is installed.
Scenario WriteScenario(const std::string& root, char source_letter, bool use_lastread = false);

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
