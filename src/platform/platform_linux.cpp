// Linux implementation of the runtime-support layer.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "platform/folder_name_index.h"
#include "platform/platform.h"
#include "platform/system_calls_linux.h"

namespace lw::platform {

const char kPathSeparator = '/';
const char* const kLineEnd = "\n";
const bool kFoldConfigPaths = false;
const char* const kPlatformName = "Linux";

std::string ProgramName(std::string_view argv0) {
  std::size_t slash = argv0.rfind('/');
  std::string_view base = slash == std::string_view::npos ? argv0 : argv0.substr(slash + 1);
  return base.empty() ? std::string("larkway") : std::string(base);
}

namespace {

// open is variadic; the table holds a function of fixed arguments.
int OpenWithMode(const char* path, int flags, mode_t mode) { return open(path, flags, mode); }

constexpr SystemCalls kRealCalls = {&OpenWithMode, &close,  &read,   &write,     &pread, &pwrite, &ftruncate, &fsync,
                                    &fdatasync,    &syncfs, &rename, &renameat2, &link,  &unlink, &mkdir};
SystemCalls g_calls = kRealCalls;

}  // namespace

SystemCalls& OsCalls() { return g_calls; }
const SystemCalls& RealOsCalls() { return kRealCalls; }

std::string FixedNamePart(std::string_view upper_case_part) {
  std::string s(upper_case_part);
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

namespace {

// The one place where errno becomes a DOS-style code.
int TranslateErrno(int e) {
  switch (e) {
    case 0: return kOk;
    case ENOENT: return kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return kPathNotFound;
    case EMFILE:
    case ENFILE: return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EEXIST:
    case ETXTBSY:
    case EAGAIN: return kAccessDenied;
    case EBADF: return kInvalidHandle;
    case ENOSPC:
    case EFBIG:
    case EDQUOT: return kDiskWriteError;
    default: return kDiskReadError;
  }
}

// The result of the call that just failed, from errno.
Result LastError() { return Result(TranslateErrno(errno), errno); }

// An errno that stands for a DOS-style code no system error came with.
int ErrnoFor(int code) {
  switch (code) {
    case kFileNotFound: return ENOENT;
    case kPathNotFound: return ENOTDIR;
    case kTooManyOpenFiles: return EMFILE;
    case kAccessDenied: return EACCES;
    case kInvalidHandle: return EBADF;
    case kDiskWriteError: return ENOSPC;
    case kLockViolation: return EWOULDBLOCK;
    default: return EIO;
  }
}

// Converts with iconv; false when a set is unknown or a character has no
// place in `to`.
bool Iconv(std::string_view text, const std::string& from, const std::string& to, std::string* out) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in(text);
  std::string result(in.size() * 4 + 16, '\0');
  char* in_p = in.data();
  std::size_t in_left = in.size();
  char* out_p = result.data();
  std::size_t out_left = result.size();
  std::size_t rc = iconv(cd, &in_p, &in_left, &out_p, &out_left);
  if (rc != static_cast<std::size_t>(-1)) rc = iconv(cd, nullptr, nullptr, &out_p, &out_left);
  iconv_close(cd);
  // iconv counts characters it replaced irreversibly; those are no
  // conversion either.
  if (rc != 0 || in_left != 0) return false;
  result.resize(result.size() - out_left);
  *out = std::move(result);
  return true;
}

// Runs a system call again while a signal interrupts it.
template <typename Call>
auto RetryOnEintr(Call call) {
  for (;;) {
    auto rc = call();
    if (rc >= 0 || errno != EINTR) return rc;
  }
}

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Normalize(std::string_view name) {
  std::string s(name);
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  return s;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The folder part of a resolved name ("." when it has none, "/" for the
// root) and the name in it.
std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}
std::string BaseOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string ResolveNormalized(const std::string& path, NameLookup* lookup);
std::string ResolveByIndex(const std::string& path, NameLookup* lookup);

std::string InFolder(const std::string& dir, const std::string& name) {
  return dir == "/" ? dir + name : dir + "/" + name;
}

// `base` in the folder that `dir` names (without a trailing "/"), found
// whatever the case of either; kept as written where it does not exist.
std::string ResolveIn(const std::string& dir, const std::string& base, NameLookup* lookup) {
  std::string real;
  *lookup = FindNameNoCase(dir, base, &real);
  if (*lookup == NameLookup::kFound) return InFolder(dir, real);
  if (*lookup == NameLookup::kMissing) return InFolder(dir, base);
  // The folder does not exist as written: find it whatever its case.
  NameLookup dir_lookup = NameLookup::kMissing;
  const std::string real_dir = ResolveNormalized(dir, &dir_lookup);
  if (dir_lookup != NameLookup::kFound || real_dir == dir) return InFolder(real_dir, base);
  if (Exists(InFolder(real_dir, base))) {
    *lookup = NameLookup::kFound;
    return InFolder(real_dir, base);
  }
  *lookup = FindNameNoCase(real_dir, base, &real);
  return InFolder(real_dir, *lookup == NameLookup::kFound ? real : base);
}

// The existing file that normalised `path` means, found whatever the case
// of each of its parts: the exact name first (one lstat), then, from the
// last part back, the folder index.  Where a part does not exist the rest
// is kept as written, which makes the result the name to create.
std::string ResolveNormalized(const std::string& path, NameLookup* lookup) {
  *lookup = NameLookup::kMissing;
  if (path.empty()) return path;
  if (Exists(path)) {
    *lookup = NameLookup::kFound;
    return path;
  }
  return ResolveByIndex(path, lookup);
}

// As ResolveNormalized without its first lstat: `path` (not empty) as
// written is not looked at, only through the folder index.
std::string ResolveByIndex(const std::string& path, NameLookup* lookup) {
  *lookup = NameLookup::kMissing;
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    std::string real;
    *lookup = FindNameNoCase(".", path, &real);
    return *lookup == NameLookup::kFound ? real : path;
  }
  if (slash + 1 == path.size()) return ResolveNormalized(path.substr(0, slash), lookup) + "/";
  if (slash == 0) return ResolveIn("/", path.substr(1), lookup);
  return ResolveIn(path.substr(0, slash), path.substr(slash + 1), lookup);
}

// The file `name` means, found whatever the case of its parts; `lookup`
// (optional) tells whether it exists, or its folder does not.  When it
// does not exist, the result is the name to create it under: its folders
// as found, the rest as written.
std::string ResolveExisting(std::string_view name, NameLookup* lookup = nullptr) {
  NameLookup found = NameLookup::kMissing;
  std::string path = ResolveNormalized(Normalize(name), &found);
  if (lookup != nullptr) *lookup = found;
  return path;
}

// Whether `name` exists, whatever its case; its real name in `path`.
bool ResolveIfExists(std::string_view name, std::string* path) {
  NameLookup lookup = NameLookup::kMissing;
  *path = ResolveExisting(name, &lookup);
  return lookup == NameLookup::kFound;
}

// Whether `name` exists whatever its case, as the folder index tells, with
// no lstat of the name as written first: for a call that fails by itself
// when that name exists (O_EXCL, RENAME_NOREPLACE), where the lstat would
// only repeat the call's own check.  The name to create under in `path`.
bool FoundByIndex(std::string_view name, std::string* path) {
  NameLookup lookup = NameLookup::kMissing;
  const std::string normalized = Normalize(name);
  *path = normalized.empty() ? normalized : ResolveByIndex(normalized, &lookup);
  return lookup == NameLookup::kFound;
}

// Keeps the folder index in step with a change this process makes: `change`
// runs between the index's checks of the folders of `removed` and `added`
// (resolved names; "" for none) and returns whether it was made.
template <typename Change>
Result ChangeEntries(const std::string& removed, const std::string& added, Change change) {
  if (!removed.empty()) BeforeOwnChange(FolderOf(removed));
  if (!added.empty()) BeforeOwnChange(FolderOf(added));
  const Result rc = change();
  if (rc != kOk) return rc;
  if (!removed.empty() && !added.empty() && FolderOf(removed) == FolderOf(added)) {
    AfterOwnChange(FolderOf(added), BaseOf(removed), BaseOf(added));
    return rc;
  }
  if (!removed.empty()) AfterOwnChange(FolderOf(removed), BaseOf(removed), "");
  if (!added.empty()) AfterOwnChange(FolderOf(added), "", BaseOf(added));
  return rc;
}

// Renames `source` to `target`, failing when `target` exists.
Result RenameWithoutReplacing(const std::string& source, const std::string& target) {
  if (g_calls.renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return kOk;
  if (errno != EINVAL && errno != ENOSYS) return LastError();
  // The file system cannot rename without replacing: a hard link fails
  // when the target exists, and the old name is then removed.
  if (g_calls.link(source.c_str(), target.c_str()) != 0) return LastError();
  if (g_calls.unlink(source.c_str()) != 0) return LastError();
  return kOk;
}

// See the locking comment beside `Sharing` in platform.h.
bool TryLock(int fd, bool write_lock, bool whole_file) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = write_lock ? F_WRLCK : F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = whole_file ? 0 : 1;
  for (int attempt = 0; attempt < 40; ++attempt) {
    if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) return false;
    usleep(50000);
  }
  return false;
}

Result ApplySharing(int fd, bool writable, Sharing sharing) {
  if (sharing == Sharing::kDenyNone) return kOk;
  bool whole = sharing == Sharing::kExclusive;
  if (!TryLock(fd, writable, whole)) return Result(kAccessDenied, errno == EINTR ? EWOULDBLOCK : errno);
  return kOk;
}

// The size a read-only open saw once its lock was taken, kept for the one
// FileSize call that nearly always follows (a reader sizing its buffer),
// which then costs no second fstat.  No write can change the size through
// a read-only descriptor, and a change by another program after the open
// is one FileSize could equally have missed by being called a moment
// sooner.  Used once; forgotten when the descriptor is closed.
struct SizeAtOpen {
  int fd = -1;
  std::int64_t size = 0;
};
SizeAtOpen g_size_at_open;

Result OpenWith(const std::string& path, int flags, Sharing sharing, FileHandle* file) {
  *file = kNoFile;
  int fd = RetryOnEintr([&] { return g_calls.open(path.c_str(), flags | O_CLOEXEC, 0666); });
  if (fd < 0) return LastError();
  int acc = flags & O_ACCMODE;
  Result rc = ApplySharing(fd, acc != O_RDONLY, sharing);
  if (rc != kOk) {
    g_calls.close(fd);
    return rc;
  }
  // A folder is no file.  Opening one for writing fails by itself (EISDIR);
  // only a read-only open succeeds, so only that one needs the fstat.
  if (acc == O_RDONLY) {
    struct stat st;
    if (fstat(fd, &st) != 0) {
      rc = LastError();
      g_calls.close(fd);
      return rc;
    }
    if (S_ISDIR(st.st_mode)) {
      g_calls.close(fd);
      return Result(kAccessDenied, EISDIR);
    }
    g_size_at_open = SizeAtOpen{fd, st.st_size};
  }
  *file = fd;
  return kOk;
}

// Opens the file at `path`, a name already resolved, as OpenFile does.
Result OpenResolved(const std::string& path, Access access, Sharing sharing, FileHandle* file) {
  const int flags = access == Access::kRead ? O_RDONLY : access == Access::kWrite ? O_WRONLY : O_RDWR;
  if (sharing == Sharing::kExclusive && access == Access::kRead) {
    // A whole-file write lock needs a writable descriptor; use one when
    // the file allows it (nothing is written through it).
    if (OpenWith(path, O_RDWR, sharing, file) == kOk) return kOk;
  }
  return OpenWith(path, flags, sharing, file);
}

// Runs `act` on existing file `name` as written first: the name is nearly
// always the real one, and the call itself tells, with no lstat before it.
// Only when that finds nothing is the name looked up whatever its case
// and, when it resolves to another name, `act` run again on that.
template <typename Act>
Result OnExistingName(std::string_view name, Act act) {
  const std::string exact = Normalize(name);
  const Result rc = act(exact);
  if (rc != kFileNotFound && rc != kPathNotFound) return rc;
  const std::string path = ResolveExisting(name);
  return path == exact ? rc : act(path);
}

bool MatchWild(const char* pat, const char* name) {
  // Iterative "*" / "?" matcher, case-insensitive for ASCII letters.
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*pat == '*') {
      star = pat++;
      resume = name;
    } else if (*pat == '?' || (*pat && FoldAscii(*pat) == FoldAscii(*name))) {
      ++pat;
      ++name;
    } else if (star) {
      pat = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pat == '*') ++pat;
  return *pat == 0;
}

