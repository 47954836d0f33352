// Win32 implementation of the runtime-support layer.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/windows_api.h"

namespace lw::platform {

const char kPathSeparator = '\\';
const char* const kLineEnd = "\r\n";
const bool kFoldConfigPaths = true;
const char* const kPlatformName = "WIN32";

std::string ProgramName(std::string_view) { return "LARKWAY.EXE"; }

std::string FixedNamePart(std::string_view upper_case_part) { return std::string(upper_case_part); }

namespace {

// The one place where Win32 error codes become DOS-style codes (the low
// codes are the same numbers).
int Translate(DWORD e) {
  switch (e) {
    case ERROR_SUCCESS: return kOk;
    case ERROR_FILE_NOT_FOUND: return kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return kPathNotFound;
    case ERROR_TOO_MANY_OPEN_FILES: return kTooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
    case ERROR_WRITE_PROTECT: return kAccessDenied;
    case ERROR_INVALID_HANDLE: return kInvalidHandle;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return kDiskWriteError;
    default: return kDiskReadError;
  }
}

// The result of a call that failed with Win32 error `e`.
Result Failed(DWORD e) { return Result(Translate(e), static_cast<int>(e)); }

// The result of the call that just failed.
Result LastError() { return Failed(GetLastError()); }

// The Win32 code page of a character set named as iconv names it; 0 when
// it is unknown.
UINT CodePage(std::string_view name) {
  std::string n;
  for (char c : name) n += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  if (n == "UTF-8" || n == "UTF8") return CP_UTF8;
  if (n == "CP866" || n == "IBM866") return 866;
  if (n == "CP437" || n == "IBM437") return 437;
  if (n == "CP850" || n == "IBM850") return 850;
  if (n == "CP1251" || n == "WINDOWS-1251") return 1251;
  if (n == "CP1252" || n == "WINDOWS-1252") return 1252;
  if (n == "KOI8-R") return 20866;
  if (n == "KOI8-U") return 21866;
  if (n == "ISO-8859-1" || n == "LATIN1") return 28591;
  if (n == "ISO-8859-5") return 28595;
  return 0;
}

bool ToWide(std::string_view text, UINT page, std::wstring* wide) {
  if (text.empty()) return true;
  DWORD flags = page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
  int n = MultiByteToWideChar(page, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return false;
  wide->resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(page, flags, text.data(), static_cast<int>(text.size()), wide->data(), n) == n;
}

bool FromWide(const std::wstring& wide, UINT page, std::string* out) {
  out->clear();
  if (wide.empty()) return true;
  BOOL used_default = FALSE;
  // UTF-8 takes no default-character check; every character has a place.
  BOOL* check = page == CP_UTF8 ? nullptr : &used_default;
  int n = WideCharToMultiByte(page, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, check);
  if (n <= 0 || used_default) return false;
  out->resize(static_cast<std::size_t>(n));
  return WideCharToMultiByte(page, 0, wide.data(), static_cast<int>(wide.size()), out->data(), n, nullptr, nullptr) ==
         n;
}

HANDLE Handle(FileHandle f) { return reinterpret_cast<HANDLE>(f); }

OVERLAPPED AtOffset(std::int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return at;
}

std::string Native(std::string_view name) {
  std::string s(name);
  for (char& c : s) {
    if (c == '/') c = '\\';
  }
  return s;
}

// Deleting and renaming are always shared, as on Linux, where a file can
// be unlinked or renamed while it is open: the scan deletes a message while
// it still holds it open, so no other program can take it between, and a
// new *.MSG message is renamed into place while its writer holds it.
DWORD ShareFlags(Sharing sharing) {
  switch (sharing) {
    case Sharing::kExclusive: return FILE_SHARE_DELETE;
    case Sharing::kDenyWrite: return FILE_SHARE_READ | FILE_SHARE_DELETE;
    case Sharing::kDenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  }
  return 0;
}

// Opens with CreateFileA; a sharing violation is retried for about two
// seconds before the open fails.
Result Open(std::string_view name, DWORD access, DWORD share, DWORD disposition, FileHandle* file) {
  *file = kNoFile;
  std::string path = Native(name);
  for (int attempt = 0;; ++attempt) {
    HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      *file = reinterpret_cast<FileHandle>(h);
      return kOk;
    }
    DWORD e = GetLastError();
    if ((e != ERROR_SHARING_VIOLATION && e != ERROR_LOCK_VIOLATION) || attempt >= 40) return Failed(e);
    Sleep(50);
  }
}

bool MatchesMask(DWORD attr, std::uint32_t mask) {
  std::uint32_t a =
      static_cast<std::uint32_t>(attr) & (kAttrHidden | kAttrSystem | kAttrVolume | kAttrDirectory | kAttrArchive);
  return (a & ~mask) == 0;
}

struct Search {
  HANDLE find = INVALID_HANDLE_VALUE;
  std::uint32_t mask = 0;
};

bool Deliver(Search* s, const WIN32_FIND_DATAA& d, DirEntry* entry) {
  if (!MatchesMask(d.dwFileAttributes, s->mask)) return false;
  entry->name = d.cFileName;
  entry->attr = static_cast<std::uint32_t>(d.dwFileAttributes) & 0x3F;
  return true;
}

HANDLE StdOut() { return GetStdHandle(STD_OUTPUT_HANDLE); }
HANDLE StdErr() { return GetStdHandle(STD_ERROR_HANDLE); }

void WriteAll(const char* p, std::size_t n) {
  DWORD written = 0;
  while (n > 0 && WriteFile(StdOut(), p, static_cast<DWORD>(n), &written, nullptr) && written > 0) {
    p += written;
    n -= written;
  }
}

class Win32Platform final : public Platform {
 private:
  bool color_set_ = false;
  WORD original_attr_ = 7;

