// One file of a JAM base, read and written at explicit positions.  Every
// call says whether it did all it was asked, so the base can check each
// step (a short read or write is a failure), and closing reports its
// result too.
//
// Each read or write is one positioned platform call, and the file's size
// is asked of the platform once per open and then kept here: the base
// holds its files locked against other writers while it is open
// (platform::Sharing), so only this object changes the size, and every
// write and truncate it makes updates the kept size.  A write or truncate
// that fails may have changed the file in part, so after one the size is
// asked again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "msgbase/jam/jam_layout.h"
#include "platform/platform.h"

namespace lw::jam {

class JamFile {
 public:
  JamFile() = default;
  ~JamFile();  // closes a file still open, ignoring the result
  JamFile(const JamFile&) = delete;
  JamFile& operator=(const JamFile&) = delete;

  // Opens the existing file `name` for reading and writing with `sharing`
  // and asks its size.  False (and nothing open) when the platform refuses
  // either.
  bool Open(const std::string& name, platform::Sharing sharing);
  // Creates `name`, which must not exist yet, and closes it again.  The
  // failure of the step that failed (it exists, cannot be created or closed).
  static platform::Result CreateEmpty(const std::string& name);
  // Makes `name` (emptied when it exists) hold `bytes`, synced, and closes
  // it.  The failure of the first step that failed (a short write is
  // kDiskWriteError).
  static platform::Result CreateWhole(const std::string& name, std::span<const std::uint8_t> bytes);
  bool IsOpen() const { return file_ != platform::kNoFile; }
  // The platform's handle of the open file (platform::kNoFile when closed),
  // for syncing several files in one call.
  platform::FileHandle Handle() const { return file_; }

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

  // From now on each failed call writes the file's name and the system's
  // reason ("net.jdx: Input/output error") to `*sink` (not owned).
  void ReportFailuresTo(std::string* sink) { sink_ = sink; }

 private:
  static constexpr std::int64_t kUnknownSize = -1;

  // Reports `result` (or, for kOk, a transfer cut short) to the sink; false.
  bool Failed(const platform::Result& result);

  platform::FileHandle file_ = platform::kNoFile;
  std::int64_t size_ = kUnknownSize;
  std::string name_;
  std::string* sink_ = nullptr;
};

// Record `i` of a buffer of whole records of `kSize` bytes; the caller
// keeps `i` below the number of records in it.
template <int kSize>
RecordIn<kSize> RecordAt(const std::vector<std::uint8_t>& buf, std::int64_t i) {
  return RecordIn<kSize>(buf.data() + i * kSize, kSize);
}
template <int kSize>
RecordOut<kSize> RecordAt(std::vector<std::uint8_t>& buf, std::int64_t i) {
  return RecordOut<kSize>(buf.data() + i * kSize, kSize);
}

}  // namespace lw::jam
