// Verbs shared by the Squish tests: storing a message while faults may be
// injected, and checking a base's files against each other.
#pragma once

#include <string>
#include <vector>

#include "msgbase/message_base.h"
#include "platform/platform_wrapper.h"

namespace lw::test {

// Reports every file and folder sync as done without doing it.  For tests
// that model crashes themselves (or none): they skip the cost of real syncs.
class SkipSyncs : public platform::PlatformWrapper {
 public:
  SkipSyncs() : PlatformWrapper(platform::NativePlatform()) {}
  platform::Result FlushFile(platform::FileHandle) override { return platform::kOk; }
  platform::Result SyncDirectory(std::string_view) override { return platform::kOk; }
};

// Creates a message to `to` from `from` with `text`; what WriteMsg said.
bool StoreMessage(MessageBase& base, const std::string& text, const std::string& from = "Sender",
                  const std::string& to = "Bob");

// Every message's text, first to last; a message that cannot be read adds
// a test failure and "<unreadable>".
std::vector<std::string> AllTexts(MessageBase& base);

// Checks the files of the Squish base at `base` (path without extension)
// against each other: header counts, uid, end_frame, the message chain in
// index order and a well-formed free chain.
void ExpectSquishConsistent(const std::string& base);

}  // namespace lw::test
