// One file of a JAM base, read and written at explicit positions.  Every
// call says whether it did all it was asked, so the base can check each
// step (a short read or write is a failure), and closing reports its
// result too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace lw::jam {

class JamFile {
 public:
  JamFile() = default;
  ~JamFile();  // closes a file still open, ignoring the result
  JamFile(const JamFile&) = delete;
  JamFile& operator=(const JamFile&) = delete;

  // Opens the existing file `name` for reading and writing with `sharing`.
  // False (and nothing open) when the platform refuses.
  bool Open(const std::string& name, platform::Sharing sharing);
  // Creates `name`, which must not exist yet, and closes it again.  False
  // when it exists or cannot be created or closed.
  static bool CreateEmpty(const std::string& name);
  bool IsOpen() const { return file_ != platform::kNoFile; }

  // Reads exactly `count` bytes at `pos`; false on any failure or short read.
  bool ReadAt(std::int64_t pos, void* buf, std::size_t count);
  // Writes exactly `count` bytes at `pos`; false on any failure or short write.
  bool WriteAt(std::int64_t pos, const void* buf, std::size_t count);
  // The file's size in `size`; false when the platform cannot tell.
  bool Size(std::int64_t& size);
  // Cuts the file to `size` bytes.
  bool TruncateTo(std::int64_t size);
  // Hands what was written to stable storage.
  bool Sync();
  // Closes the file; false when closing failed.  A closed file stays closed.
  bool Close();

 private:
  platform::FileHandle file_ = platform::kNoFile;
};

}  // namespace lw::jam
