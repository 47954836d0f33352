// The small run that every fault loop repeats: one netmail area of five
// messages, moved (MOVE YES) by name rules into a Squish base, a JAM base
// and a *.MSG folder, one message killed and one kept.  The Squish and JAM
// destinations exist before the run and hold one older message each; the
// *.MSG destination is created by the run.
#pragma once

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

  // The netmail area and every destination.
  std::vector<std::string> Areas() const;
};

// Writes the scenario into the existing empty folder `root`; the netmail
// area is of the format of `source_letter` ('M', 'S' or 'J').  Uses the
// platform in use, so call it before a fault is installed.
Scenario WriteScenario(const std::string& root, char source_letter);

// What the bases hold after a run.
struct Inspection {
  Violations damage;                 // broken invariants, "<area>: <what>"
  std::vector<std::string> lost;     // messages found nowhere they may be
  std::vector<std::string> refused;  // areas that do not open or not whole
  std::vector<std::string> undone;   // the job is not complete (see below)
  int most_copies = 0;               // the most copies of one message in its home
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

}  // namespace lw::test
