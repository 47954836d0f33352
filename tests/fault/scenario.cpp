#include "fault/scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>

#include "app/scan/copy_journal.h"
#include "app/scan/last_msgid.h"
#include "msgbase/area.h"
#include "msgbase/fido/msg_file.h"
#include "test_util.h"

namespace lw::test {

namespace {

struct Planned {
  const char* to;
  Fate fate;
  std::vector<int> destinations;  // indices into Scenario::destinations
};

// The netmail area's messages, in the order they are stored; with
// USELASTREAD the two already read come first, and one more that stays
// comes last, so that the run leaves the lastread number on the message
// whose MSGID it stores: the next run then starts behind it.
const Planned kAlreadyRead[] = {{"Reader", Fate::kKept, {}}, {"Editor", Fate::kKept, {}}};
const Planned kLastKept = {"Keeper", Fate::kKept, {}};
const Planned kNetmail[] = {
    {"SqPoint", Fate::kMoved, {0}}, {"Spammer", Fate::kKilled, {}}, {"JamPoint", Fate::kMoved, {1}},
    {"Sysop", Fate::kKept, {}},     {"MsgPoint", Fate::kMoved, {2}},
};
// The broad scenario's rule with a target of each format.
const Planned kTriple = {"Triple", Fate::kMoved, {0, 1, 2}};
// Messages of the broad scenario's first netmail area: enough rounds of
// the small scenario's messages and one to the three targets that the
// picked ones fill a batch (256) and then some.
constexpr int kBroadRounds = 56;
// Where the broad scenario's clock jumps: at the *.MSG copy of the first
// message to it after this many picked messages, that is in the second
// batch, which then ends by its age; the third batch opens the
// destinations again.
constexpr int kPickedBeforeJump = 266;
// The serial numbers of the second netmail area's messages start here.
constexpr int kSecondAreaSerials = 1000;

MsgFile Netmail(const std::string& to, int serial) {
  MsgFile m;
  m.to = to;
  m.from = "Sender " + std::to_string(serial);
  m.subject = "Subject " + std::to_string(serial);
  char id[9];
  std::snprintf(id, sizeof id, "%08X", 0x5A000000u + static_cast<unsigned>(serial));
  m.text = "\001MSGID: 2:5020/1 " + std::string(id) + "\r\001INTL 2:5020/2 2:5020/1\rText " + std::to_string(serial) +
           " for " + to + "\r";
  return m;
}

// Stores `msgs` through the MessageBase interface, creating the area.
void Fill(const std::string& area_id, const std::vector<MsgFile>& msgs) {
  MsgBasePtr base;
  ASSERT_TRUE(OpenOrCreateArea(base, area_id)) << area_id;
  for (const MsgFile& m : msgs) {
    base->SetMsgKind(0);
    ASSERT_TRUE(base->CreateMsg());
    base->SetTo(m.to);
    base->SetFrom(m.from);
    base->SetSubj(m.subject);
    base->GetTextStream()->Write(m.text.data(), static_cast<std::int32_t>(m.text.size()));
    ASSERT_TRUE(base->WriteMsg());
    base->CloseMsg();
  }
  CloseArea(base);
}

void WriteConfig(const Scenario& s) {
  std::string text;
  for (const std::string& source : s.sources) text += "NETMAIL " + source + "\n";
  text += "MOVE YES\nPRIORITY TO\n";
  if (s.use_lastread) text += "USELASTREAD YES\nUSERNUMBER " + std::to_string(s.user) + "\n";
  const char* names[] = {"SqPoint", "JamPoint", "MsgPoint"};
  for (int i = 0; i < 3; ++i) text += "TO " + std::string(names[i]) + ", " + s.destinations[i] + "\n";
  if (s.sources.size() > 1) {
    text += "TO " + std::string(kTriple.to);
    for (const std::string& d : s.destinations) text += ", " + d;
    text += "\n";
  }
  text += "TO Spammer, KILL\nLOG " + s.root + "/lw.log\n";
  WriteFile(s.config_path, text);
}

// Leaves the netmail area `area_id` as a run that read its first `count`
// messages does: their last one (serial `serial`) is the user's lastread
// message, and its MSGID the last MSGID.
void MarkRead(const Scenario& s, const std::string& area_id, std::size_t count, int serial) {
  MsgBasePtr base;
  ASSERT_TRUE(OpenArea(base, area_id)) << area_id;
  ASSERT_TRUE(base->SetLastRead(s.user, static_cast<std::int32_t>(count)));
  CloseArea(base);
  char id[9];
  std::snprintf(id, sizeof id, "%08X", 0x5A000000u + static_cast<unsigned>(serial));
  ASSERT_TRUE(WriteLastMsgId(LastMsgIdFileName(area_id), id).ok());
}

// The whole content of the file, nothing when it does not exist.
std::optional<std::string> FileBytes(const std::string& file_name) {
  std::ifstream f(file_name, std::ios::binary);
  if (!f) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// The identifier the last-MSGID file of `area_id` holds ("" when none).
std::string StoredLastMsgId(const std::string& area_id) {
  return FileBytes(LastMsgIdFileName(area_id)).value_or("").substr(0, 8);
}

// The identifier a run compares with the last-MSGID file: the last eight
// characters of the message's MSGID line.
std::string IdOfMsgId(const std::string& msgid) { return msgid.size() > 8 ? msgid.substr(msgid.size() - 8) : msgid; }

// Each message still to be handled that the next run will not look at:
// the user's lastread message carries the stored last MSGID, so the run
// starts behind it.
void SkippedByLastRead(const Scenario& s, const std::string& area_id, const AreaContents& source,
                       std::vector<std::string>& skipped) {
  const auto at = source.by_number.find(source.lastread);
  if (at == source.by_number.end() || IdOfMsgId(at->second.msgid) != StoredLastMsgId(area_id)) return;
  for (const auto& [number, found] : source.by_number) {
    if (number > source.lastread) break;
    const auto& identity = found;  // a named reference, so the lambda can capture it
    const auto planned = std::find_if(s.messages.begin(), s.messages.end(),
                                      [&identity](const ScenarioMessage& m) { return m.identity == identity; });
    if (planned != s.messages.end() && planned->fate != Fate::kKept) {
      skipped.push_back(Describe(identity) + ": number " + std::to_string(number) + " is not above the lastread " +
                        std::to_string(source.lastread) + ", so no run will handle it");
    }
  }
}

// The state files beside the netmail area are only ever replaced whole: a
// last-MSGID file holds one identifier of eight characters (or nothing,
// written by a run that read no MSGID: one without USELASTREAD), a copy
// journal whole "<mark> <destination>" lines.
void CheckStateFiles(const Scenario& s, const std::string& area_id, Violations& damage) {
  const std::optional<std::string> msgid = FileBytes(LastMsgIdFileName(area_id));
  if (msgid && msgid->size() != 8 && (s.use_lastread || !msgid->empty())) {
    damage.push_back(area_id + ": last-MSGID file holds \"" + *msgid + "\"");
  }
  const std::optional<std::string> journal = FileBytes(CopyJournalFileName(area_id));
  if (!journal) return;
  bool whole = !journal->empty() && journal->back() == '\n';
  for (std::size_t at = 0; whole && at < journal->size(); at = journal->find('\n', at) + 1) {
    const std::size_t space = journal->find(' ', at);
    whole = space > at && space < journal->find('\n', at) &&
            std::all_of(journal->begin() + static_cast<std::ptrdiff_t>(at),
                        journal->begin() + static_cast<std::ptrdiff_t>(space), [](char c) { return c >= '0' && c <= '9'; });
  }
  if (!whole) damage.push_back(area_id + ": copy journal is not whole records: \"" + *journal + "\"");
}

// The one message of `area_id` written to `to`, as the interface reads it.
MessageIdentity StoredIdentity(const std::string& area_id, const std::string& to) {
  AreaContents c = MessagesOf(area_id);
  for (const auto& [identity, count] : c.messages) {
    if (identity.to == to) return identity;
  }
  ADD_FAILURE() << "no message to " << to << " in " << area_id;
  return {};
}

// Writes the netmail area `area_id` of format `letter` in the folder
// `dir`, holding `planned` in order (serial numbers from `first_serial`
// on), and adds its messages to the scenario.
void WriteNetmailArea(Scenario& s, const std::string& area_id, char letter, const std::string& dir,
                      const std::vector<Planned>& planned, int first_serial) {
  std::vector<MsgFile> netmail;
  for (const Planned& p : planned) netmail.push_back(Netmail(p.to, first_serial + static_cast<int>(netmail.size())));
  if (letter == 'M') {
    for (std::size_t i = 0; i < netmail.size(); ++i) {
      WriteFile(dir + "/" + std::to_string(i + 1) + ".msg", netmail[i].Bytes());
    }
  } else {
    Fill(area_id, netmail);
  }
  if (s.use_lastread) MarkRead(s, area_id, std::size(kAlreadyRead), first_serial + 1);
  // Stored in the order written: the n-th message has number n.
  const AreaContents stored = MessagesOf(area_id);
  ASSERT_EQ(stored.by_number.size(), planned.size()) << area_id;
  auto identity = stored.by_number.begin();
  for (const Planned& p : planned) {
    ScenarioMessage m{(identity++)->second, p.fate, area_id, {}};
    for (int d : p.destinations) m.homes.push_back(s.destinations[static_cast<std::size_t>(d)]);
    s.messages.push_back(m);
  }
}

// The netmail area of format `letter` in the folder `dir`.
std::string NetmailAreaId(char letter, const std::string& dir) {
  return letter == 'M' ? "M" + dir : std::string(1, letter) + dir + "/netmail";
}

// The small scenario's messages, between the already-read ones and the
// last kept one when `use_lastread`.
std::vector<Planned> Bracketed(const std::vector<Planned>& middle, bool use_lastread) {
  std::vector<Planned> planned;
  if (use_lastread) planned.assign(std::begin(kAlreadyRead), std::end(kAlreadyRead));
  planned.insert(planned.end(), middle.begin(), middle.end());
  if (use_lastread) planned.push_back(kLastKept);
  return planned;
}

// Makes the scenario's folders and destinations, with an older message in
// the Squish and JAM ones.
Scenario StartScenario(const std::string& root, bool use_lastread) {
  Scenario s;
  s.root = root;
  s.config_path = root + "/lw.cfg";
  s.use_lastread = use_lastread;
  s.user = use_lastread ? 7 : 0;
  MakeDirs(root + "/out");
  s.destinations = {"S" + root + "/out/sq", "J" + root + "/out/jam", "M" + root + "/out/msg"};
  s.made_by_run = {s.destinations[2]};
  return s;
}

void FinishScenario(Scenario& s) {
  Fill(s.destinations[0], {Netmail("Older", 101)});
  Fill(s.destinations[1], {Netmail("Older", 102)});
  WriteConfig(s);
  for (std::size_t i = 0; i < 2; ++i) {
    s.messages.push_back({StoredIdentity(s.destinations[i], "Older"), Fate::kAlreadyThere, "", {s.destinations[i]}});
  }
}

// The number of the *.MSG destination's copy of the first message bound
// for it after kPickedBeforeJump picked messages of `planned`: each copy
// creates one file there.
std::int64_t JumpCopy(const std::vector<Planned>& planned) {
  int picked = 0;
  int msg_copies = 0;
  for (const Planned& p : planned) {
    const bool to_msg = std::find(p.destinations.begin(), p.destinations.end(), 2) != p.destinations.end();
    msg_copies += to_msg;
    if (to_msg && picked >= kPickedBeforeJump) break;
    picked += p.fate == Fate::kMoved || p.fate == Fate::kKilled;
  }
  return msg_copies;
}

}  // namespace

std::vector<std::string> Scenario::Areas() const {
  std::vector<std::string> all = sources;
  all.insert(all.end(), destinations.begin(), destinations.end());
  return all;
}

bool Scenario::IsSource(const std::string& area_id) const {
  return std::find(sources.begin(), sources.end(), area_id) != sources.end();
}

Scenario WriteScenario(const std::string& root, char source_letter, bool use_lastread) {
  Scenario s = StartScenario(root, use_lastread);
  MakeDirs(root + "/net");
  s.sources = {NetmailAreaId(source_letter, root + "/net")};
  WriteNetmailArea(s, s.sources[0], source_letter, root + "/net",
                   Bracketed({std::begin(kNetmail), std::end(kNetmail)}, use_lastread), 1);
  FinishScenario(s);
  return s;
}

Scenario WriteBroadScenario(const std::string& root, char source_letter) {
  Scenario s = StartScenario(root, true);
  const char second_letter = source_letter == 'M' ? 'S' : source_letter == 'S' ? 'J' : 'M';
  MakeDirs(root + "/net");
  MakeDirs(root + "/net2");
  s.sources = {NetmailAreaId(source_letter, root + "/net"), NetmailAreaId(second_letter, root + "/net2")};
  std::vector<Planned> round = {kTriple, kNetmail[0], kNetmail[2], kNetmail[4], kNetmail[1], kNetmail[3]};
  std::vector<Planned> first;
  for (int i = 0; i < kBroadRounds; ++i) first.insert(first.end(), round.begin(), round.end());
  s.clock_jump_in = "/out/msg/";
  s.clock_jump_at = JumpCopy(first);
  WriteNetmailArea(s, s.sources[0], source_letter, root + "/net", Bracketed(first, true), 1);
  WriteNetmailArea(s, s.sources[1], second_letter, root + "/net2", Bracketed(round, true), kSecondAreaSerials);
  FinishScenario(s);
  return s;
}

namespace {

int CountIn(const std::map<std::string, AreaContents>& areas, const std::string& area_id, const MessageIdentity& m) {
  auto a = areas.find(area_id);
  if (a == areas.end()) return 0;
  auto it = a->second.messages.find(m);
  return it == a->second.messages.end() ? 0 : it->second;
}

// Whether the message `m` is lost, and whether its part of the job is
// done, by where it is now.
void JudgeMessage(const ScenarioMessage& m, const std::map<std::string, AreaContents>& areas, Inspection& r) {
  const int in_source = m.source.empty() ? 0 : CountIn(areas, m.source, m.identity);
  int homes_holding = 0;
  std::string at_homes;
  for (const std::string& home : m.homes) {
    const int copies = CountIn(areas, home, m.identity);
    homes_holding += copies > 0;
    at_homes += (at_homes.empty() ? "" : ", ") + std::to_string(copies);
  }
  const bool everywhere = homes_holding == static_cast<int>(m.homes.size());
  const std::string who = Describe(m.identity);
  // Kept messages have no home; the others are lost when a home lacks
  // their copy after the source is gone.
  if (m.fate != Fate::kKilled && in_source == 0 && (m.homes.empty() || !everywhere)) r.lost.push_back(who);
  switch (m.fate) {
    case Fate::kMoved:
      if (!everywhere || in_source != 0) {
        r.undone.push_back(who + ": " + at_homes + " in its homes, " + std::to_string(in_source) +
                           " in the netmail area");
      }
      break;
    case Fate::kKilled:
      if (in_source != 0) r.undone.push_back(who + ": still in the netmail area");
      break;
    case Fate::kKept:
      if (in_source != 1) r.undone.push_back(who + ": " + std::to_string(in_source) + " in the netmail area");
      break;
    case Fate::kAlreadyThere:
      if (at_homes != "1") r.undone.push_back(who + ": " + at_homes + " in its base");
      break;
  }
}

}  // namespace

Inspection Inspect(const Scenario& s) {
  Inspection r;
  std::map<std::string, AreaContents> areas;
  // First as any other program finds the bases right after the fault,
  // before an open of ours could repair what it left.
  for (const std::string& area : s.Areas()) {
    for (const std::string& v : CheckArea(area, CheckMode::kRaw)) r.damage.push_back(area + ": as left: " + v);
  }
  for (const std::string& source : s.sources) CheckStateFiles(s, source, r.damage);
  for (const std::string& area : s.Areas()) {
    // Then as the next run finds them: after an open, which may repair
    // what a reader tolerates (counts behind, space nothing reaches).
    areas[area] = MessagesOf(area, s.IsSource(area) ? s.user : 0);
    for (const std::string& v : CheckArea(area)) r.damage.push_back(area + ": " + v);
    // A destination the run never reached may not exist yet.
    const bool may_be_missing = std::find(s.made_by_run.begin(), s.made_by_run.end(), area) != s.made_by_run.end();
    if (!areas[area].complete || (!areas[area].opened && !may_be_missing)) r.refused.push_back(area);
  }
  std::map<MessageIdentity, const ScenarioMessage*> planned;
  for (const ScenarioMessage& m : s.messages) planned[m.identity] = &m;
  for (const auto& [area, contents] : areas) {
    r.details[area] = contents.details;
    for (const auto& [identity, count] : contents.messages) {
      r.most_copies = std::max(r.most_copies, count);
      const auto plan = planned.find(identity);
      const std::string who = Describe(identity) + " in " + area;
      if (plan == planned.end()) {
        r.misplaced.push_back("unknown message " + who);
      } else if (area != plan->second->source && std::find(plan->second->homes.begin(), plan->second->homes.end(),
                                                           area) == plan->second->homes.end()) {
        r.misplaced.push_back((plan->second->fate == Fate::kKilled ? "killed message " : "message away from home ") +
                              who);
      }
    }
  }
  if (s.use_lastread) {
    for (const std::string& source : s.sources) SkippedByLastRead(s, source, areas[source], r.lost);
  }
  for (const ScenarioMessage& m : s.messages) JudgeMessage(m, areas, r);
  return r;
}

std::string Findings(const Inspection& i, bool job_done_too) {
  std::string out;
  auto list = [&out](const char* title, const std::vector<std::string>& items) {
    for (const std::string& item : items) out += std::string(title) + ": " + item + "\n";
  };
  list("damaged", i.damage);
  list("lost", i.lost);
  list("refused", i.refused);
  list("misplaced", i.misplaced);
  if (job_done_too) list("not done", i.undone);
  return out;
}

std::vector<std::string> ChangedFrom(const Inspection& reference, const Inspection& now) {
  std::vector<std::string> changed;
  for (const auto& [area, messages] : now.details) {
    const auto want_area = reference.details.find(area);
    for (const auto& [identity, copies] : messages) {
      if (want_area == reference.details.end()) break;
      const auto want = want_area->second.find(identity);
      if (want == want_area->second.end()) continue;  // placement is judged elsewhere
      for (const std::string& copy : copies) {
        if (std::find(want->second.begin(), want->second.end(), copy) == want->second.end()) {
          changed.push_back(area + ": " + Describe(identity) + " has " + copy + " instead of " + want->second.front());
        }
      }
    }
  }
  return changed;
}

}  // namespace lw::test
