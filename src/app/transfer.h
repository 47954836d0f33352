// Copies the current netmail message into the destination area named by a
// rule's target, creating the area when it does not exist.
#pragma once

#include "app/current_message.h"
#include "log/log_file.h"
#include "msgbase/message_base.h"

namespace lw {

// Ends the run through the log's Error on any failure; the source message
// is left as it is.
void TransferMessage(MessageBase& source, const CurrentMessage& msg, const ShortStr& target,
                     LogFile& log);

}  // namespace lw
