// Where the state a netmail area keeps between runs (its last-MSGID file,
// its copy journal) lives: beside the area, so that every run and every
// user that works the area finds the same files.
#pragma once

#include <string>
#include <string_view>

namespace lw {

// The file `name` of the area `area_id`: for a *.MSG folder `name` inside
// it, for a Squish or JAM base the base path followed by "." and `name`,
// and `name` in the current folder for an area identifier with an empty
// path.
std::string AreaStateFileName(const std::string& area_id, std::string_view name);

}  // namespace lw
