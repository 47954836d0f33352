// The last-MSGID file of a netmail area: one line without a line end that
// holds the identifier (at most 8 characters) of the last message seen.
#pragma once

#include "fidoutil/short_str.h"

namespace lw {

// The file's name for an area: for a *.MSG directory (and the empty path)
// "msgid" inside it, for a Squish or JAM base the base path followed by
// ".msgid".
ShortStr LastMsgIdFileName(const ShortStr& area_id);

// Creates the file with "00000000" when it is missing; returns its first 8
// characters.  Ends the run when it cannot be opened.
ShortStr ReadLastMsgId(const ShortStr& file_name);
// Replaces the file's contents with `id` (at most 8 characters).
void WriteLastMsgId(const ShortStr& file_name, const ShortStr& id);

}  // namespace lw
