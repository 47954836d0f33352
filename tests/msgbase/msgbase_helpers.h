// Small verbs for tests that drive a MessageBase.
#pragma once

#include <string>
#include <vector>

#include "msgbase/message_base.h"

namespace lw::test {

// Creates and writes a message to `to` with `text`; returns its number.
MsgNum AddMessage(MessageBase& base, const std::string& to, const std::string& text);
// The open message's whole text.
std::string TextOf(MessageBase& base);
// The numbers of every message, first to last.
std::vector<std::int32_t> Walk(MessageBase& base);
// Walks the base, reading each message and deleting every one but `keep`;
// returns the numbers seen.
std::vector<std::int32_t> WalkDeletingAllBut(MessageBase& base, std::int32_t keep);
// Creates a message and stores it while every write of exactly `size`
// bytes stops half way (a disk that filled up); returns what WriteMsg said.
bool StoredWhileWritesOfSizeFail(MessageBase& base, std::size_t size);

}  // namespace lw::test
