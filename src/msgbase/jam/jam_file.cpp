#include "msgbase/jam/jam_file.h"

#include <algorithm>

namespace lw::jam {

JamFile::~JamFile() { Close(); }

bool JamFile::Open(const std::string& name, platform::Sharing sharing) {
  Close();
  platform::FileHandle file = platform::kNoFile;
  if (platform::Os().OpenFile(name, platform::Access::kReadWrite, sharing, &file) != platform::kOk) {
    return false;
  }
  std::int64_t size = 0;
  if (platform::Os().FileSize(file, &size) != platform::kOk || size < 0) {
    platform::Os().CloseFile(file);
    return false;
  }
  file_ = file;
  size_ = size;
  return true;
}

bool JamFile::CreateEmpty(const std::string& name) {
  platform::FileHandle file = platform::kNoFile;
  if (platform::Os().CreateNewFile(name, &file) != platform::kOk) return false;
  return platform::Os().CloseFile(file) == platform::kOk;
}

bool JamFile::CreateWhole(const std::string& name, std::span<const std::uint8_t> bytes) {
  platform::Platform& os = platform::Os();
  platform::FileHandle file = platform::kNoFile;
  if (os.CreateFile(name, platform::Sharing::kDenyNone, &file) != platform::kOk) return false;
  std::size_t done = 0;
  const bool written = os.WriteFileAt(file, 0, bytes.data(), bytes.size(), &done) == platform::kOk &&
                       done == bytes.size() && os.FlushFile(file) == platform::kOk;
  return os.CloseFile(file) == platform::kOk && written;
}

bool JamFile::ReadAt(std::int64_t pos, void* buf, std::size_t count) {
  if (!IsOpen() || pos < 0) return false;
  if (count == 0) return true;
  std::size_t done = 0;
  return platform::Os().ReadFileAt(file_, pos, buf, count, &done) == platform::kOk && done == count;
}

bool JamFile::WriteAt(std::int64_t pos, const void* buf, std::size_t count) {
  if (!IsOpen() || pos < 0) return false;
  if (count == 0) return true;
  std::size_t done = 0;
  const bool ok = platform::Os().WriteFileAt(file_, pos, buf, count, &done) == platform::kOk && done == count;
  if (!ok) {
    size_ = kUnknownSize;
  } else if (size_ != kUnknownSize) {
    size_ = std::max(size_, pos + static_cast<std::int64_t>(count));
  }
  return ok;
}

bool JamFile::Size(std::int64_t& size) {
  size = 0;
  if (!IsOpen()) return false;
  if (size_ == kUnknownSize) {
    std::int64_t asked = 0;
    if (platform::Os().FileSize(file_, &asked) != platform::kOk || asked < 0) return false;
    size_ = asked;
  }
  size = size_;
  return true;
}

bool JamFile::TruncateTo(std::int64_t size) {
  if (!IsOpen() || size < 0) return false;
  platform::Platform& os = platform::Os();
  const bool ok = os.SeekFile(file_, size) == platform::kOk && os.TruncateFile(file_) == platform::kOk;
  size_ = ok ? size : kUnknownSize;
  return ok;
}

bool JamFile::Sync() { return IsOpen() && platform::Os().FlushFile(file_) == platform::kOk; }

bool JamFile::Close() {
  if (!IsOpen()) return true;
  const platform::FileHandle file = file_;
  file_ = platform::kNoFile;
  size_ = kUnknownSize;
  return platform::Os().CloseFile(file) == platform::kOk;
}

}  // namespace lw::jam
