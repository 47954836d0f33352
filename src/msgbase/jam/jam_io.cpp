#include "msgbase/jam/jam_io.h"

#include <algorithm>

namespace lw::jam {

JamFile::~JamFile() { Close(); }

bool JamFile::Failed(const platform::Result& result) {
  if (sink_ != nullptr) {
    *sink_ = name_ + ": " + (result.ok() ? std::string("the file ends before the data") : platform::ReasonText(result));
  }
  return false;
}

bool JamFile::Open(const std::string& name, platform::Sharing sharing) {
  Close();
  name_ = name;
  platform::FileHandle file = platform::kNoFile;
  if (const platform::Result rc = platform::Os().OpenFile(name, platform::Access::kReadWrite, sharing, &file);
      rc != platform::kOk) {
    return Failed(rc);
  }
  std::int64_t size = 0;
  if (const platform::Result rc = platform::Os().FileSize(file, &size); rc != platform::kOk || size < 0) {
    platform::Os().CloseFile(file);
    return Failed(rc.ok() ? platform::Result(platform::kDiskReadError) : rc);
  }
  file_ = file;
  size_ = size;
  return true;
}

platform::Result JamFile::CreateEmpty(const std::string& name) {
  platform::FileHandle file = platform::kNoFile;
  if (const platform::Result created = platform::Os().CreateNewFile(name, &file); created != platform::kOk) {
    return created;
  }
  return platform::Os().CloseFile(file);
}

platform::Result JamFile::CreateWhole(const std::string& name, std::span<const std::uint8_t> bytes) {
  platform::Platform& os = platform::Os();
  platform::FileHandle file = platform::kNoFile;
  if (const platform::Result created = os.CreateFile(name, platform::Sharing::kDenyNone, &file);
      created != platform::kOk) {
    return created;
  }
  std::size_t done = 0;
  platform::Result rc = os.WriteFileAt(file, 0, bytes.data(), bytes.size(), &done);
  if (rc == platform::kOk && done != bytes.size()) rc = platform::kDiskWriteError;
  if (rc == platform::kOk) rc = os.FlushFile(file);
  const platform::Result closed = os.CloseFile(file);
  return rc != platform::kOk ? rc : closed;
}

bool JamFile::ReadAt(std::int64_t pos, void* buf, std::size_t count) {
  if (!IsOpen() || pos < 0) return false;
  if (count == 0) return true;
  std::size_t done = 0;
  const platform::Result rc = platform::Os().ReadFileAt(file_, pos, buf, count, &done);
  return (rc == platform::kOk && done == count) || Failed(rc);
}

bool JamFile::WriteAt(std::int64_t pos, const void* buf, std::size_t count) {
  if (!IsOpen() || pos < 0) return false;
  if (count == 0) return true;
  std::size_t done = 0;
  const platform::Result rc = platform::Os().WriteFileAt(file_, pos, buf, count, &done);
  if (rc != platform::kOk || done != count) {
    size_ = kUnknownSize;
    return Failed(rc.ok() ? platform::Result(platform::kDiskWriteError) : rc);
  }
  if (size_ != kUnknownSize) size_ = std::max(size_, pos + static_cast<std::int64_t>(count));
  return true;
}

bool JamFile::Size(std::int64_t& size) {
  size = 0;
  if (!IsOpen()) return false;
  if (size_ == kUnknownSize) {
    std::int64_t asked = 0;
    if (const platform::Result rc = platform::Os().FileSize(file_, &asked); rc != platform::kOk || asked < 0) {
      return Failed(rc.ok() ? platform::Result(platform::kDiskReadError) : rc);
    }
    size_ = asked;
  }
  size = size_;
  return true;
}

bool JamFile::TruncateTo(std::int64_t size) {
  if (!IsOpen() || size < 0) return false;
  platform::Platform& os = platform::Os();
  platform::Result rc = os.SeekFile(file_, size);
  if (rc == platform::kOk) rc = os.TruncateFile(file_);
  size_ = rc == platform::kOk ? size : kUnknownSize;
  return rc == platform::kOk || Failed(rc);
}

bool JamFile::Sync() {
  if (!IsOpen()) return false;
  const platform::Result rc = platform::Os().FlushFile(file_);
  return rc == platform::kOk || Failed(rc);
}

bool JamFile::Close() {
  if (!IsOpen()) return true;
  const platform::FileHandle file = file_;
  file_ = platform::kNoFile;
  size_ = kUnknownSize;
  const platform::Result rc = platform::Os().CloseFile(file);
  return rc == platform::kOk || Failed(rc);
}

}  // namespace lw::jam
