#include "stream/stream.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace lw {

namespace {

constexpr std::int32_t kCopyBlock = 1024;

}  // namespace

std::unique_ptr<Stream> OpenFileStream(std::string_view name, std::int32_t mode) {
  return std::make_unique<FileStream>(name, mode);
}
std::unique_ptr<Stream> NewMemoryStream(std::int32_t) { return std::make_unique<MemoryStream>(); }

// ---- Stream ----

std::string ReadAllBytes(Stream& s) {
  const std::int32_t size = s.GetSize();
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  s.Seek(0);
  if (!bytes.empty()) s.Read(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  return bytes;
}

std::string_view AllBytes(Stream& s, std::string& storage) {
  std::string_view bytes;
  if (s.ViewAll(&bytes)) {
    s.Seek(static_cast<std::int32_t>(bytes.size()));
    return bytes;
  }
  storage = ReadAllBytes(s);
  return storage;
}

bool Stream::ViewAll(std::string_view*) { return false; }

void Stream::ReadAt(std::int32_t pos, void* buf, std::int32_t count) {
  Seek(pos);
  Read(buf, count);
}

void Stream::WriteAt(std::int32_t pos, const void* buf, std::int32_t count) {
  Seek(pos);
  Write(buf, count);
}

void Stream::CopyFrom(Stream& source, std::int32_t count) {
  char block[kCopyBlock];
  while (count > 0 && source.Status == kStreamOk && Status == kStreamOk) {
    std::int32_t n = count < kCopyBlock ? count : kCopyBlock;
    source.Read(block, n);
    if (source.Status != kStreamOk) return;  // never write what was not read
    Write(block, n);
    count -= n;
  }
}

void Stream::ResetStatus() {
  Status = kStreamOk;
  failure_ = platform::Result();
}

void Stream::Fail(const platform::Result& result) {
  Status = kStreamOsError;
  failure_ = result;
  Report();
}

void Stream::FailShort(std::int32_t status) {
  Status = status;
  failure_ = platform::Result();
  Report();
}

void Stream::Report() {
  if (sink_ != nullptr) *sink_ = FailureText();
}

std::string Stream::FailureText() const {
  std::string reason;
  if (!failure_.ok()) {
    reason = platform::ReasonText(failure_);
  } else if (Status == kStreamReadShort) {
    reason = "the file ends before the data";
  } else if (Status == kStreamWriteShort) {
    reason = "not all bytes were written";
  } else if (Status != kStreamOk) {
    reason = platform::ReasonText(platform::Result(platform::kDiskReadError));
  }
  if (reason.empty()) return reason;
  return Name.empty() ? reason : Name + ": " + reason;
}

// ---- FileStream ----

FileStream::FileStream(std::string_view name, std::int32_t mode) : Stream(mode, name) {
  using platform::Access;
  using platform::Sharing;
  platform::Platform& os = platform::Os();
  int access = mode & 0xFF;
  bool deny_write = (mode & fmDenyWrite) != 0;
  platform::Result rc;
  if (access == fmCreateNew) {
    rc = os.CreateNewFile(Name, &file_);
  } else if (access == fmCreate) {
    rc = os.CreateFile(Name, Sharing::kDenyNone, &file_);  // the sharing byte changes nothing here
  } else {
    Access a = access == fmRead ? Access::kRead : access == fmWrite ? Access::kWrite : Access::kReadWrite;
    if (access != fmRead && access != fmWrite && access != fmReadWrite) {
      rc = platform::kAccessDenied;
    } else {
      rc = os.OpenFile(Name, a, deny_write ? Sharing::kDenyWrite : Sharing::kExclusive, &file_);
      shared_size_ = false;
    }
  }
  if (rc != platform::kOk) {
    file_ = platform::kNoFile;
    Status = kStreamOpenError;
    failure_ = rc;
    return;
  }
  pos_ = 0;
}

void FileStream::Moved(std::int64_t pos, std::int64_t end) {
  pos_ = pos;
  if (size_ >= 0 && end > size_) size_ = end;
}

void FileStream::Forget() {
  pos_ = -1;
  size_ = -1;
}

FileStream::~FileStream() {
  if (file_ != platform::kNoFile) platform::Os().CloseFile(file_);
}

void FileStream::Read(void* buf, std::int32_t count) {
  if (count <= 0) return;
  std::size_t done = 0;
  if (Status == kStreamOk) {
    if (const platform::Result rc = platform::Os().ReadFile(file_, buf, static_cast<std::size_t>(count), &done);
        rc != platform::kOk) {
      Fail(rc);
    } else if (done < static_cast<std::size_t>(count)) {
      FailShort(kStreamReadShort);
    } else {
      Moved(pos_ < 0 ? -1 : pos_ + count, -1);
      return;
    }
    Forget();
  }
  std::memset(buf, 0, static_cast<std::size_t>(count));
}

void FileStream::Write(const void* buf, std::int32_t count) {
  if (Status != kStreamOk || count <= 0) return;
  std::size_t done = 0;
  if (const platform::Result rc = platform::Os().WriteFile(file_, buf, static_cast<std::size_t>(count), &done);
      rc != platform::kOk) {
    Fail(rc);
  } else if (done < static_cast<std::size_t>(count)) {
    FailShort(kStreamWriteShort);
  } else {
    // Where the position is unknown, so is the end of the write.
    if (pos_ < 0) size_ = -1;
    Moved(pos_ < 0 ? -1 : pos_ + count, pos_ < 0 ? -1 : pos_ + count);
    return;
  }
  Forget();
}

void FileStream::ReadAt(std::int32_t pos, void* buf, std::int32_t count) {
  if (count <= 0) return;
  std::size_t done = 0;
  if (Status == kStreamOk) {
    const platform::Result rc =
        pos < 0 ? platform::Result(platform::kDiskReadError)
                : platform::Os().ReadFileAt(file_, pos, buf, static_cast<std::size_t>(count), &done);
    if (rc != platform::kOk) {
      Fail(rc);
    } else if (done < static_cast<std::size_t>(count)) {
      FailShort(kStreamReadShort);
    } else {
      pos_ = -1;  // unspecified after a positioned transfer
      return;
    }
    Forget();
  }
  std::memset(buf, 0, static_cast<std::size_t>(count));
}

void FileStream::WriteAt(std::int32_t pos, const void* buf, std::int32_t count) {
  if (Status != kStreamOk || count <= 0) return;
  std::size_t done = 0;
  const platform::Result rc = pos < 0
                                  ? platform::Result(platform::kDiskWriteError)
                                  : platform::Os().WriteFileAt(file_, pos, buf, static_cast<std::size_t>(count), &done);
  if (rc != platform::kOk) {
    Fail(rc);
  } else if (done < static_cast<std::size_t>(count)) {
    FailShort(kStreamWriteShort);
  } else {
    Moved(-1, static_cast<std::int64_t>(pos) + count);  // the position is unspecified afterwards
    return;
  }
  Forget();
}

void FileStream::Seek(std::int32_t pos) {
  if (Status != kStreamOk) return;
  const platform::Result rc =
      pos < 0 ? platform::Result(platform::kDiskReadError) : platform::Os().SeekFile(file_, pos);
  if (rc != platform::kOk) {
    Fail(rc);
    Forget();
    return;
  }
  pos_ = pos;
}

std::int32_t FileStream::GetPos() {
  if (Status != kStreamOk) return -1;
  if (pos_ >= 0 && pos_ <= INT32_MAX) return static_cast<std::int32_t>(pos_);
  std::int64_t pos = 0;
  if (const platform::Result rc = platform::Os().TellFile(file_, &pos); rc != platform::kOk || pos > INT32_MAX) {
    Fail(rc.ok() ? platform::Result(platform::kDiskReadError) : rc);
    return -1;
  }
  pos_ = pos;
  return static_cast<std::int32_t>(pos);
}

std::int32_t FileStream::GetSize() {
  if (Status != kStreamOk) return -1;
  if (!shared_size_ && size_ >= 0 && size_ <= INT32_MAX) return static_cast<std::int32_t>(size_);
  std::int64_t size = 0;
  if (const platform::Result rc = platform::Os().FileSize(file_, &size); rc != platform::kOk || size > INT32_MAX) {
    Fail(rc.ok() ? platform::Result(platform::kDiskReadError) : rc);
    return -1;
  }
  if (!shared_size_) size_ = size;
  return static_cast<std::int32_t>(size);
}

void FileStream::Flush() {
  if (Status != kStreamOk) return;
  if (const platform::Result rc = platform::Os().FlushFile(file_); rc != platform::kOk) Fail(rc);
}

void FileStream::Truncate() {
  if (Status != kStreamOk) return;
  if (const platform::Result rc = platform::Os().TruncateFile(file_); rc != platform::kOk) {
    Fail(rc);
    Forget();
    return;
  }
  size_ = pos_;
}

void FileStream::ResetStatus() {
  if (Status != kStreamOpenError) {
    Status = kStreamOk;
    failure_ = platform::Result();
  }
  Forget();
}

void FileStream::Close() {
  if (file_ == platform::kNoFile) return;
  const platform::Result rc = platform::Os().CloseFile(file_);
  file_ = platform::kNoFile;
  if (rc != platform::kOk && Status == kStreamOk) Fail(rc);
}

// ---- MemoryStream ----

void MemoryStream::PushBlock(std::int32_t length) {
  starts_.push_back(size_);
  blocks_.push_back(Block{std::make_unique<char[]>(static_cast<std::size_t>(length)), length});  // zeroed
  size_ += length;
}

void MemoryStream::SetSize(std::int32_t target) {
  if (target < 0) target = 0;
  if (blocks_.empty()) PushBlock(0);
  while (size_ < target) {
    std::int32_t inc = target - size_ < kMaxBlock ? target - size_ : kMaxBlock;
    Block& last = blocks_.back();
    if (last.length < inc) {
      auto bytes = std::make_unique<char[]>(static_cast<std::size_t>(inc));  // zeroed
      if (last.length > 0) std::memcpy(bytes.get(), last.bytes.get(), static_cast<std::size_t>(last.length));
      size_ += inc - last.length;
      last.bytes = std::move(bytes);
      last.length = inc;
    } else {
      PushBlock(inc);
    }
  }
  while (size_ > target) {
    std::int32_t dec = size_ - target;
    Block& last = blocks_.back();
    if (last.length < dec && blocks_.size() > 1) {
      size_ -= last.length;
      blocks_.pop_back();
      starts_.pop_back();
    } else if (last.length < dec) {
      size_ -= last.length;
      last.length = 0;
    } else {
      last.length -= dec;  // keeps its first bytes
      size_ -= dec;
    }
  }
  if (last_block_ >= blocks_.size()) last_block_ = blocks_.size() - 1;
}

std::size_t MemoryStream::BlockAt(std::int32_t pos) {
  auto holds = [this, pos](std::size_t i) {
    return i < blocks_.size() && starts_[i] <= pos && pos - starts_[i] < blocks_[i].length;
  };
  if (holds(last_block_)) return last_block_;
  if (holds(last_block_ + 1)) return last_block_ + 1;
  // Block starts are strictly increasing (only a lone block is ever empty).
  auto after = std::upper_bound(starts_.begin(), starts_.end(), pos);
  return static_cast<std::size_t>(after - starts_.begin()) - 1;
}

template <typename Fn>
void MemoryStream::ForRange(std::int32_t pos, std::int32_t count, Fn fn) {
  if (count <= 0) return;
  std::size_t i = BlockAt(pos);
  std::int32_t done = 0;
  for (;;) {
    Block& b = blocks_[i];
    std::int32_t offset = pos + done - starts_[i];
    std::int32_t n = b.length - offset;
    if (n > count - done) n = count - done;
    fn(b.bytes.get() + offset, done, n);
    done += n;
    if (done == count || i + 1 == blocks_.size()) break;
    ++i;
  }
  last_block_ = i;
}

void MemoryStream::Read(void* buf, std::int32_t count) {
  if (count <= 0 || pos_ < 0 || pos_ >= size_) return;
  if (count > size_ - pos_) count = size_ - pos_;
  char* out = static_cast<char*>(buf);
  ForRange(pos_, count, [out](char* block, std::int32_t at, std::int32_t n) {
    std::memcpy(out + at, block, static_cast<std::size_t>(n));
  });
  pos_ += count;
}

void MemoryStream::Write(const void* buf, std::int32_t count) {
  if (count <= 0 || pos_ < 0 || count > INT32_MAX - pos_) return;
  if (pos_ + count > size_) SetSize(pos_ + count);  // a gap before pos_ reads as zeros
  const char* in = static_cast<const char*>(buf);
  ForRange(pos_, count, [in](char* block, std::int32_t at, std::int32_t n) {
    std::memcpy(block, in + at, static_cast<std::size_t>(n));
  });
  pos_ += count;
}

void MemoryStream::CopyFrom(Stream& source, std::int32_t count) {
  if (count > 0 && pos_ >= 0 && count <= INT32_MAX - pos_ && pos_ + count > size_) {
    SetSize(pos_ + count);
  }
  Stream::CopyFrom(source, count);
}

void MemoryStream::Truncate() { SetSize(pos_ < 0 ? 0 : pos_); }

bool MemoryStream::ViewAll(std::string_view* bytes) {
  if (blocks_.size() != 1) return false;
  *bytes = std::string_view(blocks_[0].bytes.get(), static_cast<std::size_t>(blocks_[0].length));
  return true;
}

std::vector<std::int32_t> MemoryStream::BlockLengths() const {
  std::vector<std::int32_t> lengths;
  for (const Block& b : blocks_) lengths.push_back(b.length);
  return lengths;
}

}  // namespace lw
