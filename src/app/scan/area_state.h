// Where the state a netmail area keeps between runs (its last-MSGID file,
// its copy journal) lives: beside the area, so that every run and every
// user that works the area finds the same files.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace lw {

// The file `name` of the area `area_id`: for a *.MSG folder `name` inside
// it, for a Squish or JAM base the base path followed by "." and `name`,
// and `name` in the current folder for an area identifier with an empty
// path.
std::string AreaStateFileName(const std::string& area_id, std::string_view name);

// Replaces state file `file_name` with `text` so that a crash leaves the
// old content or the new: written and synced under a scratch name, put in
// the file's place, and the folder synced.  On failure the scratch file is
// removed, `failed` names the file or folder of the step that failed, and
// the file keeps its old content.
platform::Result ReplaceStateFile(const std::string& file_name, std::string_view text, std::string& failed);

}  // namespace lw
