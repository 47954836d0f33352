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
  int destination;  // index into Scenario::destinations, -1 for none
};

// The netmail area's messages, in the order they are stored; with
// USELASTREAD the two already read come first, and one more that stays
// comes last, so that the run leaves the lastread number on the message
// whose MSGID it stores: the next run then starts behind it.
const Planned kAlreadyRead[] = {{"Reader", Fate::kKept, -1}, {"Editor", Fate::kKept, -1}};
const Planned kLastKept = {"Keeper", Fate::kKept, -1};
const Planned kNetmail[] = {
    {"SqPoint", Fate::kMoved, 0}, {"Spammer", Fate::kKilled, -1}, {"JamPoint", Fate::kMoved, 1},
    {"Sysop", Fate::kKept, -1},   {"MsgPoint", Fate::kMoved, 2},
};

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
  std::string text = "NETMAIL " + s.source + "\nMOVE YES\nPRIORITY TO\n";
  if (s.use_lastread) text += "USELASTREAD YES\nUSERNUMBER " + std::to_string(s.user) + "\n";
  const char* names[] = {"SqPoint", "JamPoint", "MsgPoint"};
  for (int i = 0; i < 3; ++i) text += "TO " + std::string(names[i]) + ", " + s.destinations[i] + "\n";
  text += "TO Spammer, KILL\nLOG " + s.root + "/lw.log\n";
  WriteFile(s.config_path, text);
}

// Leaves the netmail area as a run that read its first `count` messages
// does: their last one is the user's lastread message, and its MSGID the
// last MSGID.
void MarkRead(const Scenario& s, std::size_t count) {
  MsgBasePtr base;
  ASSERT_TRUE(OpenArea(base, s.source)) << s.source;
  ASSERT_TRUE(base->SetLastRead(s.user, static_cast<std::int32_t>(count)));
  CloseArea(base);
  char id[9];
  std::snprintf(id, sizeof id, "%08X", 0x5A000000u + static_cast<unsigned>(count));
  ASSERT_TRUE(WriteLastMsgId(LastMsgIdFileName(s.source), id).ok());
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
void SkippedByLastRead(const Scenario& s, const AreaContents& source, std::vector<std::string>& skipped) {
  const auto at = source.by_number.find(source.lastread);
  if (at == source.by_number.end() || IdOfMsgId(at->second.msgid) != StoredLastMsgId(s.source)) return;
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
void CheckStateFiles(const Scenario& s, Violations& damage) {
  const std::string& area_id = s.source;
  const std::optional<std::string> msgid = FileBytes(LastMsgIdFileName(area_id));
  if (msgid && msgid->size() != 8 && (s.use_lastread || !msgid->empty())) {
    damage.push_back("last-MSGID file holds \"" + *msgid + "\"");
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
  if (!whole) damage.push_back("copy journal is not whole records: \"" + *journal + "\"");
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

}  // namespace

std::vector<std::string> Scenario::Areas() const {
  std::vector<std::string> all = {source};
  all.insert(all.end(), destinations.begin(), destinations.end());
  return all;
}

Scenario WriteScenario(const std::string& root, char source_letter, bool use_lastread) {
  Scenario s;
  s.root = root;
  s.config_path = root + "/lw.cfg";
  s.use_lastread = use_lastread;
  s.user = use_lastread ? 7 : 0;
  MakeDirs(root + "/net");
  MakeDirs(root + "/out");
  s.source = source_letter == 'M' ? "M" + root + "/net" : std::string(1, source_letter) + root + "/net/netmail";
  s.destinations = {"S" + root + "/out/sq", "J" + root + "/out/jam", "M" + root + "/out/msg"};

  std::vector<Planned> planned;
  if (use_lastread) planned.assign(std::begin(kAlreadyRead), std::end(kAlreadyRead));
  planned.insert(planned.end(), std::begin(kNetmail), std::end(kNetmail));
  if (use_lastread) planned.push_back(kLastKept);
  std::vector<MsgFile> netmail;
  for (const Planned& p : planned) netmail.push_back(Netmail(p.to, static_cast<int>(netmail.size()) + 1));
  if (source_letter == 'M') {
    for (std::size_t i = 0; i < netmail.size(); ++i) {
      WriteFile(root + "/net/" + std::to_string(i + 1) + ".msg", netmail[i].Bytes());
    }
  } else {
    Fill(s.source, netmail);
  }
  if (use_lastread) MarkRead(s, std::size(kAlreadyRead));
  Fill(s.destinations[0], {Netmail("Older", 101)});
  Fill(s.destinations[1], {Netmail("Older", 102)});
  WriteConfig(s);

  for (const Planned& p : planned) {
    ScenarioMessage m{StoredIdentity(s.source, p.to), p.fate, ""};
    if (p.destination >= 0) m.home = s.destinations[static_cast<std::size_t>(p.destination)];
    s.messages.push_back(m);
  }
  for (int i = 0; i < 2; ++i) {
    s.messages.push_back({StoredIdentity(s.destinations[i], "Older"), Fate::kAlreadyThere, s.destinations[i]});
  }
  return s;
}

namespace {

int CountIn(const std::map<std::string, AreaContents>& areas, const std::string& area_id, const MessageIdentity& m) {
  auto a = areas.find(area_id);
  if (a == areas.end()) return 0;
  auto it = a->second.messages.find(m);
  return it == a->second.messages.end() ? 0 : it->second;
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
  CheckStateFiles(s, r.damage);
  for (const std::string& area : s.Areas()) {
    // Then as the next run finds them: after an open, which may repair
    // what a reader tolerates (counts behind, space nothing reaches).
    areas[area] = MessagesOf(area, area == s.source ? s.user : 0);
    for (const std::string& v : CheckArea(area)) r.damage.push_back(area + ": " + v);
    // A destination the run never reached may not exist yet.
    const bool may_be_missing = area == s.destinations[2];
    if (!areas[area].complete || (!areas[area].opened && !may_be_missing)) r.refused.push_back(area);
  }
  for (const auto& [area, contents] : areas) {
    r.details[area] = contents.details;
    for (const auto& entry : contents.messages) {
      const auto& identity = entry.first;  // named, not bound: a lambda below captures it
      r.most_copies = std::max(r.most_copies, entry.second);
      const auto planned = std::find_if(s.messages.begin(), s.messages.end(),
                                        [&identity](const ScenarioMessage& m) { return m.identity == identity; });
      const std::string who = Describe(identity) + " in " + area;
      if (planned == s.messages.end()) {
        r.misplaced.push_back("unknown message " + who);
      } else if (area != s.source && area != planned->home) {
        r.misplaced.push_back((planned->fate == Fate::kKilled ? "killed message " : "message away from home ") + who);
      }
    }
  }
  if (s.use_lastread) SkippedByLastRead(s, areas[s.source], r.lost);
  for (const ScenarioMessage& m : s.messages) {
    const int in_source = CountIn(areas, s.source, m.identity);
    const int at_home = m.home.empty() ? 0 : CountIn(areas, m.home, m.identity);
    const std::string who = Describe(m.identity);
    if (m.fate != Fate::kKilled && in_source + at_home == 0) r.lost.push_back(who);
    switch (m.fate) {
      case Fate::kMoved:
        if (at_home == 0 || in_source != 0) {
          r.undone.push_back(who + ": " + std::to_string(at_home) + " in its home, " + std::to_string(in_source) +
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
        if (at_home != 1) r.undone.push_back(who + ": " + std::to_string(at_home) + " in its base");
        break;
    }
  }
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