 public:
  void ConsoleResetColor() override {
    if (!color_set_) return;
    color_set_ = false;
    SetConsoleTextAttribute(StdOut(), original_attr_);
  }

  void ErrorWrite(std::string_view text) override {
    DWORD written = 0;
    const char* p = text.data();
    std::size_t n = text.size();
    while (n > 0 && ::WriteFile(StdErr(), p, static_cast<DWORD>(n), &written, nullptr) && written > 0) {
      p += written;
      n -= written;
    }
  }

  bool GetEnv(std::string_view name, std::string* value) override {
    const char* v = std::getenv(std::string(name).c_str());
    if (v == nullptr) return false;
    *value = v;
    return true;
  }

  // The console shows the bytes as they are, in its own code page.
  std::string TerminalCharset() override { return ""; }

  bool ConvertText(std::string_view text, std::string_view from, std::string_view to, std::string* out) override {
    UINT from_page = CodePage(from);
    UINT to_page = CodePage(to);
    if (from_page == 0 || to_page == 0) return false;
    std::wstring wide;
    return ToWide(text, from_page, &wide) && FromWide(wide, to_page, out);
  }

  void ConsoleWrite(std::string_view text) override { WriteAll(text.data(), text.size()); }

  void ConsoleWriteKeepCursor(std::string_view text) override {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(StdOut(), &info)) {
      WriteAll(text.data(), text.size());
      SetConsoleCursorPosition(StdOut(), info.dwCursorPosition);
    } else {
      std::string out(text);
      out += '\r';
      WriteAll(out.data(), out.size());
    }
  }

  // Nothing is held: the console calls place the cursor as they write.
  void ConsoleFlush() override {}

  // The foreground becomes `color`; the background of the current
  // attribute stays, blinking (the background intensity bit) is cleared.
  void ConsoleSetColor(int color) override {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(StdOut(), &info)) return;
    std::string no_color;
    if (GetEnv("NO_COLOR", &no_color) && !no_color.empty()) return;
    if (!color_set_) original_attr_ = info.wAttributes;
    color_set_ = true;
    WORD attr = static_cast<WORD>((info.wAttributes & 0x70) | (color & 0x0F));
    SetConsoleTextAttribute(StdOut(), attr);
  }

