// The last-MSGID file of a netmail area: one line without a line end that
// holds the identifier (at most 8 characters) of the last message seen.
#pragma once

#include <string>

#include "errreport/status.h"

namespace lw {

// The file's name for an area: for a *.MSG folder "msgid" inside it, for a
// Squish or JAM base the base path followed by ".msgid", and "msgid" in the
// current folder for an area identifier with an empty path.
std::string LastMsgIdFileName(const std::string& area_id);

// Reads the file's first 8 characters into `id`; a missing file is created
// with "00000000" first.  Fails when the file cannot be made or read.
Status ReadLastMsgId(const std::string& file_name, std::string& id);
// Replaces the file's contents with the first 8 characters of `id`: the
// new contents are written and synced under a scratch name that then takes
// the file's place, so a crash leaves the old contents or the new ones.
Status WriteLastMsgId(const std::string& file_name, const std::string& id);

}  // namespace lw
