// Checkers that read a base's files directly, with nothing but the layout
// constants, and list every broken invariant.  They never use the
// MessageBase classes, so a fault in a format's reader cannot hide a fault
// in its writer.  Every walk over on-disk links is bounded.
//
// MessagesOf() is the other way round: it reads an area through the
// MessageBase interface, for the loss checks.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace lw::test {

using Violations = std::vector<std::string>;

// The Squish base `<path>.sqd` / `<path>.sqi`.  No violations when neither
// file exists.
Violations CheckSquishBase(const std::string& path);
// The JAM base `<path>.jhr` / `.jdx` / `.jdt`.  No violations when none of
// the files exists.
Violations CheckJamBase(const std::string& path);
// The *.MSG folder `dir`: every `<number>.msg` (any case).  With
// `closing_nul` every message must also end in its NUL byte, as every
// message this program writes does.
Violations CheckMsgFolder(const std::string& dir, bool closing_nul = true);
// The checker of the area identifier's format ("M<dir>", "S<path>",
// "J<path>"); an unknown letter is a violation.
Violations CheckArea(const std::string& area_id);

// What identifies a message wherever it is stored.  The text is the
// message's lines without kludge lines, each closed by CR, so that a copy
// whose format keeps kludges apart from the text still compares equal.
struct MessageIdentity {
  std::string from, to, subject, msgid, body;
  auto operator<=>(const MessageIdentity&) const = default;
};

// How many times each message is stored in an area.
using MessageCounts = std::map<MessageIdentity, int>;

struct AreaContents {
  bool opened = false;   // false: the area was refused (or is missing)
  bool complete = true;  // false: some message could not be opened
  MessageCounts messages;
};

// Reads every message of the area through the MessageBase interface.  An
// area that does not exist is reported as not opened.
AreaContents MessagesOf(const std::string& area_id);

// A message's identity written out for failure messages.
std::string Describe(const MessageIdentity& m);

}  // namespace lw::test
