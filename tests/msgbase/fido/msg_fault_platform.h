// A platform for the *.MSG fault proofs: it fails the N-th file-system
// call, and in crash mode also every call after it (none of them reaches
// the disk).  It keeps, for the files of one folder, what a power cut
// would leave: each file's content as of its last FlushFile, and the
// folder's entries as of its last SyncDirectory.
#pragma once

#include <map>
#include <set>
#include <string>

#include "fault/intercepting_platform.h"

namespace lw::test {

class CountedFaults : public InterceptingPlatform {
 public:
  enum class Mode { kFailOne, kCrash };
  // `folder` is the area whose files are followed; it may not exist yet.
  CountedFaults(Mode mode, int fail_at, const std::string& folder);

  // Whether the run got as far as the call that fails.
  bool Reached() const { return calls_ >= fail_at_; }
  // Closes the handles the run left open after the crash (their calls
  // failed) and puts the folder in the state a power cut at the crash
  // would have left: unsynced entries gone, unsynced bytes reverted.
  void CrashNow();

 protected:
  int OnCall(Call& call, const std::function<int()>& pass) override;

 private:
  // Counts a call; true when it must fail.
  bool Fails();
  // The entry name within the followed folder, or "" for other paths.
  std::string EntryOf(std::string_view path) const;
  void Opened(std::string_view name, platform::FileHandle file);
  std::string ContentOf(platform::FileHandle file);
  // Brings the model up to date with a call that went through.
  void Record(const Call& call);
  void Synced(platform::FileHandle file);
  void Renamed(std::string_view from, std::string_view to);

  Mode mode_;
  int fail_at_;
  int calls_ = 0;
  std::string folder_;
  bool folder_existed_;
  bool folder_durable_;
  int next_id_ = 0;
  std::map<std::string, int> live_;     // entry name -> file
  std::map<std::string, int> durable_;  // the entries a power cut keeps
  std::map<int, std::string> synced_;   // file -> its bytes as last synced
  std::map<platform::FileHandle, int> handles_;
  std::set<platform::FileHandle> open_;
};

}  // namespace lw::test
