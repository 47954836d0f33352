// Directory search over the platform in use, one entry at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace lw {

// Walks the entries of a folder that match a pattern (see
// Platform::FindFirst).  An entry is delivered only when each of its
// attribute bits 0x02 (hidden), 0x04 (system), 0x08 (volume), 0x10
// (directory) and 0x20 (archive) that is set is also set in the mask given
// to FindFirst.  The search is closed by FindClose, a new FindFirst, or
// the finder's end.
class FileFinder {
 public:
  FileFinder() = default;
  ~FileFinder();
  FileFinder(const FileFinder&) = delete;
  FileFinder& operator=(const FileFinder&) = delete;

  // Starts a search for `mask` (a folder and a name that may hold "*" and
  // "?").  True, with the first entry in Name and Attr, when one matches;
  // false when none does or the folder cannot be read (failure() tells
  // which).
  bool FindFirst(std::string_view mask, std::uint32_t attr);
  // The next entry into Name and Attr; false when there is none (or no
  // search is open, or the folder can no longer be read: failure() tells).
  bool FindNext();
  // Ends the search; nothing happens when none is open.
  void FindClose();
  // Why the last FindFirst or FindNext found nothing: kOk when the search
  // came to the end of the matching names (or found none), else the
  // platform's result for a folder that could not be listed (one that does
  // not exist included).  A listing that failed is never its end.
  const platform::Result& failure() const { return failure_; }

  std::string Name;        // entry found, without the directory
  std::uint32_t Attr = 0;  // its attribute bits

 private:
  platform::SearchHandle search_ = 0;
  platform::Result failure_;
};

// A new finder with no search open.
std::unique_ptr<FileFinder> NewFileFinder();

}  // namespace lw
