#include "fidoutil/helpers.h"

#include <array>
#include <cstring>

#include "platform/file_finder.h"
#include "platform/platform.h"

namespace lw {

namespace {

std::int32_t g_last_serial = 0;

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[i] = c;
  }
  return t;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0x77073096u && kCrcTable[255] == 0x2D02EF8Du);

std::int32_t SerialFromClock() {
  MsgDateTime t = platform::Os().Now();
  std::uint32_t v = static_cast<std::uint32_t>(t.Year + 10) * 355u * 86400u +
                    static_cast<std::uint32_t>(t.Month) * 30u * 86400u + static_cast<std::uint32_t>(t.Day) * 86400u +
                    static_cast<std::uint32_t>(t.Hour) * 3600u + static_cast<std::uint32_t>(t.Min) * 60u +
                    static_cast<std::uint32_t>(t.Sec);
  v = (v << 7) | (static_cast<std::uint32_t>(t.Sec100) & 127u);
  return static_cast<std::int32_t>(v);
}

bool FindAny(std::string_view pattern) {
  std::unique_ptr<FileFinder> finder = NewFileFinder();
  bool found = finder->FindFirst(pattern, 0x3F);
  finder->FindClose();
  return found;
}

bool EndsWithSeparator(std::string_view s) { return !s.empty() && platform::IsPathSeparator(s.back()); }

}  // namespace

std::string NewMsgIdSerial() {
  std::int32_t v = SerialFromClock();
  while (v == g_last_serial) {
    platform::Os().Yield();
    v = SerialFromClock();
  }
  g_last_serial = v;
  return Hex8(static_cast<std::uint32_t>(v));
}

std::string Hex8(std::uint32_t value) {
  char hex[9];
  for (int i = 7; i >= 0; --i) {
    hex[i] = "0123456789abcdef"[value & 15];
    value >>= 4;
  }
  hex[8] = 0;
  return std::string(hex);
}

std::uint32_t Crc32Update(std::uint32_t crc, std::uint8_t byte) { return (crc >> 8) ^ kCrcTable[(crc ^ byte) & 0xFF]; }

bool DirHasEntries(std::string_view path) {
  std::string pattern(path);
  if (!path.empty() && !EndsWithSeparator(path)) pattern += platform::kPathSeparator;  // "" is the current folder
  pattern += "*.*";
  return FindAny(pattern);
}

bool FileExists(std::string_view name) { return !name.empty() && FindAny(name); }

bool DeleteFileOk(std::string_view name) { return platform::Os().DeleteFile(name) == platform::kOk; }

namespace {

// Makes sure folder `dir` exists: creates it when missing and makes the new
// entry durable in its parent.  False when it cannot be made so, with what
// failed and why in `*cause` when `cause` is given.
bool EnsureDir(const std::string& dir, std::string* cause) {
  platform::Platform& os = platform::Os();
  const auto noted = [&](const std::string& name, const platform::Result& rc) {
    if (cause != nullptr) *cause = name + ": " + platform::ReasonText(rc);
    return false;
  };
  std::uint32_t attr = 0;
  if (os.QueryAttributes(dir, &attr) == platform::kOk) {
    if ((attr & platform::kAttrDirectory) != 0) return true;
    if (cause != nullptr) *cause = dir + ": a file holds the folder's name";
    return false;
  }
  if (const platform::Result made = os.MakeDirectory(dir); made != platform::kOk) {
    // Another program may have made it in the meantime.
    if (os.QueryAttributes(dir, &attr) == platform::kOk && (attr & platform::kAttrDirectory) != 0) return true;
    return noted(dir, made);
  }
  const std::string parent = ParentDir(dir);
  const platform::Result synced = os.SyncDirectory(parent);
  return synced == platform::kOk || noted(parent, synced);
}

}  // namespace

bool ForceDirectories(std::string_view path, std::string* cause) {
  std::string full = platform::Os().FullPath(path);
  if (full.size() > 1 && EndsWithSeparator(full)) full.pop_back();
  if (full.size() <= 1) return true;  // the file-system root
  std::string prefix;
  for (char c : full) {
    // The first separator follows the root (or a drive) itself.
    if (platform::IsPathSeparator(c) && prefix.size() > 1 && !EndsWithSeparator(prefix) && prefix.back() != ':' &&
        !EnsureDir(prefix, cause)) {
      return false;
    }
    prefix += c;
  }
  return EnsureDir(prefix, cause);
}

std::string ParentDir(std::string_view path) {
  std::string full = platform::Os().FullPath(path);
  while (!full.empty() && !platform::IsPathSeparator(full.back())) full.pop_back();
  if (full.empty()) return std::string();
  if (full.size() == 1) return std::string(full);  // the root is its own parent
  full.pop_back();
  return std::string(full);
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

void StrToZ(char* dest, std::size_t capacity, std::string_view s) {
  if (capacity == 0) return;
  std::size_t n = s.size() < capacity - 1 ? s.size() : capacity - 1;
  std::memcpy(dest, s.data(), n);
  dest[n] = 0;
}

std::size_t ZLength(const char* z, std::size_t capacity) {
  std::size_t n = 0;
  while (n < capacity && z[n] != 0) ++n;
  return n;
}

std::string ZToStr(const char* z, std::size_t capacity) {
  return std::string(std::string_view(z, ZLength(z, capacity)));
}

void ZAppend(char* dest, std::size_t capacity, const char* z) {
  std::size_t at = ZLength(dest, capacity);
  if (at >= capacity) return;
  StrToZ(dest + at, capacity - at, std::string_view(z));
}

int ZCompareLimited(const char* a, const char* b, std::size_t max_count) {
  for (std::size_t i = 0; i < max_count; ++i) {
    unsigned char ca = static_cast<unsigned char>(a[i]);
    unsigned char cb = static_cast<unsigned char>(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) break;
  }
  return 0;
}

}  // namespace lw
