// Runtime support: the only layer that talks to the operating system.
//
// Everything above it works through the `Platform` interface below, so a
// test can put a `PlatformWrapper` (platform_wrapper.h) in front of the real
// one and make single calls fail.  Each operating system has one file that
// implements `Platform` (platform_linux.cpp, platform_win32.cpp); the build
// picks it.
//
// Errors are returned as a Result: a DOS-style code (0 = success, 2 = file
// not found, 3 = path not found, 5 = access denied, ...) that callers test,
// and the OS's own error number it was translated from (in one place in
// the implementation file), whose words ReasonText gives.  A call that fails
// leaves its out-parameters unspecified unless its comment says otherwise
// (handles are set to kNoFile), and changes nothing on the disk unless its
// comment says otherwise.  Calls on a handle that is not open fail with
// kInvalidHandle where the system notices it; the result is unspecified
// otherwise.  No call is safe to make from two threads at once.
//
// Names given to the file and directory calls may use "/" or "\" as the
// directory separator.  Existing files and directories are found whatever
// the case of their names (an exact match wins; when several names differ
// only in case, which of them is found is unspecified); names that are
// created keep the case in which the caller wrote them.  On Linux a name
// that is not found exactly is looked up in an index of its folder that is
// listed once and kept while the folder is unchanged (folder_name_index.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fidoutil/date_time.h"

namespace lw::platform {

// DOS-style result codes used throughout the layer.
enum ErrorCode : int {
  kOk = 0,
  kFileNotFound = 2,
  kPathNotFound = 3,
  kTooManyOpenFiles = 4,
  kAccessDenied = 5,
  kInvalidHandle = 6,
  kDiskWriteError = 101,
  kDiskReadError = 100,
  // Only from LockRun: another holder keeps the lock.
  kLockViolation = 33,
};

// The outcome of a platform call: its DOS-style code (kOk on success) and,
// when the operating system refused the call, the system's own error
// number the code was translated from (errno on Linux, GetLastError on
// Win32); 0 when the code has none behind it (a code a test or the layer
// itself chose).  It converts to and from the plain code, so code that only
// tests the code reads as it always did; code that reports the failure
// keeps the Result and hands it to ReasonText.
class Result {
 public:
  constexpr Result() = default;
  // A code with no system error behind it.
  constexpr Result(int code) : code_(code) {}  // NOLINT(google-explicit-constructor): codes are results
  constexpr Result(int code, int system_error) : code_(code), system_error_(code == 0 ? 0 : system_error) {}

  constexpr operator int() const { return code_; }  // NOLINT(google-explicit-constructor)
  constexpr int code() const { return code_; }
  constexpr bool ok() const { return code_ == kOk; }
  constexpr int system_error() const { return system_error_; }

 private:
  int code_ = kOk;
  int system_error_ = 0;
};

// The system's words for why `result` failed ("Permission denied", "No
// space left on device"): the text of its system error when it has one,
// else words that fit its code.  "" for a success.
std::string ReasonText(const Result& result);

enum class Access { kRead, kWrite, kReadWrite };

// What other processes may do with a file while we hold it open.
//
// Locking on Linux (open-file-description locks, F_OFD_SETLK):
//   kExclusive   a lock over the whole file (a write lock when the file can
//                be written through our descriptor, else a read lock);
//   kDenyWrite   a lock on byte 0 only: a write lock when we open for
//                writing, a read lock when we open read-only.  Other
//                readers that take a read lock on byte 0 still get in;
//                writers are refused.  Linux FidoNet software locks byte 0
//                of a Squish data file or a JAM header file with a classic
//                fcntl lock before it writes, and OFD locks conflict with
//                those, so we keep them out and they keep us out;
//   kDenyNone    no lock.
// A refused lock is retried for about two seconds before the open fails
// with kAccessDenied.  OFD locks belong to the open file, not the process,
// so two opens inside one process conflict just as two processes do.
enum class Sharing { kExclusive, kDenyWrite, kDenyNone };

using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// File attribute bits as the directory search reports them.
enum Attribute : std::uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrVolume = 0x08,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
};

struct DirEntry {
  std::string name;        // without the directory
  std::uint32_t attr = 0;  // Attribute bits
};

using SearchHandle = std::intptr_t;

class Platform {
 public:
  virtual ~Platform() = default;