bool MatchPattern(const std::string& pat, const char* name) {
  if (pat == "*.*" || pat == "*") return true;
  return MatchWild(pat.c_str(), name);
}

struct Search {
  DIR* dir = nullptr;
  std::string dir_path;  // with a trailing "/" unless empty
  std::string pattern;
  std::uint32_t mask = 0;
};

// Attribute bits of the folder entry `name`, whose type a listing gave as
// `type` (a DT_ value); its path `full` is stat'ed when that tells nothing.
std::uint32_t EntryAttr(const std::string& full, const char* name, unsigned char type) {
  std::uint32_t attr = 0;
  if (type == DT_UNKNOWN || type == DT_LNK) {
    struct stat st;
    if (stat(full.c_str(), &st) == 0) {
      type = S_ISDIR(st.st_mode) ? DT_DIR : (S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN);
    }
  }
  if (type == DT_DIR) {
    attr |= kAttrDirectory;
  } else if (type == DT_REG) {
    attr |= kAttrArchive;
  } else {
    attr |= kAttrSystem;
  }
  bool dots = std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
  if (name[0] == '.' && !dots) attr |= kAttrHidden;
  return attr;
}

// Whether an entry of attributes `attr` is delivered to a search of `mask`.
bool Delivered(std::uint32_t attr, std::uint32_t mask) {
  std::uint32_t filtered = attr & (kAttrHidden | kAttrSystem | kAttrVolume | kAttrDirectory | kAttrArchive);
  return (filtered & ~mask) == 0;
}

