// Byte streams (over a file or over memory blocks), handed out to the
// message bases by two factories.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace lw {

// Status codes of a FileStream (a MemoryStream stays at 0).  A failed call
// sets Status and it stays set (every later call does nothing) until
// ResetStatus; a caller that needs whole data checks Status after reading.
enum StreamStatus : std::int32_t {
  kStreamOk = 0,
  kStreamOsError = -1,     // the OS refused a seek, read, write or query
  kStreamOpenError = -2,   // opening or creating the file failed
  kStreamReadShort = -3,   // fewer bytes read than asked
  kStreamWriteShort = -4,  // fewer bytes written than asked
};

// OpenFileStream modes: low byte the access, second byte the sharing.
enum FileMode : std::int32_t {
  fmCreate = 1,          // create or empty; read and write; others may read and write
  fmReadWrite = 2,       // existing file, read and write
  fmRead = 4,            // existing file, read
  fmWrite = 8,           // existing file, write
  fmCreateNew = 16,      // create a file that must not exist yet; read and write
  fmDenyWrite = 0x2000,  // with 2, 4 or 8: others may read but not write
};

class Stream {
 public:
  Stream(std::int32_t mode, std::string_view name) : Mode(mode), Name(name) {}
  virtual ~Stream() = default;
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // Reads `count` bytes from `source` and writes them here, 1024 at a
  // time; stops at the first step that leaves either stream failed (the
  // failure stays in that stream's Status).
  virtual void CopyFrom(Stream& source, std::int32_t count);
  // Reads `count` bytes at the position.  A file stream that cannot read
  // all of them (an error, or the end of the file) sets Status and zeroes
  // the whole buffer, so that no caller ever sees part of a read as data;
  // a memory stream copies what lies before its end and leaves the rest of
  // the buffer as it was.
  virtual void Read(void* buf, std::int32_t count) = 0;
  virtual void Write(const void* buf, std::int32_t count) = 0;
  virtual void Seek(std::int32_t pos) = 0;
  virtual std::int32_t GetPos() = 0;
  virtual std::int32_t GetSize() = 0;
  virtual void Flush() = 0;
  virtual void Truncate() = 0;  // at the current position
  virtual void ResetStatus();   // back to kStreamOk
  // Positioned transfers: as Seek(pos) then Read or Write (with their
  // failure rules), in one call to the system for a file stream.  The
  // position afterwards is unspecified; seek before a plain Read or Write.
  virtual void ReadAt(std::int32_t pos, void* buf, std::int32_t count);
  virtual void WriteAt(std::int32_t pos, const void* buf, std::int32_t count);
  // The file under the stream, for platform calls that take several files
  // at once (platform::kNoFile when there is none).
  virtual platform::FileHandle Handle() const { return platform::kNoFile; }
  // Releases what the stream holds: a file stream closes its file, and a
  // failed close sets Status; any later file call then fails.
  virtual void Close() {}
  // All the stream's bytes, when it keeps them in one piece of memory: a
  // view that stays valid until the stream next changes.  False when it
  // does not (a file, or memory in several blocks): read them instead.
  virtual bool ViewAll(std::string_view* bytes);

  // The file and the system's reason for the failure Status holds
  // ("areas/nm.jhr: No space left on device"); "" while Status is
  // kStreamOk.  A short read or write names no system error, only what
  // happened.
  std::string FailureText() const;
  // The platform's result of the call that failed (kOk for a short read
  // or write, and while Status is kStreamOk).
  const platform::Result& failure() const { return failure_; }
  // From now on each failure of the stream also writes its FailureText to
  // `*sink` (not owned; nullptr stops it), so the owner of several
  // streams knows which one failed last and why.
  void ReportFailuresTo(std::string* sink) { sink_ = sink; }

  std::int32_t Status = kStreamOk;
  std::int32_t Mode;
  std::string Name;

 protected:
  // Sets Status to kStreamOsError for the call that returned `result`.
  void Fail(const platform::Result& result);
  // Sets Status to `status` (a short read or write); the system named no error.
  void FailShort(std::int32_t status);

