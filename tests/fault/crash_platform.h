// A platform that simulates a power cut, the way LevelDB's fault-injection
// environment does: it passes calls to the real one while it records what
// has been made durable, stops at the N-th file-system call, and can then
// put the disk back to what a power cut at that moment would have left.
//
// What counts as durable (every file and folder under the root that exists
// when the platform is made starts durable):
//   - a file's content as of its last FlushFile;
//   - an entry of a folder (a file or folder created, renamed or deleted
//     in it) once SyncDirectory of that folder returned; a folder made by
//     MakeDirectory is an entry of its parent like any other.
// Only names under the root are tracked; others pass through.
//
// What a power cut leaves of the rest depends on the disk and the file
// system; PowerCut names the cases the platform can leave.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fault/intercepting_platform.h"

namespace lw::test {

enum class PowerCut {
  // Every write since a file's last flush is lost; entries as above.
  kSyncedOnly,
  // The writes since a file's last flush reached the disk in order, the
  // last of them torn at a 512-byte sector boundary (its sectors before the
  // boundary written, the rest not; all of it lost when it lies within one
  // sector).
  kTorn,
  // Of the writes since a file's last flush only the last reached the
  // disk: the disk wrote out of order, and the earlier ones are lost.
  kLastWriteOnly,
  // Every entry made, renamed or deleted is durable at once (a journalling
  // file system commits names before data), while the files' contents are
  // as of their last flush: a new file not yet flushed is empty.
  kEntriesFirst,
};

class CrashPlatform : public InterceptingPlatform {
 public:
  // Tracks the existing folder `root`.  File-system call `crash_at`
  // (1 = the first; 0 never) and every call after it fail without touching
  // the disk.  With `revert_at_crash` the disk is put back at that moment,
  // so a run that ends the process on its own still leaves the crashed
  // state behind.  `on_crash` (optional) is told the crash call first.
  // `cut` chooses what the power cut leaves.
  CrashPlatform(platform::Platform& target, const std::string& root, std::int64_t crash_at, bool revert_at_crash,
                std::function<void(const std::string&)> on_crash = {}, PowerCut cut = PowerCut::kSyncedOnly);

  platform::Result WriteFile(platform::FileHandle file, const void* buf, std::size_t count, std::size_t* done) override;
  platform::Result WriteFileAt(platform::FileHandle file, std::int64_t offset, const void* buf, std::size_t count,
                               std::size_t* done) override;
  platform::Result TruncateFile(platform::FileHandle file) override;

  std::int64_t calls() const { return calls_; }
  bool crashed() const { return crashed_; }
  // The kind and name of the call the crash came at ("" before it).
  const std::string& crash_call() const { return crash_call_; }
  // Puts every tracked file and folder back to its durable state: content
  // to the last flush, entries created since their folder's last sync
  // removed, entries deleted or renamed since then back in place.
  void Revert();

 protected:
  int OnCall(Call& call, const std::function<int()>& pass) override;

 private:
  // A change of a file's content since its last flush.
  struct Pending {
    std::int64_t offset = 0;  // where the bytes go, or the new size of a truncation
    std::string bytes;
    bool truncation = false;
  };
  struct Node {
    bool is_folder = false;
    std::string durable;  // a file's content as of its last flush
    std::vector<Pending> pending;
  };
  using Entries = std::map<std::string, int>;  // name in the folder -> node

  // Numbers the call `what` (its kind and name); true when it is not to
  // be passed on.
  bool Stopped(std::string_view what);
  // "<kind> <name>", for a call on a handle the open file's present path.
  std::string Describe(const Call& call) const;
  // Brings the model up to date with a call that went through.
  void Record(const Call& call);
  void Renamed(std::string_view from, std::string_view to);
  // The absolute name with "/" separators, "" when it is not under the root.
  std::string Tracked(std::string_view name) const;
  // The node of an existing tracked name, -1 when unknown.
  int NodeOf(const std::string& path);
  // Records the file just opened or created as `handle`; `emptied`: the
  // open cut an existing file to nothing.
  void Opened(const std::string& path, platform::FileHandle handle, bool created, bool emptied);
  int NewNode(bool is_folder, std::string durable);
  void Snapshot(const std::string& folder);
  // Notes a change of the open file `file` that went through.
  void Changed(platform::FileHandle file, Pending change);
  // The content the power cut leaves of `node`.
  std::string ContentAfterCut(const Node& node) const;

  std::string root_;
  std::int64_t crash_at_;
  bool revert_at_crash_;
  PowerCut cut_;
  std::function<void(const std::string&)> on_crash_;
  std::int64_t calls_ = 0;
  bool crashed_ = false;
  std::string crash_call_;
  std::vector<Node> nodes_;
  std::map<std::string, Entries> current_;  // folder -> its entries now
  std::map<std::string, Entries> durable_;  // folder -> its entries after a power cut
  std::map<platform::FileHandle, int> open_files_;
};

}  // namespace lw::test