  Result OpenFile(std::string_view name, Access access, Sharing sharing, FileHandle* file) override {
    DWORD a = access == Access::kRead    ? GENERIC_READ
              : access == Access::kWrite ? GENERIC_WRITE
                                         : GENERIC_READ | GENERIC_WRITE;
    return Open(name, a, ShareFlags(sharing), OPEN_EXISTING, file);
  }

  Result CreateFile(std::string_view name, Sharing sharing, FileHandle* file) override {
    return Open(name, GENERIC_READ | GENERIC_WRITE, ShareFlags(sharing), CREATE_ALWAYS, file);
  }

  Result CreateNewFile(std::string_view name, FileHandle* file) override {
    return Open(name, GENERIC_READ | GENERIC_WRITE, ShareFlags(Sharing::kDenyNone), CREATE_NEW, file);
  }

  Result ReadFile(FileHandle file, void* buf, std::size_t count, std::size_t* done) override {
    *done = 0;
    char* p = static_cast<char*>(buf);
    while (*done < count) {
      DWORD got = 0;
      if (!::ReadFile(Handle(file), p + *done, static_cast<DWORD>(count - *done), &got, nullptr)) return LastError();
      if (got == 0) break;
      *done += got;
    }
    return kOk;
  }

  Result WriteFile(FileHandle file, const void* buf, std::size_t count, std::size_t* done) override {
    *done = 0;
    const char* p = static_cast<const char*>(buf);
    while (*done < count) {
      DWORD put = 0;
      if (!::WriteFile(Handle(file), p + *done, static_cast<DWORD>(count - *done), &put, nullptr)) return LastError();
      if (put == 0) break;
      *done += put;
    }
    return kOk;
  }

  // With an OVERLAPPED offset a synchronous handle reads or writes at that
  // offset (and its file pointer moves past what was moved).
  Result ReadFileAt(FileHandle file, std::int64_t offset, void* buf, std::size_t count, std::size_t* done) override {
    *done = 0;
    char* p = static_cast<char*>(buf);
    while (*done < count) {
      OVERLAPPED at = AtOffset(offset + static_cast<std::int64_t>(*done));
      DWORD got = 0;
      if (!::ReadFile(Handle(file), p + *done, static_cast<DWORD>(count - *done), &got, &at)) {
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        return LastError();
      }
      if (got == 0) break;
      *done += got;
    }
    return kOk;
  }

  Result WriteFileAt(FileHandle file, std::int64_t offset, const void* buf, std::size_t count,
                     std::size_t* done) override {
    *done = 0;
    const char* p = static_cast<const char*>(buf);
    while (*done < count) {
      OVERLAPPED at = AtOffset(offset + static_cast<std::int64_t>(*done));
      DWORD put = 0;
      if (!::WriteFile(Handle(file), p + *done, static_cast<DWORD>(count - *done), &put, &at)) return LastError();
      if (put == 0) break;
      *done += put;
    }
    return kOk;
  }

  Result SeekFile(FileHandle file, std::int64_t pos) override {
    LARGE_INTEGER to;
    to.QuadPart = pos;
    return SetFilePointerEx(Handle(file), to, nullptr, FILE_BEGIN) ? Result(kOk) : LastError();
  }

  Result SeekFileEnd(FileHandle file) override {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    return SetFilePointerEx(Handle(file), zero, nullptr, FILE_END) ? Result(kOk) : LastError();
  }

  Result TellFile(FileHandle file, std::int64_t* pos) override {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    LARGE_INTEGER now;
    if (!SetFilePointerEx(Handle(file), zero, &now, FILE_CURRENT)) return LastError();
    *pos = now.QuadPart;
    return kOk;
  }

  Result FileSize(FileHandle file, std::int64_t* size) override {
    LARGE_INTEGER s;
    if (!GetFileSizeEx(Handle(file), &s)) return LastError();
    *size = s.QuadPart;
    return kOk;
  }

  Result TruncateFile(FileHandle file) override { return SetEndOfFile(Handle(file)) ? Result(kOk) : LastError(); }

  Result FlushFile(FileHandle file) override { return FlushFileBuffers(Handle(file)) ? Result(kOk) : LastError(); }

