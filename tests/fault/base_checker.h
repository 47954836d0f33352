// Checkers that read a base's files directly, with nothing but the layout
// constants, and list every broken invariant.  They never use the
// MessageBase classes, so a fault in a format's reader cannot hide a fault
// in its writer.  Every walk over on-disk links is bounded.
//
// MessagesOf() is the other way round: it reads an area through the
// MessageBase interface, for the loss checks.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace lw::test {

using Violations = std::vector<std::string>;

// How strictly a base is judged.
//   kWhole: as an open by this program leaves it (after any repair): every
//     count, link and back link agrees.
//   kRaw: as a program that never repairs finds it right after a crash:
//     every index record names a whole message, frames and headers do not
//     overlap, every chain ends, every indexed message is on the message
//     chain, and nothing a writer appends can land on a message.  What
//     such a program tolerates is allowed: counts below what the index
//     holds, space nothing reaches (past end_frame, or frames and headers
//     no index record names), back links and chain ends one step behind.
enum class CheckMode { kWhole, kRaw };

// The Squish base `<path>.sqd` / `<path>.sqi`.  No violations when neither
// file exists.
Violations CheckSquishBase(const std::string& path, CheckMode mode = CheckMode::kWhole);
// The JAM base `<path>.jhr` / `.jdx` / `.jdt`.  No violations when none of
// the files exists.
Violations CheckJamBase(const std::string& path, CheckMode mode = CheckMode::kWhole);
// The *.MSG folder `dir`: every `<number>.msg` (any case).  With
// `closing_nul` every message must also end in its NUL byte, as every
// message this program writes does.
Violations CheckMsgFolder(const std::string& dir, bool closing_nul = true);
// The checker of the area identifier's format ("M<dir>", "S<path>",
// "J<path>"); an unknown letter is a violation.  A *.MSG folder is judged
// alike in both modes: every message file must be whole.
Violations CheckArea(const std::string& area_id, CheckMode mode = CheckMode::kWhole);

// What identifies a message wherever it is stored.  The text is the
// message's lines without kludge lines, each closed by CR, so that a copy
// whose format keeps kludges apart from the text still compares equal.
struct MessageIdentity {
  std::string from, to, subject, msgid, body;
  auto operator<=>(const MessageIdentity&) const = default;
};

// How many times each message is stored in an area.
using MessageCounts = std::map<MessageIdentity, int>;

// What a copy must keep of each message beyond its identity: its date
// written, attribute bits and kludge lines, one text per stored copy.
using MessageDetails = std::map<MessageIdentity, std::vector<std::string>>;

struct AreaContents {
  bool opened = false;   // false: the area was refused (or is missing)
  bool complete = true;  // false: some message could not be opened
  MessageCounts messages;
  MessageDetails details;
  std::map<std::int32_t, MessageIdentity> by_number;  // each message under its number
  std::int32_t lastread = 0;                          // of the user asked for, 0 when none
};

// Reads every message of the area through the MessageBase interface, and
// the lastread number of user `lastread_user` when it is not 0.  An area
// that does not exist is reported as not opened.
AreaContents MessagesOf(const std::string& area_id, std::int32_t lastread_user = 0);

// A message's identity written out for failure messages.
std::string Describe(const MessageIdentity& m);

}  // namespace lw::test