  // Console.  Output goes to standard output.
  virtual void ConsoleWrite(std::string_view text) = 0;
  // Writes text and puts the cursor back where it was, so that the next
  // write overwrites it.  Where standard output is no terminal the text is
  // followed by a carriage return instead.  The text may be held for a
  // moment (a running count changes faster than anyone reads it); held
  // text is written, in order, before any other console or standard-error
  // output, by ConsoleFlush, and when the program ends normally.
  virtual void ConsoleWriteKeepCursor(std::string_view text) = 0;
  // Writes any console text still held.
  virtual void ConsoleFlush() = 0;
  // Foreground colour 0..15; the background is kept and blinking cleared.
  // Nothing is written when standard output is no terminal, or when the
  // environment asks for no colour (NO_COLOR set and not empty, or
  // TERM=dumb; see ColorWanted).
  virtual void ConsoleSetColor(int color) = 0;
  // Puts the console's colours back as they were before the first
  // ConsoleSetColor; nothing is written when no colour was set.
  virtual void ConsoleResetColor() = 0;
  // Writes text to standard error as it is (diagnostics for a person or
  // for cron's mail).  A closed standard error is ignored.
  virtual void ErrorWrite(std::string_view text) = 0;
  // The value of environment variable `name`; false when it is not set.
  virtual bool GetEnv(std::string_view name, std::string* value) = 0;
  // The character set the terminal shows text in ("UTF-8", "CP866", ...
  // as iconv names it), from the locale; "" when text should be shown as
  // it is, unconverted.
  virtual std::string TerminalCharset() = 0;
  // Converts `text` from character set `from` to `to` (names as iconv
  // knows them: "CP866", "UTF-8", "KOI8-R", "CP1251", "CP437",
  // "ISO-8859-1").  False, with `out` unspecified, when a set is unknown
  // or a character cannot be converted.
  virtual bool ConvertText(std::string_view text, std::string_view from, std::string_view to, std::string* out) = 0;
  // The system's words for why `result` failed (ReasonText).
  std::string ErrorReason(const Result& result) { return ReasonText(result); }