// A pattern without wildcards names at most one entry: it is found through
// the folder index instead of a walk over the whole folder (a check that
// one file exists is made for every message written).
Result FindOne(const std::string& pattern, std::uint32_t mask, DirEntry* entry) {
  NameLookup lookup = NameLookup::kMissing;
  const std::string path = ResolveExisting(pattern, &lookup);
  if (lookup != NameLookup::kFound) return lookup == NameLookup::kNoFolder ? kPathNotFound : kFileNotFound;
  const std::string name = BaseOf(path);
  const std::uint32_t attr = EntryAttr(path, name.c_str(), DT_UNKNOWN);
  if (!Delivered(attr, mask)) return kFileNotFound;
  entry->name = name;
  entry->attr = attr;
  return kOk;
}

// The next entry of the search that matches: kOk, kFileNotFound at the
// end of the folder, or the error that stopped the listing (readdir tells
// an error from the end only through errno).
Result NextMatch(Search* s, DirEntry* entry) {
  if (s->dir == nullptr) return kFileNotFound;  // a search for one name
  for (;;) {
    errno = 0;
    const dirent* e = readdir(s->dir);
    if (e == nullptr) return errno == 0 ? Result(kFileNotFound) : LastError();
    if (!MatchPattern(s->pattern, e->d_name)) continue;
    std::uint32_t attr = EntryAttr(s->dir_path + e->d_name, e->d_name, e->d_type);
    if (!Delivered(attr, s->mask)) continue;
    entry->name = e->d_name;
    entry->attr = attr;
    return kOk;
  }
}

