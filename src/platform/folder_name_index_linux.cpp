#include <dirent.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdlib>
#include <cstring>
#include <list>
#include <new>
#include <string>
#include <unordered_map>

#include "platform/folder_name_index.h"

namespace lw::platform {

namespace {

// How many folders keep an index.  A run works in a netmail folder and a
// few destinations at a time; more would only hold memory.
constexpr std::size_t kFoldersKept = 8;
// How recent a check of the folder lets BeforeOwnChange skip its own.
constexpr std::int64_t kFreshCheck = 1000000;  // 1 ms

// The index is a cache the platform keeps for the life of the process, as
// the C library keeps its own buffers: it lives in malloc's memory
// directly, outside the heap whose balance a run reports as its memory
// leak (heap.cpp).
template <typename T>
struct CacheAllocator {
  using value_type = T;
  CacheAllocator() = default;
  template <typename U>
  CacheAllocator(const CacheAllocator<U>&) {}
  T* allocate(std::size_t n) {
    // NOLINTNEXTLINE(bugprone-sizeof-expression): T is whatever the container stores, pointers included.
    void* p = std::malloc(n * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) { std::free(p); }
  template <typename U>
  bool operator==(const CacheAllocator<U>&) const {
    return true;
  }
};

using CacheString = std::basic_string<char, std::char_traits<char>, CacheAllocator<char>>;

struct CacheStringHash {
  std::size_t operator()(const CacheString& s) const { return std::hash<std::string_view>{}(s); }
};

// Lower-cased name -> real name.
using NameMap = std::unordered_multimap<CacheString, CacheString, CacheStringHash, std::equal_to<CacheString>,
                                        CacheAllocator<std::pair<const CacheString, CacheString>>>;

CacheString Lower(std::string_view name) {
  CacheString s(name);
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::int64_t Nanoseconds(const timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

// The stamps that change whenever an entry of the folder is added, removed
// or renamed, and the folder's identity (a folder replaced by another of
// the same name has another inode).
struct FolderStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  std::int64_t mtime = 0;
  std::int64_t ctime = 0;

  static FolderStamp Of(const struct stat& st) {
    return FolderStamp{st.st_dev, st.st_ino, Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
  }
  bool operator==(const FolderStamp&) const = default;
  // How far apart two changes may be and still get the same stamp: file
  // systems that keep whole seconds (their stamps have no fraction) get
  // 2 s, as FAT's do; the others stamp from the kernel's coarse clock,
  // which moves in ticks of at most 10 ms.
  std::int64_t Granularity() const {
    const bool whole_seconds = mtime % 1000000000 == 0 && ctime % 1000000000 == 0;
    return whole_seconds ? 2000000000 : 10000000;
  }
};

struct FolderNames {
  CacheString dir;
  FolderStamp stamp;        // the folder as the index matches it now
  bool racy;                // see IsRacy: negative answers need a new listing
  std::int64_t own_mtime;   // the folder's mtime right after our last change (-1: none)
  std::int64_t checked_at;  // the clock when the stamp was last compared with the folder
  NameMap names;

  // Git's "racy" rule: a change made after the listing, in the same clock
  // tick as the folder's last change before it, leaves the stamps as they
  // were, so a listing taken within a tick of that change may miss a name.
  // When that last change was our own, such a change is the window
  // AfterOwnChange accepts anyway; relisting for it would list a folder we
  // write into once per file we write.  Decided once, at the listing: our
  // own later changes move the stamps but make the listing no less
  // complete, and deciding again after each of them would list such a
  // folder once per file we write after all.
  static bool IsRacy(const FolderStamp& stamp, std::int64_t listed_at, std::int64_t own_mtime) {
    return stamp.mtime != own_mtime && stamp.mtime >= listed_at - stamp.Granularity();
  }

  bool Find(std::string_view name, std::string* real) const {
    auto it = names.find(Lower(name));
    if (it == names.end()) return false;
    *real = std::string(it->second);
    return true;
  }
  void Add(std::string_view real) {
    const CacheString key = Lower(real);
    auto [first, last] = names.equal_range(key);
    for (auto it = first; it != last; ++it) {
      if (std::string_view(it->second) == real) return;
    }
    names.emplace(key, CacheString(real));
  }
  void Remove(std::string_view real) {
    auto [first, last] = names.equal_range(Lower(real));
    for (auto it = first; it != last; ++it) {
      if (std::string_view(it->second) == real) {
        names.erase(it);
        return;
      }
    }
  }
};

std::int64_t g_listings = 0;
// Most recently used first.
std::list<FolderNames, CacheAllocator<FolderNames>> g_folders;

std::int64_t ClockNow() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return Nanoseconds(now);
}

// Lists `dir`, whose stamp before the listing is `stamp`, into a new
// index at the front; false when the folder cannot be read.
bool List(const std::string& dir, const FolderStamp& stamp, std::int64_t listed_at, std::int64_t own_mtime) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return false;
  ++g_listings;
  FolderNames folder{CacheString(dir), stamp,     FolderNames::IsRacy(stamp, listed_at, own_mtime),
                     own_mtime,        listed_at, {}};
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) folder.Add(e->d_name);
  }
  closedir(d);
  g_folders.push_front(std::move(folder));
  if (g_folders.size() > kFoldersKept) g_folders.pop_back();
  return true;
}

// The index of `dir`, moved to the front; end() when there is none.
auto Indexed(const std::string& dir) -> decltype(g_folders)::iterator {
  for (auto it = g_folders.begin(); it != g_folders.end(); ++it) {
    if (std::string_view(it->dir) == dir) {
      g_folders.splice(g_folders.begin(), g_folders, it);
      return g_folders.begin();
    }
  }
  return g_folders.end();
}

bool EntryExists(const std::string& dir, const std::string& name) {
  struct stat st;
  return lstat((dir == "/" ? dir + name : dir + "/" + name).c_str(), &st) == 0;
}

bool StatFolder(const std::string& dir, struct stat* st) { return stat(dir.c_str(), st) == 0 && S_ISDIR(st->st_mode); }

}  // namespace

