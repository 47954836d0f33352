#include "msgbase/jam/jam_file.h"

namespace lw::jam {

JamFile::~JamFile() { Close(); }

bool JamFile::Open(const std::string& name, platform::Sharing sharing) {
  Close();
  platform::FileHandle file = platform::kNoFile;
  if (platform::Os().OpenFile(name, platform::Access::kReadWrite, sharing, &file) != platform::kOk) {
    return false;
  }
  file_ = file;
  return true;
}

bool JamFile::CreateEmpty(const std::string& name) {
  platform::FileHandle file = platform::kNoFile;
  if (platform::Os().CreateNewFile(name, &file) != platform::kOk) return false;
  return platform::Os().CloseFile(file) == platform::kOk;
}

bool JamFile::ReadAt(std::int64_t pos, void* buf, std::size_t count) {
  if (!IsOpen() || pos < 0) return false;
  if (count == 0) return true;
  std::size_t done = 0;
  platform::Platform& os = platform::Os();
  return os.SeekFile(file_, pos) == platform::kOk && os.ReadFile(file_, buf, count, &done) == platform::kOk &&
         done == count;
}

bool JamFile::WriteAt(std::int64_t pos, const void* buf, std::size_t count) {
  if (!IsOpen() || pos < 0) return false;
  if (count == 0) return true;
  std::size_t done = 0;
  platform::Platform& os = platform::Os();
  return os.SeekFile(file_, pos) == platform::kOk && os.WriteFile(file_, buf, count, &done) == platform::kOk &&
         done == count;
}

bool JamFile::Size(std::int64_t& size) {
  size = 0;
  return IsOpen() && platform::Os().FileSize(file_, &size) == platform::kOk && size >= 0;
}

bool JamFile::TruncateTo(std::int64_t size) {
  if (!IsOpen() || size < 0) return false;
  platform::Platform& os = platform::Os();
  return os.SeekFile(file_, size) == platform::kOk && os.TruncateFile(file_) == platform::kOk;
}

bool JamFile::Sync() { return IsOpen() && platform::Os().FlushFile(file_) == platform::kOk; }

bool JamFile::Close() {
  if (!IsOpen()) return true;
  const platform::FileHandle file = file_;
  file_ = platform::kNoFile;
  return platform::Os().CloseFile(file) == platform::kOk;
}

}  // namespace lw::jam