  // Files.
  //
  // Opens the existing file `name` for `access`, positioned at its start,
  // and takes the lock `sharing` names.  Returns kOk with the handle in
  // `file`; else `file` is kNoFile and the code says why: kFileNotFound or
  // kPathNotFound (no such file or folder), kAccessDenied (no permission,
  // a folder, or the lock was refused for about two seconds),
  // kTooManyOpenFiles.  Whether a read-only open with kExclusive holds a
  // writable handle underneath is unspecified (it does on Linux when the
  // file allows writing, to take a whole-file write lock).
  virtual Result OpenFile(std::string_view name, Access access, Sharing sharing, FileHandle* file) = 0;
  // Opens `name` for reading and writing, creating it when missing and
  // emptying it when it exists (only once the lock `sharing` names is
  // held, so a holder is not cut short).  Errors as OpenFile; a file that
  // could not be emptied is closed and the call fails.
  virtual Result CreateFile(std::string_view name, Sharing sharing, FileHandle* file) = 0;
  // Creates the file only when no file of that name exists, in any case
  // (kAccessDenied when one does); opened for reading and writing with no
  // lock.  Other errors as OpenFile.
  virtual Result CreateNewFile(std::string_view name, FileHandle* file) = 0;
  // Reads up to `count` bytes at the file position into `buf` and moves
  // the position past them; `done` is how many were read: fewer than
  // `count` only at the end of the file.  kDiskReadError (or another code)
  // when the system fails; `done` then tells what arrived before it.
  virtual Result ReadFile(FileHandle file, void* buf, std::size_t count, std::size_t* done) = 0;
  // Writes `count` bytes from `buf` at the file position (extending the
  // file) and moves the position past them; `done` is how many were
  // written.  kDiskWriteError for a full disk or a file too large,
  // kAccessDenied for a handle opened read-only.  The bytes are not
  // durable before FlushFile or SyncFiles.
  virtual Result WriteFile(FileHandle file, const void* buf, std::size_t count, std::size_t* done) = 0;
  // Moves the file position to byte `pos` from the start (past the end is
  // allowed: a later write fills the gap with zeros), or to the end.
  virtual Result SeekFile(FileHandle file, std::int64_t pos) = 0;
  virtual Result SeekFileEnd(FileHandle file) = 0;
  // The file position into `pos`.
  virtual Result TellFile(FileHandle file, std::int64_t* pos) = 0;
  // The file's size in bytes now (another process's writes included).
  virtual Result FileSize(FileHandle file, std::int64_t* size) = 0;
  // Cuts the file (or extends it with zeros) to end at the file position;
  // the position stays.  Not durable before FlushFile or SyncFiles.
  virtual Result TruncateFile(FileHandle file) = 0;
  // Positioned transfers: read or write `count` bytes at byte `offset`
  // of the file in one call, without a seek before them.  `done` is how
  // many were moved (fewer on a read only at the end of the file).  The
  // file position afterwards is unspecified: code that mixes them with
  // ReadFile/WriteFile seeks first.
  virtual Result ReadFileAt(FileHandle file, std::int64_t offset, void* buf, std::size_t count, std::size_t* done) = 0;
  virtual Result WriteFileAt(FileHandle file, std::int64_t offset, const void* buf, std::size_t count,
                             std::size_t* done) = 0;
  // Hands the file's data (and the metadata needed to read it back, such
  // as its size) to stable storage.  Interrupted calls are retried.  Not
  // its name: a new file's entry is durable after SyncDirectory of its
  // folder.  kDiskWriteError when the data may not have reached the disk.
  virtual Result FlushFile(FileHandle file) = 0;
  // As FlushFile for each of `count` files, at the cost of fewer calls to
  // the disk when there are many (one sync of their file system).  Fails
  // when any of them could not be made durable; which of the others were
  // is then unspecified.
  virtual Result SyncFiles(const FileHandle* files, std::size_t count) = 0;
  // Releases the handle and its lock, even when the call fails (a failed
  // close may mean that written bytes were lost: kDiskWriteError).  The
  // handle is never valid afterwards.
  virtual Result CloseFile(FileHandle file) = 0;
  // Removes the file `name`.  kFileNotFound or kPathNotFound when it does
  // not exist, kAccessDenied for a folder or without permission.  Not
  // durable before SyncDirectory of its folder.
  virtual Result DeleteFile(std::string_view name) = 0;
  // Opens `name` for appending, creating it when missing: every write goes
  // to the end of the file as one piece, even when another process appends
  // to the same file at the same time.  No lock is taken.  Errors as
  // OpenFile.
  virtual Result OpenAppend(std::string_view name, FileHandle* file) = 0;
  // Gives `from` the name `to` in one step; fails with kAccessDenied, and
  // changes nothing, when `to` exists in any case.  Both names are in one
  // folder.  kFileNotFound when `from` does not exist.  Where the file
  // system cannot rename without replacing, a link and an unlink are used
  // (a crash between them leaves both names).  Not durable before
  // SyncDirectory of the folder.
  virtual Result RenameNoReplace(std::string_view from, std::string_view to) = 0;
  // Gives `from` the name `to` in one step, replacing a file of that name:
  // a crash leaves either the old file or the new one under `to`.  Errors
  // as RenameNoReplace; not durable before SyncDirectory of the folder.
  virtual Result ReplaceFile(std::string_view from, std::string_view to) = 0;
  // Hands the entries of folder `dir` (files created, renamed or deleted in
  // it) to stable storage, so that after a power cut they are as they are
  // now.  An empty name is the current folder.
  virtual Result SyncDirectory(std::string_view dir) = 0;
  // Takes the run lock of an area: an advisory lock on the existing file or
  // folder `name` that only other Larkway runs take, so it never stands in
  // the way of other programs' byte locks.  A refused lock is retried for
  // about `wait_ms` milliseconds before the call fails with kLockViolation;
  // any other failure is the system's on the name itself (kFileNotFound,
  // kAccessDenied for a name this process may not read, ...).  The lock
  // lasts until `lock` is closed with CloseFile.
  virtual Result LockRun(std::string_view name, int wait_ms, FileHandle* lock) = 0;
  // Attribute bits of an existing file or directory into `attr`:
  // kAttrDirectory or kAttrArchive, with kAttrReadOnly when this process
  // may not write it.  kFileNotFound (or kPathNotFound) when it does not
  // exist.
  virtual Result QueryAttributes(std::string_view name, std::uint32_t* attr) = 0;

