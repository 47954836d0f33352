// The system calls of the Linux platform that touch files, held in one table
// of function pointers that every call goes through.  Production code pays
// one indirect call; a test may point an entry at its own function to make
// the operating system's transient answers (EINTR, a read or write that
// moves fewer bytes than asked) happen at a chosen call, and so prove the
// platform's retry loops.  Linux only.
#pragma once

#include <sys/types.h>

namespace lw::platform {

struct SystemCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buf, size_t count);
  ssize_t (*write)(int fd, const void* buf, size_t count);
  ssize_t (*pread)(int fd, void* buf, size_t count, off_t offset);
  ssize_t (*pwrite)(int fd, const void* buf, size_t count, off_t offset);
  int (*ftruncate)(int fd, off_t length);
  int (*fsync)(int fd);
  int (*fdatasync)(int fd);
  int (*syncfs)(int fd);
  int (*rename)(const char* from, const char* to);
  int (*renameat2)(int from_dir, const char* from, int to_dir, const char* to, unsigned flags);
  int (*link)(const char* from, const char* to);
  int (*unlink)(const char* path);
  int (*mkdir)(const char* path, mode_t mode);
};

// The table the platform calls through.  A test that changes an entry puts
// the original back before it ends; nothing else may change it.
SystemCalls& OsCalls();

// The table as the platform starts: the C library's own functions.
const SystemCalls& RealOsCalls();

}  // namespace lw::platform