  // Win32 has no cheaper call for many files than one flush each.
  Result SyncFiles(const FileHandle* files, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      if (Result rc = FlushFile(files[i]); rc != kOk) return rc;
    }
    return kOk;
  }

  Result CloseFile(FileHandle file) override { return CloseHandle(Handle(file)) ? Result(kOk) : LastError(); }

  Result DeleteFile(std::string_view name) override {
    return DeleteFileA(Native(name).c_str()) ? Result(kOk) : LastError();
  }

  Result OpenAppend(std::string_view name, FileHandle* file) override {
    return Open(name, FILE_APPEND_DATA, ShareFlags(Sharing::kDenyNone), OPEN_ALWAYS, file);
  }

  Result RenameNoReplace(std::string_view from, std::string_view to) override {
    // Without MOVEFILE_REPLACE_EXISTING an existing target makes it fail.
    return MoveFileExA(Native(from).c_str(), Native(to).c_str(), MOVEFILE_WRITE_THROUGH) ? Result(kOk) : LastError();
  }

  Result ReplaceFile(std::string_view from, std::string_view to) override {
    return MoveFileExA(Native(from).c_str(), Native(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? Result(kOk)
               : LastError();
  }

  // NTFS journals its folder entries; Win32 offers no call that syncs a
  // folder opened the ordinary way.
  Result SyncDirectory(std::string_view) override { return kOk; }

  // A handle on the area that shares reading and writing: Win32 sharing
  // modes of the bases keep other writers out; this only holds the area
  // for one Larkway run, through the lock of its first byte range beyond
  // any data (locking past the end of a file is allowed).
  Result LockRun(std::string_view name, int wait_ms, FileHandle* lock) override {
    *lock = kNoFile;
    HANDLE h = CreateFileA(Native(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    for (int waited = 0;; waited += 50) {
      OVERLAPPED at{};
      at.Offset = 0xFFFFFFF0u;
      at.OffsetHigh = 0x7FFFFFFFu;
      if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) break;
      // Only another holder's lock is waited for; a handle that takes no
      // byte locks (a folder) holds the area without one.
      if (GetLastError() != ERROR_LOCK_VIOLATION) break;
      if (waited >= wait_ms) {
        CloseHandle(h);
        return Result(kLockViolation, ERROR_LOCK_VIOLATION);
      }
      Sleep(50);
    }
    *lock = reinterpret_cast<FileHandle>(h);
    return kOk;
  }

  Result QueryAttributes(std::string_view name, std::uint32_t* attr) override {
    if (name.empty()) return kFileNotFound;
    DWORD a = GetFileAttributesA(Native(name).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return LastError();
    *attr = static_cast<std::uint32_t>(a) & 0x3F;
    return kOk;
  }

  Result FindFirst(std::string_view pattern, std::uint32_t attr_mask, SearchHandle* search, DirEntry* entry) override {
    *search = 0;
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA(Native(pattern).c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) {
      const Result rc = LastError();
      return rc == kOk ? Result(kFileNotFound) : rc;
    }
    auto* s = new Search{h, attr_mask};
    for (;;) {
      if (Deliver(s, d, entry)) {
        *search = reinterpret_cast<SearchHandle>(s);
        return kOk;
      }
      if (!FindNextFileA(h, &d)) break;
    }
    const DWORD e = GetLastError();
    ::FindClose(h);
    delete s;
    return e == ERROR_NO_MORE_FILES ? Result(kFileNotFound) : Failed(e);
  }

  Result FindNext(SearchHandle search, DirEntry* entry) override {
    auto* s = reinterpret_cast<Search*>(search);
    if (s == nullptr) return kInvalidHandle;
    WIN32_FIND_DATAA d;
    while (FindNextFileA(s->find, &d)) {
      if (Deliver(s, d, entry)) return kOk;
    }
    // The end of the folder, or an error that stopped the listing.
    const DWORD e = GetLastError();
    return e == ERROR_NO_MORE_FILES ? Result(kFileNotFound) : Failed(e);
  }

  void FindClose(SearchHandle search) override {
    auto* s = reinterpret_cast<Search*>(search);
    if (s == nullptr) return;
    ::FindClose(s->find);
    delete s;
  }

  Result MakeDirectory(std::string_view name) override {
    return CreateDirectoryA(Native(name).c_str(), nullptr) ? Result(kOk) : LastError();
  }

  std::string FullPath(std::string_view name) override {
    std::string path = Native(name);
    char buf[MAX_PATH * 4];
    DWORD n = GetFullPathNameA(path.empty() ? "." : path.c_str(), sizeof buf, buf, nullptr);
    if (n == 0 || n >= sizeof buf) return path;
    std::string full(buf, n);
    if (path.empty() && !full.empty() && full.back() != '\\') full += '\\';
    return full;
  }

  MsgDateTime Now() override {
    SYSTEMTIME st;
    GetLocalTime(&st);
    MsgDateTime t;
    t.Year = st.wYear;
    t.Month = st.wMonth;
    t.Day = st.wDay;
    t.Hour = st.wHour;
    t.Min = st.wMinute;
    t.Sec = st.wSecond;
    t.Sec100 = st.wMilliseconds / 10;
    return t;
  }

  void Yield() override { Sleep(1); }
  std::chrono::steady_clock::time_point SteadyNow() override { return std::chrono::steady_clock::now(); }
};

FaultReporter g_reporter = nullptr;

LONG WINAPI OnException(EXCEPTION_POINTERS* info) {
  int number = 216;
  switch (info->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_INT_DIVIDE_BY_ZERO: number = 200; break;
    case EXCEPTION_STACK_OVERFLOW: number = 202; break;
    default: break;
  }
  std::uintptr_t addr = reinterpret_cast<std::uintptr_t>(info->ExceptionRecord->ExceptionAddress);
  if (g_reporter) g_reporter(number, addr == 0 ? 1 : addr);
  ::ExitProcess(static_cast<UINT>(number));
}

void OnOutOfMemory() {
  if (g_reporter) g_reporter(203, reinterpret_cast<std::uintptr_t>(&OnOutOfMemory));
  ::ExitProcess(203);
}

}  // namespace

std::string ReasonText(const Result& result) {
  if (result.ok()) return "";
  // A code no system error came with: the low DOS-style codes are Win32's
  // own numbers for the same failures; the disk errors are not.
  DWORD e = static_cast<DWORD>(result.code());
  if (result.system_error() != 0) {
    e = static_cast<DWORD>(result.system_error());
  } else if (result.code() == kDiskReadError) {
    e = ERROR_READ_FAULT;
  } else if (result.code() == kDiskWriteError) {
    e = ERROR_WRITE_FAULT;
  }
  char buf[256];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, e, 0, buf, sizeof buf,
                           nullptr);
  while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == '.')) --n;
  return n > 0 ? std::string(buf, n) : "error " + std::to_string(e);
}

Platform& NativePlatform() {
  static Win32Platform instance;
  return instance;
}

void InstallFaultHandlers(FaultReporter report) {
  g_reporter = report;
  SetUnhandledExceptionFilter(OnException);
  std::set_new_handler(OnOutOfMemory);
}

namespace {

volatile LONG g_stop_signal = 0;

// Ctrl+C, Ctrl+Break and closing the console ask for a stop as SIGINT
// does on Linux; the second request is left to the default handling,
// which ends the process.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  return InterlockedCompareExchange(&g_stop_signal, SIGINT, 0) == 0 ? TRUE : FALSE;
}

}  // namespace

StopWatch::StopWatch() {
  g_stop_signal = 0;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopWatch::~StopWatch() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  g_stop_signal = 0;
}

int StopRequest() { return static_cast<int>(g_stop_signal); }

std::string StopSignalName(int number) {
  return number == SIGINT ? std::string("SIGINT") : "signal " + std::to_string(number);
}

void RawConsoleWrite(const char* text, std::size_t length) { WriteAll(text, length); }

std::uintptr_t ImageOffset(std::uintptr_t address) {
  return address - reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
}

}  // namespace lw::platform