bool StdoutIsTerminal() {
  static const int kIsTty = isatty(1);
  return kIsTty != 0;
}

void WriteAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

// The running count a scan shows changes once per message; written one by
// one it cost a system call per message.  Progress text is gathered and
// written when the last write is 50 ms old, before anything else reaches
// standard output or standard error, and when the program ends: the bytes
// and their order are the same, only fewer calls carry them.  The buffer
// is a fixed array: it holds no heap memory a run would count as leaked.
class ProgressBuffer {
 public:
  ~ProgressBuffer() { Flush(); }
  void Add(std::string_view text) {
    if (used_ + text.size() > sizeof pending_) Flush();
    if (text.size() > sizeof pending_) {
      WriteAll(1, text.data(), text.size());
    } else {
      std::memcpy(pending_ + used_, text.data(), text.size());
      used_ += text.size();
    }
    if (MonotonicMs() - flushed_at_ >= kInterval) Flush();
  }
  void Flush() {
    if (used_ == 0) return;
    WriteAll(1, pending_, used_);
    used_ = 0;
    flushed_at_ = MonotonicMs();
  }

 private:
  static constexpr std::int64_t kInterval = 50;  // ms
  static std::int64_t MonotonicMs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
  }
  char pending_[4096];
  std::size_t used_ = 0;
  std::int64_t flushed_at_ = -kInterval;
};

class LinuxPlatform final : public Platform {
 private:
  bool color_set_ = false;
  ProgressBuffer progress_;

  bool ColorOn() {
    std::string no_color, term;
    bool has_no_color = GetEnv("NO_COLOR", &no_color);
    bool has_term = GetEnv("TERM", &term);
    return ColorWanted(StdoutIsTerminal(), has_no_color ? &no_color : nullptr, has_term ? &term : nullptr);
  }

 public:
  void ConsoleWrite(std::string_view text) override {
    progress_.Flush();
    WriteAll(1, text.data(), text.size());
  }