NameLookup FindNameNoCase(const std::string& dir, std::string_view name, std::string* real) {
  // The clock is read before the stamp, so that a listing is never thought
  // to be later than it was.
  const std::int64_t now = ClockNow();
  struct stat st;
  if (!StatFolder(dir, &st)) return NameLookup::kNoFolder;
  const FolderStamp stamp = FolderStamp::Of(st);
  auto folder = Indexed(dir);
  std::int64_t own_mtime = -1;
  if (folder != g_folders.end()) {
    if (folder->stamp == stamp) {
      folder->checked_at = now;
      // A name the index holds is checked: another program may have
      // removed it in the tick of one of our own changes, unseen.
      if (folder->Find(name, real)) {
        if (EntryExists(dir, *real)) return NameLookup::kFound;
      } else if (!folder->racy) {
        return NameLookup::kMissing;
      }
    }
    if (folder->stamp.dev == stamp.dev && folder->stamp.ino == stamp.ino) own_mtime = folder->own_mtime;
    g_folders.erase(folder);
  }
  if (!List(dir, stamp, now, own_mtime)) return NameLookup::kNoFolder;
  return g_folders.front().Find(name, real) ? NameLookup::kFound : NameLookup::kMissing;
}

void BeforeOwnChange(const std::string& dir) {
  auto folder = Indexed(dir);
  if (folder == g_folders.end() || ClockNow() - folder->checked_at < kFreshCheck) return;
  struct stat st;
  if (!StatFolder(dir, &st) || FolderStamp::Of(st) != folder->stamp) g_folders.erase(folder);
}

void AfterOwnChange(const std::string& dir, std::string_view removed, std::string_view added) {
  auto folder = Indexed(dir);
  if (folder == g_folders.end()) return;
  struct stat st;
  if (!StatFolder(dir, &st)) {
    g_folders.erase(folder);
    return;
  }
  const FolderStamp stamp = FolderStamp::Of(st);
  if (stamp.dev != folder->stamp.dev || stamp.ino != folder->stamp.ino) {
    g_folders.erase(folder);
    return;
  }
  // The residual window: an entry another program adds or removes in the
  // same clock tick as our change, or between the index's last check of
  // the folder and our change (at most a millisecond, see BeforeOwnChange),
  // leaves no trace in the stamps and is missed until the folder changes
  // again: a name it added reads as missing.  Relisting after each of our
  // own changes to close it would list a destination folder once per
  // message written.
  folder->stamp = stamp;
  folder->own_mtime = stamp.mtime;
  folder->checked_at = ClockNow();
  if (!removed.empty()) folder->Remove(removed);
  if (!added.empty()) folder->Add(added);
}

std::int64_t FolderListingCount() { return g_listings; }

}  // namespace lw::platform
