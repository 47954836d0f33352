// Transient answers of the operating system, given at one chosen system
// call through the platform's table (platform/system_calls_linux.h): a
// call interrupted by a signal (EINTR), a read that returns fewer bytes
// than asked, a write that takes fewer.  Each is a normal answer a program
// must absorb by calling again.  One process-wide fault at a time, as the
// table entries are plain functions; meant for a child process that ends
// after its run.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/system_calls_linux.h"

namespace lw::test {

enum class Transient {
  kInterrupted,  // EINTR from any call that can return it
  kShortRead,    // read or pread moves half of what was asked
  kShortWrite,   // write or pwrite moves half of what was asked
};

namespace transient_detail {

inline const platform::SystemCalls& Real() { return platform::RealOsCalls(); }

inline Transient g_kind = Transient::kInterrupted;
inline std::int64_t g_at = 0;     // the call (1 = the first fitting one) that gets the answer
inline std::int64_t g_calls = 0;  // fitting calls so far
inline int g_note_fd = -1;        // where the chosen call is named, -1 for nowhere

// Counts a call the fault fits; true when it is the chosen one, which is
// then named on the note descriptor.
inline bool Now(Transient kind, const char* call) {
  if (g_kind != kind || ++g_calls != g_at) return false;
  if (g_note_fd >= 0) {
    const std::string line = std::string(call) + "\n";
    if (Real().write(g_note_fd, line.data(), line.size()) < 0) return true;
  }
  return true;
}

inline int Interrupted() {
  errno = EINTR;
  return -1;
}

// Half of `count`, for a call that moves more than one byte (a call of one
// byte cannot be cut short); `count` when it is not the chosen call.
inline std::size_t Shortened(Transient kind, const char* call, std::size_t count) {
  return count > 1 && Now(kind, call) ? count / 2 : count;
}

inline int Open(const char* path, int flags, mode_t mode) {
  return Now(Transient::kInterrupted, "open") ? Interrupted() : Real().open(path, flags, mode);
}
// Linux frees the descriptor even when close reports EINTR.
inline int Close(int fd) {
  const int rc = Real().close(fd);
  return rc == 0 && Now(Transient::kInterrupted, "close") ? Interrupted() : rc;
}
inline ssize_t Read(int fd, void* buf, std::size_t count) {
  if (Now(Transient::kInterrupted, "read")) return Interrupted();
  return Real().read(fd, buf, Shortened(Transient::kShortRead, "read", count));
}
inline ssize_t Write(int fd, const void* buf, std::size_t count) {
  if (Now(Transient::kInterrupted, "write")) return Interrupted();
  return Real().write(fd, buf, Shortened(Transient::kShortWrite, "write", count));
}
inline ssize_t Pread(int fd, void* buf, std::size_t count, off_t offset) {
  if (Now(Transient::kInterrupted, "pread")) return Interrupted();
  return Real().pread(fd, buf, Shortened(Transient::kShortRead, "pread", count), offset);
}
inline ssize_t Pwrite(int fd, const void* buf, std::size_t count, off_t offset) {
  if (Now(Transient::kInterrupted, "pwrite")) return Interrupted();
  return Real().pwrite(fd, buf, Shortened(Transient::kShortWrite, "pwrite", count), offset);
}
inline int Ftruncate(int fd, off_t length) {
  return Now(Transient::kInterrupted, "ftruncate") ? Interrupted() : Real().ftruncate(fd, length);
}
inline int Fsync(int fd) { return Now(Transient::kInterrupted, "fsync") ? Interrupted() : Real().fsync(fd); }
inline int Fdatasync(int fd) {
  return Now(Transient::kInterrupted, "fdatasync") ? Interrupted() : Real().fdatasync(fd);
}
inline int Syncfs(int fd) { return Now(Transient::kInterrupted, "syncfs") ? Interrupted() : Real().syncfs(fd); }

}  // namespace transient_detail

// Gives `kind` at the `at`-th call it fits (1 = the first), naming that
// call on `note_fd` (-1: nowhere), and passes every other call on.  Renames, links, unlinks and mkdir are left alone:
// on a local file system Linux never interrupts them.
inline void InstallTransient(Transient kind, std::int64_t at, int note_fd) {
  namespace d = transient_detail;
  d::g_kind = kind;
  d::g_at = at;
  d::g_calls = 0;
  d::g_note_fd = note_fd;
  platform::SystemCalls& calls = platform::OsCalls();
  calls.open = &d::Open;
  calls.close = &d::Close;
  calls.read = &d::Read;
  calls.write = &d::Write;
  calls.pread = &d::Pread;
  calls.pwrite = &d::Pwrite;
  calls.ftruncate = &d::Ftruncate;
  calls.fsync = &d::Fsync;
  calls.fdatasync = &d::Fdatasync;
  calls.syncfs = &d::Syncfs;
}

// Whether the chosen call came.
inline bool TransientGiven() { return transient_detail::g_calls >= transient_detail::g_at; }

}  // namespace lw::test