  platform::Result failure_;

 private:
  void Report();

  std::string* sink_ = nullptr;
};

// A stream over a file.  It keeps its position, and the file's size while
// no one else may write to the file, so that GetPos and GetSize ask the
// system only when the stream cannot know the answer.
class FileStream final : public Stream {
 public:
  FileStream(std::string_view name, std::int32_t mode);
  ~FileStream() override;

  void Read(void* buf, std::int32_t count) override;
  void Write(const void* buf, std::int32_t count) override;
  void Seek(std::int32_t pos) override;
  std::int32_t GetPos() override;
  std::int32_t GetSize() override;
  // Hands what was written to stable storage.
  void Flush() override;
  void Truncate() override;
  void ResetStatus() override;
  void ReadAt(std::int32_t pos, void* buf, std::int32_t count) override;
  void WriteAt(std::int32_t pos, const void* buf, std::int32_t count) override;
  platform::FileHandle Handle() const override { return file_; }
  void Close() override;

 private:
  // The stream moved to `pos` and wrote up to byte `end` (-1: unknown).
  void Moved(std::int64_t pos, std::int64_t end);
  // After a failed call the position and size are unknown.
  void Forget();

  platform::FileHandle file_ = platform::kNoFile;
  // Whether another open of the file may change its size: a created file
  // is open to every writer (no lock), an opened one is locked against
  // other writers (Sharing kExclusive or kDenyWrite), so every change to
  // its size goes through this stream.
  bool shared_size_ = true;
  std::int64_t pos_ = -1;   // the file position; -1 when unknown
  std::int64_t size_ = -1;  // the file's size; -1 when unknown
};

// A stream over a chain of memory blocks of at most 8192 bytes each.  Only
// the last block ever changes its length, so the start offset of every
// block is kept beside it: the block of a position is found by a binary
// search, or at once when it is the block the last access ended in (as it
// is for every sequential read or write).
class MemoryStream final : public Stream {
 public:
  static constexpr std::int32_t kMaxBlock = 8192;

  MemoryStream() : Stream(0, "") { SetSize(0); }

  void CopyFrom(Stream& source, std::int32_t count) override;
  void Read(void* buf, std::int32_t count) override;
  void Write(const void* buf, std::int32_t count) override;
  void Seek(std::int32_t pos) override { pos_ = pos; }
  std::int32_t GetPos() override { return pos_; }
  std::int32_t GetSize() override { return size_; }
  void Flush() override {}
  void Truncate() override;
  void ResetStatus() override {}

  bool ViewAll(std::string_view* bytes) override;

  // Lengths of the blocks, first to last.
  std::vector<std::int32_t> BlockLengths() const;

 private:
  struct Block {
    std::unique_ptr<char[]> bytes;
    std::int32_t length = 0;
  };
  void SetSize(std::int32_t target);
  void PushBlock(std::int32_t length);
  // The index of the block that holds byte `pos` (0 <= pos < size_).
  std::size_t BlockAt(std::int32_t pos);
  // Copies between the blocks and `buf` at [pos, pos + count), which lies
  // within the stream.
  template <typename Fn>
  void ForRange(std::int32_t pos, std::int32_t count, Fn fn);

  std::vector<Block> blocks_;
  std::vector<std::int32_t> starts_;  // offset of each block's first byte
  std::size_t last_block_ = 0;        // where the last access ended
  std::int32_t pos_ = 0;
  std::int32_t size_ = 0;
};

// Every byte of a stream, read from its start.
std::string ReadAllBytes(Stream& s);
// Every byte of a stream, as ReadAllBytes gives them (the position left
// at the end, a failure in Status): a view of the stream's own memory when
// it allows one, else of `storage`, which they are read into.
std::string_view AllBytes(Stream& s, std::string& storage);

// The factories the message bases use.
std::unique_ptr<Stream> OpenFileStream(std::string_view name, std::int32_t mode);
std::unique_ptr<Stream> NewMemoryStream(std::int32_t size_hint);

}  // namespace lw