  // Directories.  `pattern` is a directory followed by a name that may hold
  // the wildcards "*" and "?" (matched without regard to case).  An entry is
  // delivered only when each of its bits 0x02..0x20 that is set is also set
  // in `attr_mask`.  FindFirst returns kFileNotFound (and no handle) when
  // nothing matches, kPathNotFound when the folder does not exist, another
  // code when the folder cannot be read.  A
  // pattern without wildcards delivers at most one entry: the one that
  // name means (see above for the case of names).  The
  // order of the entries is unspecified, and so is whether an entry added
  // or removed during the search is delivered.
  virtual Result FindFirst(std::string_view pattern, std::uint32_t attr_mask, SearchHandle* search,
                           DirEntry* entry) = 0;
  // The next matching entry into `entry`; kFileNotFound when there is none
  // left, another code (with the system's error) when the folder could not
  // be read on: a failed listing is never taken for its end.
  virtual Result FindNext(SearchHandle search, DirEntry* entry) = 0;
  // Ends a search FindFirst opened (0 is ignored).
  virtual void FindClose(SearchHandle search) = 0;
  // Creates the folder `name` (its parent must exist).  kAccessDenied
  // when a file or folder of that name exists in any case; not durable
  // before SyncDirectory of the parent.
  virtual Result MakeDirectory(std::string_view name) = 0;
  // `name` as an absolute name (the current folder before a relative
  // one), with the system's separators; touches no file.  Whether the case
  // of its parts is resolved is unspecified.
  virtual std::string FullPath(std::string_view name) = 0;

  // Clock.  The local date and time now, to the hundredth of a second
  // (in Sec100).
  virtual MsgDateTime Now() = 0;
  // Lets the clock move on (used while waiting for a new MSGID serial).
  virtual void Yield() = 0;
  // A clock that only moves forward, for how long something has lasted
  // (how long a batch has been open, a destination held); not the date.
  virtual std::chrono::steady_clock::time_point SteadyNow() = 0;
};

// The platform in use: the operating system's own unless a test installed
// another one.
Platform& Os();
// Installs `p` (not owned) as the platform in use; nullptr restores the
// operating system's.  For tests.
void SetPlatform(Platform* p);
// The operating system's implementation.
Platform& NativePlatform();

// Installs a platform for the lifetime of the guard and puts the one that
// was in use back when it ends.  For tests.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(Platform* p) : previous_(&Os()) { SetPlatform(p); }
  ~ScopedPlatform() { SetPlatform(previous_ == &NativePlatform() ? nullptr : previous_); }
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform* previous_;
};

// Whether the console should be coloured: on a terminal, unless NO_COLOR
// is set to a non-empty value or TERM is "dumb".  `no_color` and `term`
// are null when the variable is not set.
bool ColorWanted(bool is_terminal, const std::string* no_color, const std::string* term);

// The operating system's name as the banner and the log show it
// ("Linux", "WIN32").
extern const char* const kPlatformName;
// The program's name as the usage line shows it: on Linux the name it was
// called by, without its folder; on Win32 "LARKWAY.EXE".
std::string ProgramName(std::string_view argv0);

// Path conventions of this operating system.
extern const char kPathSeparator;   // appended where a directory is named
extern const char* const kLineEnd;  // console line end
inline bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }
// The fixed part of a name the program creates ("12.MSG", ".SQD",
// "lastread"), in the case this system's other FidoNet programs expect.
std::string FixedNamePart(std::string_view upper_case_part);
// Whether path values of the configuration are folded to upper case with
// the rest of the line.
extern const bool kFoldConfigPaths;

// Heap bytes allocated through the program's allocation operators and not
// yet released.
std::int64_t HeapInUse();

// Process-level runtime support.
using FaultReporter = void (*)(int fault_number, std::uintptr_t address);
// Installs handlers that turn a crash into `report` (segmentation fault 216,
// arithmetic fault 200, out of memory 203).  The reporter must not return.
void InstallFaultHandlers(FaultReporter report);
// Asks for a clean stop while it lives: the first SIGTERM, SIGINT or
// SIGHUP (on Windows Ctrl+C, Ctrl+Break or closing the console) only
// records the request, which StopRequest() then reports; a second one ends
// the process at once with 128 + its number (every update on disk is safe
// against that).  Its end puts back the handling it found.  One at a time.
class StopWatch {
 public:
  StopWatch();
  ~StopWatch();
  StopWatch(const StopWatch&) = delete;
  StopWatch& operator=(const StopWatch&) = delete;
};
// The number of the signal that asked for a stop while a StopWatch lived
// (0 when none did).
int StopRequest();
// The name of stop signal `number` ("SIGTERM"), or "signal N".
std::string StopSignalName(int number);

// Writes bytes to standard output without touching the heap (safe inside a
// fault handler).
void RawConsoleWrite(const char* text, std::size_t length);
// Offset of a code address from the start of the program image.
std::uintptr_t ImageOffset(std::uintptr_t address);

}  // namespace lw::platform