  void ConsoleWriteKeepCursor(std::string_view text) override {
    std::string out;
    if (StdoutIsTerminal()) {
      out = "\0337";
      out += text;
      out += "\0338";
    } else {
      out = std::string(text) + "\r";
    }
    progress_.Add(out);
  }

  void ConsoleFlush() override { progress_.Flush(); }

  void ConsoleSetColor(int color) override {
    if (!ColorOn()) return;
    color_set_ = true;
    static const int kAnsi[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    std::string seq = "\033[25;";
    seq += (color & 8) ? "1;" : "22;";
    seq += std::to_string(30 + kAnsi[color & 7]);
    seq += "m";
    progress_.Flush();
    WriteAll(1, seq.data(), seq.size());
  }

  void ConsoleResetColor() override {
    if (!color_set_) return;
    color_set_ = false;
    progress_.Flush();
    WriteAll(1, "\033[0m", 4);
  }

  void ErrorWrite(std::string_view text) override {
    progress_.Flush();
    WriteAll(2, text.data(), text.size());
  }

  bool GetEnv(std::string_view name, std::string* value) override {
    const char* v = std::getenv(std::string(name).c_str());
    if (v == nullptr) return false;
    *value = v;
    return true;
  }

  std::string TerminalCharset() override {
    // The locale's character set; a C or POSIX locale shows bytes as they are.
    locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return "";
    std::string set = nl_langinfo_l(CODESET, loc);
    freelocale(loc);
    return set == "ANSI_X3.4-1968" ? std::string() : set;
  }

  bool ConvertText(std::string_view text, std::string_view from, std::string_view to, std::string* out) override {
    return Iconv(text, std::string(from), std::string(to), out);
  }

  Result OpenFile(std::string_view name, Access access, Sharing sharing, FileHandle* file) override {
    return OnExistingName(name, [&](const std::string& path) { return OpenResolved(path, access, sharing, file); });
  }

  Result CreateFile(std::string_view name, Sharing sharing, FileHandle* file) override {
    std::string path;
    const bool existed = ResolveIfExists(name, &path);
    // Take the lock before emptying the file, so a holder is not cut short.
    Result rc = ChangeEntries("", existed ? "" : path, [&] { return OpenWith(path, O_RDWR | O_CREAT, sharing, file); });
    if (rc != kOk) return rc;
    if (RetryOnEintr([&] { return g_calls.ftruncate(static_cast<int>(*file), 0); }) != 0) {
      rc = LastError();
      g_calls.close(static_cast<int>(*file));
      *file = kNoFile;
      return rc;
    }
    return kOk;
  }

  Result CreateNewFile(std::string_view name, FileHandle* file) override {
    std::string path;
    const bool existed = FoundByIndex(name, &path);
    *file = kNoFile;
    if (existed) return kAccessDenied;
    return ChangeEntries("", path, [&] { return OpenWith(path, O_RDWR | O_CREAT | O_EXCL, Sharing::kDenyNone, file); });
  }

  Result ReadFile(FileHandle file, void* buf, std::size_t count, std::size_t* done) override {
    *done = 0;
    char* p = static_cast<char*>(buf);
    while (*done < count) {
      ssize_t r = g_calls.read(static_cast<int>(file), p + *done, count - *done);
      if (r < 0) {
        if (errno == EINTR) continue;
        return LastError();
      }
      if (r == 0) break;
      *done += static_cast<std::size_t>(r);
    }
    return kOk;
  }

  Result WriteFile(FileHandle file, const void* buf, std::size_t count, std::size_t* done) override {
    *done = 0;
    const char* p = static_cast<const char*>(buf);
    while (*done < count) {
      ssize_t w = g_calls.write(static_cast<int>(file), p + *done, count - *done);
      if (w < 0) {
        if (errno == EINTR) continue;
        return LastError();
      }
      if (w == 0) break;
      *done += static_cast<std::size_t>(w);
    }
    return kOk;
  }

  Result ReadFileAt(FileHandle file, std::int64_t offset, void* buf, std::size_t count, std::size_t* done) override {
    *done = 0;
    char* p = static_cast<char*>(buf);
    while (*done < count) {
      ssize_t r = g_calls.pread(static_cast<int>(file), p + *done, count - *done, offset + static_cast<off_t>(*done));
      if (r < 0) {
        if (errno == EINTR) continue;
        return LastError();
      }
      if (r == 0) break;
      *done += static_cast<std::size_t>(r);
    }
    return kOk;
  }

  Result WriteFileAt(FileHandle file, std::int64_t offset, const void* buf, std::size_t count,
                     std::size_t* done) override {
    *done = 0;
    const char* p = static_cast<const char*>(buf);
    while (*done < count) {
      ssize_t w = g_calls.pwrite(static_cast<int>(file), p + *done, count - *done, offset + static_cast<off_t>(*done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return LastError();
      }
      if (w == 0) break;
      *done += static_cast<std::size_t>(w);
    }
    return kOk;
  }

  Result SeekFile(FileHandle file, std::int64_t pos) override {
    if (lseek(static_cast<int>(file), pos, SEEK_SET) < 0) return LastError();
    return kOk;
  }

  Result SeekFileEnd(FileHandle file) override {
    if (lseek(static_cast<int>(file), 0, SEEK_END) < 0) return LastError();
    return kOk;
  }

  Result TellFile(FileHandle file, std::int64_t* pos) override {
    off_t p = lseek(static_cast<int>(file), 0, SEEK_CUR);
    if (p < 0) return LastError();
    *pos = p;
    return kOk;
  }

  Result FileSize(FileHandle file, std::int64_t* size) override {
    if (g_size_at_open.fd == static_cast<int>(file)) {
      *size = g_size_at_open.size;
      g_size_at_open.fd = -1;
      return kOk;
    }
    struct stat st;
    if (fstat(static_cast<int>(file), &st) != 0) return LastError();
    *size = st.st_size;
    return kOk;
  }

  Result TruncateFile(FileHandle file) override {
    off_t p = lseek(static_cast<int>(file), 0, SEEK_CUR);
    if (p < 0 || RetryOnEintr([&] { return g_calls.ftruncate(static_cast<int>(file), p); }) != 0) {
      return LastError();
    }
    return kOk;
  }

  Result FlushFile(FileHandle file) override {
    // EINVAL: the file is of a kind that cannot be synced (a pipe, say).
    if (RetryOnEintr([&] { return g_calls.fdatasync(static_cast<int>(file)); }) != 0 && errno != EINVAL) {
      return LastError();
    }
    return kOk;
  }

  Result SyncFiles(const FileHandle* files, std::size_t count) override {
    // A few files are synced one by one.  For many, one syncfs per file
    // system costs one flush of its journal instead of one per file; it
    // reports the write-back errors of every file on it (Linux 5.8 on).
    constexpr std::size_t kOneByOneUpTo = 3;
    if (count <= kOneByOneUpTo) {
      for (std::size_t i = 0; i < count; ++i) {
        if (Result rc = FlushFile(files[i]); rc != kOk) return rc;
      }
      return kOk;
    }
    std::vector<dev_t> synced;
    for (std::size_t i = 0; i < count; ++i) {
      struct stat st;
      if (fstat(static_cast<int>(files[i]), &st) != 0) return LastError();
      if (std::find(synced.begin(), synced.end(), st.st_dev) != synced.end()) continue;
      if (RetryOnEintr([&] { return g_calls.syncfs(static_cast<int>(files[i])); }) != 0) return LastError();
      synced.push_back(st.st_dev);
    }
    return kOk;
  }

  Result CloseFile(FileHandle file) override {
    if (g_size_at_open.fd == static_cast<int>(file)) g_size_at_open.fd = -1;
    // close is never retried: on Linux the descriptor is gone even when the
    // call reports EINTR, and a retry could close a descriptor another
    // thread has just been given.
    if (g_calls.close(static_cast<int>(file)) != 0 && errno != EINTR) return LastError();
    return kOk;
  }

  Result OpenAppend(std::string_view name, FileHandle* file) override {
    std::string path;
    const bool existed = ResolveIfExists(name, &path);
    return ChangeEntries("", existed ? "" : path,
                         [&] { return OpenWith(path, O_WRONLY | O_APPEND | O_CREAT, Sharing::kDenyNone, file); });
  }

  Result RenameNoReplace(std::string_view from, std::string_view to) override {
    std::string target;
    if (FoundByIndex(to, &target)) return kAccessDenied;
    const auto rename = [&](const std::string& source) {
      return ChangeEntries(source, target, [&] { return RenameWithoutReplacing(source, target); });
    };
    return OnExistingName(from, rename);
  }

  Result ReplaceFile(std::string_view from, std::string_view to) override {
    const std::string source = ResolveExisting(from);
    const std::string target = ResolveExisting(to);
    return ChangeEntries(source, target, [&] {
      return g_calls.rename(source.c_str(), target.c_str()) == 0 ? Result(kOk) : LastError();
    });
  }

  Result SyncDirectory(std::string_view dir) override {
    std::string path = dir.empty() ? std::string(".") : ResolveExisting(dir);
    int fd = RetryOnEintr([&] { return g_calls.open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
    if (fd < 0) return LastError();
    // EINVAL: the file system keeps no folder data that could be synced.
    Result rc = kOk;
    if (RetryOnEintr([&] { return g_calls.fsync(fd); }) != 0 && errno != EINVAL) rc = LastError();
    g_calls.close(fd);
    return rc;
  }

  Result LockRun(std::string_view name, int wait_ms, FileHandle* lock) override {
    *lock = kNoFile;
    std::string path = ResolveExisting(name);
    int fd = RetryOnEintr([&] { return g_calls.open(path.c_str(), O_RDONLY | O_CLOEXEC, 0); });
    if (fd < 0) return LastError();
    // flock locks are separate from the fcntl byte locks FidoNet programs
    // take, so this lock keeps out only another Larkway run.
    for (int waited = 0;; waited += 50) {
      if (flock(fd, LOCK_EX | LOCK_NB) == 0) break;
      if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= wait_ms) {
        const Result rc = errno == EWOULDBLOCK ? Result(kLockViolation, EWOULDBLOCK) : LastError();
        g_calls.close(fd);
        return rc;
      }
      usleep(50000);
    }
    *lock = fd;
    return kOk;
  }

  Result DeleteFile(std::string_view name) override {
    // unlink refuses a folder by itself (EISDIR, which means kAccessDenied).
    const auto remove = [](const std::string& path) {
      return ChangeEntries(path, "", [&] { return g_calls.unlink(path.c_str()) == 0 ? Result(kOk) : LastError(); });
    };
    return OnExistingName(name, remove);
  }

  Result QueryAttributes(std::string_view name, std::uint32_t* attr) override {
    std::string path = ResolveExisting(name);
    struct stat st;
    if (path.empty()) return kFileNotFound;
    if (stat(path.c_str(), &st) != 0) return LastError();
    *attr = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
    if (access(path.c_str(), W_OK) != 0) *attr |= kAttrReadOnly;
    return kOk;
  }

  Result FindFirst(std::string_view pattern, std::uint32_t attr_mask, SearchHandle* search, DirEntry* entry) override {
    *search = 0;
    std::string pat = Normalize(pattern);
    std::size_t slash = pat.rfind('/');
    if (!pat.empty() && pat.back() != '/' &&
        pat.find_first_of("*?", slash == std::string::npos ? 0 : slash + 1) == std::string::npos) {
      const Result rc = FindOne(pat, attr_mask, entry);
      if (rc == kOk) *search = reinterpret_cast<SearchHandle>(new Search);
      return rc;
    }
    auto* s = new Search;
    s->mask = attr_mask;
    if (slash == std::string::npos) {
      s->pattern = pat;
    } else {
      std::string dir = slash == 0 ? "/" : pat.substr(0, slash);
      s->dir_path = ResolveExisting(dir);
      if (s->dir_path.back() != '/') s->dir_path += '/';
      s->pattern = pat.substr(slash + 1);
    }
    if (s->pattern.empty()) {
      delete s;
      return kFileNotFound;
    }
    s->dir = opendir(s->dir_path.empty() ? "." : s->dir_path.c_str());
    if (s->dir == nullptr) {
      const Result rc = LastError();
      delete s;
      return rc == kFileNotFound ? Result(kPathNotFound, rc.system_error()) : rc;
    }
    if (const Result rc = NextMatch(s, entry); rc != kOk) {
      closedir(s->dir);
      delete s;
      return rc;
    }
    *search = reinterpret_cast<SearchHandle>(s);
    return kOk;
  }

  Result FindNext(SearchHandle search, DirEntry* entry) override {
    auto* s = reinterpret_cast<Search*>(search);
    if (s == nullptr) return kInvalidHandle;
    return NextMatch(s, entry);
  }

  void FindClose(SearchHandle search) override {
    auto* s = reinterpret_cast<Search*>(search);
    if (s == nullptr) return;
    if (s->dir != nullptr) closedir(s->dir);
    delete s;
  }

  Result MakeDirectory(std::string_view name) override {
    std::string path;
    const bool existed = ResolveIfExists(name, &path);
    if (existed) return kAccessDenied;
    return ChangeEntries("", path, [&] { return g_calls.mkdir(path.c_str(), 0777) == 0 ? Result(kOk) : LastError(); });
  }

  std::string FullPath(std::string_view name) override {
    std::string path = Normalize(name);
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return path;
    std::string full = cwd;
    if (full.back() != '/') full += '/';
    return full + path;
  }

  MsgDateTime Now() override {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    // Every log line asks; the local time of a second is worked out once.
    if (tv.tv_sec != now_second_) {
      const time_t t = tv.tv_sec;
      localtime_r(&t, &now_local_);
      now_second_ = tv.tv_sec;
    }
    const struct tm& tmv = now_local_;
    MsgDateTime lt;
    lt.Year = tmv.tm_year + 1900;
    lt.Month = tmv.tm_mon + 1;
    lt.Day = tmv.tm_mday;
    lt.Hour = tmv.tm_hour;
    lt.Min = tmv.tm_min;
    lt.Sec = tmv.tm_sec;
    lt.Sec100 = static_cast<int>(tv.tv_usec / 10000);
    return lt;
  }

  void Yield() override { usleep(1000); }
  std::chrono::steady_clock::time_point SteadyNow() override { return std::chrono::steady_clock::now(); }

 private:
  time_t now_second_ = -1;  // the second now_local_ is the local time of
  struct tm now_local_ {};
};

FaultReporter g_reporter = nullptr;

void OnSignal(int sig, siginfo_t* info, void* context) {
  std::uintptr_t addr = reinterpret_cast<std::uintptr_t>(info->si_addr);
#if defined(__x86_64__)
  auto* uc = static_cast<ucontext_t*>(context);
  addr = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#else
  (void)context;
#endif
  int number = sig == SIGFPE ? 200 : 216;
  if (g_reporter) g_reporter(number, addr == 0 ? 1 : addr);
  _exit(number);
}

void OnOutOfMemory() {
  if (g_reporter) g_reporter(203, reinterpret_cast<std::uintptr_t>(&OnOutOfMemory));
  _exit(203);
}

}  // namespace

std::string ReasonText(const Result& result) {
  if (result.ok()) return "";
  return std::strerror(result.system_error() != 0 ? result.system_error() : ErrnoFor(result.code()));
}

Platform& NativePlatform() {
  static LinuxPlatform instance;
  return instance;
}

void InstallFaultHandlers(FaultReporter report) {
  g_reporter = report;
  static char alt_stack[64 * 1024];
  stack_t ss;
  ss.ss_sp = alt_stack;
  ss.ss_size = sizeof alt_stack;
  ss.ss_flags = 0;
  sigaltstack(&ss, nullptr);
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_sigaction = OnSignal;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGSEGV, &sa, nullptr);
  sigaction(SIGBUS, &sa, nullptr);
  sigaction(SIGFPE, &sa, nullptr);
  // A closed output pipe must not end the run in the middle of an area: a
  // failed console write is ignored instead.
  signal(SIGPIPE, SIG_IGN);
  std::set_new_handler(OnOutOfMemory);
}

namespace {

const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
volatile std::sig_atomic_t g_stop_signal = 0;
struct sigaction g_stop_handling_before[std::size(kStopSignals)];

// Only notes the request: the run stops between messages.  The second
// request ends the process here (_exit is safe in a handler).
void OnStopSignal(int number) {
  if (g_stop_signal != 0) _exit(128 + number);
  g_stop_signal = number;
}

}  // namespace

StopWatch::StopWatch() {
  g_stop_signal = 0;
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnStopSignal;
  // Calls under way go on rather than fail with EINTR.
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
    sigaction(kStopSignals[i], &sa, &g_stop_handling_before[i]);
  }
}

StopWatch::~StopWatch() {
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
    sigaction(kStopSignals[i], &g_stop_handling_before[i], nullptr);
  }
  g_stop_signal = 0;
}

int StopRequest() { return g_stop_signal; }

std::string StopSignalName(int number) {
  switch (number) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    default: return "signal " + std::to_string(number);
  }
}

void RawConsoleWrite(const char* text, std::size_t length) { WriteAll(1, text, length); }

std::uintptr_t ImageOffset(std::uintptr_t address) {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(address), &info) != 0 && info.dli_fbase) {
    return address - reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  }
  return address;
}

}  // namespace lw::platform
