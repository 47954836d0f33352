// Copies the current netmail message into an open destination base.
#pragma once

#include "app/message/current_message.h"
#include "errreport/status.h"
#include "msgbase/message_base.h"

namespace lw {

// Copies the open message of `source`, whose header is `msg`, into a new
// message of the open base `dest`.  Outside a batch the copy is on stable
// storage when this returns; in one, once `dest` commits it.  Fails, with
// the source untouched, when the message cannot be made or written.
Status CopyMessageInto(MessageBase& source, const CurrentMessage& msg, MessageBase& dest);

}  // namespace lw
