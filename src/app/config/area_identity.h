// Which message base an area identifier means, whatever its spelling:
// "Mnet", "*./net" and "M/home/fido/NET" (run in /home/fido) are one
// *.MSG folder.
#pragma once

#include <string>

namespace lw {

// The base `area_id` names, as a key that two spellings of one base share:
// the format family (every *.MSG letter is one) and the absolute path with
// "." and ".." parts resolved, separators unified and letters folded
// (files are found whatever the case of their names).  Touches no file, so
// a base that does not exist yet has a key too.  Links are not followed:
// a base reached through a link and through its real path gives two keys.
// An identifier without a known format letter is its own key.
std::string AreaIdentity(const std::string& area_id);

// The file `path` names, as a key that two spellings of one file share
// (the path part of AreaIdentity's key).  Touches no file.
std::string FileIdentity(const std::string& path);

}  // namespace lw
