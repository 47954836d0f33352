// Finding an existing name whatever its case without listing its folder
// for every name (POSIX implementation only).
//
// A sysop's folder often holds "23.MSG" while the program asks for
// "23.msg".  Once an exact look-up missed, the folder's names are listed
// once into an index (lower-cased ASCII name -> real names) that is reused
// while the folder is unchanged: the folder's identity (device, inode) and
// its change stamps (mtime, ctime) are compared on every use.  The
// platform's own creates, renames and deletes are written into the index,
// so that they do not force a new listing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lw::platform {

enum class NameLookup {
  kFound,     // an entry of that name exists
  kMissing,   // the folder exists (and could be read) and has no such entry
  kNoFolder,  // `dir` is no folder (missing, or a file), or cannot be read
};

// Looks in the folder `dir` ("." for the current one) for an entry whose
// name equals `name` when ASCII letters are compared without case; the
// entry's real name goes to `real` when it is found (and was checked to
// exist: a name from the index costs one lstat).  Lists the folder
// only when no valid index of it is at hand, or when the answer would be
// "none" from a listing taken too close to the folder's last change to be
// trusted (the change may have come in the same clock tick, after it).
NameLookup FindNameNoCase(const std::string& dir, std::string_view name, std::string* real);

// Tell the index about a change this process makes in folder `dir`.
// Call BeforeOwnChange just before the change: an index the folder no
// longer matches is dropped, so a change another program made before ours
// is not mistaken for ours (unless the index was checked less than a
// millisecond ago, as it is when the change's own name was just looked
// up).  Call AfterOwnChange once the change was made, naming the entry it
// removed and the one it added ("" for none); the index then takes the
// folder's new stamps as its own.
void BeforeOwnChange(const std::string& dir);
void AfterOwnChange(const std::string& dir, std::string_view removed, std::string_view added);

// How many times a folder has been listed for FindNameNoCase since the
// process started.  For tests that prove a folder is listed a bounded
// number of times however many names are looked up in it.
std::int64_t FolderListingCount();

}  // namespace lw::platform
