// Copies the current netmail message into the destination area named by a
// rule's target, creating the area when it does not exist.
#pragma once

#include <string>
#include <vector>

#include "app/current_message.h"
#include "errreport/status.h"
#include "log/log_file.h"
#include "msgbase/message_base.h"

namespace lw {

// Copies the open message of `source` into the area `target` names and
// closes that area again.  On success the copy is on stable storage (the
// destination's data, index and header synced, and every file or folder
// it created made durable in its folder), so the source may be deleted.
// Fails, with the source untouched, when the area cannot be opened or
// created or the copy cannot be written, synced or closed.
Status TransferMessage(MessageBase& source, const CurrentMessage& msg, const std::string& target, LogFile& log);

// Copies the open message of `source` into each of `targets` in turn, as
// above, each copy on stable storage before the next is begun.  Stops at
// the first copy that fails and returns its error: the source is
// untouched, and the copies already made stay where they are.
Status TransferMessage(MessageBase& source, const CurrentMessage& msg, const std::vector<std::string>& targets,
                       LogFile& log);

}  // namespace lw
