// A platform for the *.MSG fault proofs: it fails the N-th file-system
// call, and in crash mode also every call after it (none of them reaches
// the disk).  It keeps, for the files of one folder, what a power cut
// would leave: each file's content as of its last FlushFile, and the
// folder's entries as of its last SyncDirectory.
#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/platform_wrapper.h"

namespace lw::test {

class CountedFaults : public platform::PlatformWrapper {
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

  int OpenFile(std::string_view name, platform::Access access, platform::Sharing sharing,
               platform::FileHandle* file) override;
  int CreateFile(std::string_view name, platform::Sharing sharing, platform::FileHandle* file) override;
  int CreateNewFile(std::string_view name, platform::FileHandle* file) override;
  int ReadFile(platform::FileHandle file, void* buf, std::size_t count, std::size_t* done) override;
  int WriteFile(platform::FileHandle file, const void* buf, std::size_t count, std::size_t* done) override;
  int SeekFile(platform::FileHandle file, std::int64_t pos) override;
  int SeekFileEnd(platform::FileHandle file) override;
  int TellFile(platform::FileHandle file, std::int64_t* pos) override;
  int FileSize(platform::FileHandle file, std::int64_t* size) override;
  int TruncateFile(platform::FileHandle file) override;
  int FlushFile(platform::FileHandle file) override;
  int CloseFile(platform::FileHandle file) override;
  int DeleteFile(std::string_view name) override;
  int OpenAppend(std::string_view name, platform::FileHandle* file) override;
  int RenameNoReplace(std::string_view from, std::string_view to) override;
  int ReplaceFile(std::string_view from, std::string_view to) override;
  int SyncDirectory(std::string_view dir) override;
  int QueryAttributes(std::string_view name, std::uint32_t* attr) override;
  int FindFirst(std::string_view pattern, std::uint32_t attr_mask, platform::SearchHandle* search,
                platform::DirEntry* entry) override;
  int FindNext(platform::SearchHandle search, platform::DirEntry* entry) override;
  int MakeDirectory(std::string_view name) override;

 private:
  // Counts a call; true when it must fail.
  bool Fails();
  // The entry name within the followed folder, or "" for other paths.
  std::string EntryOf(std::string_view path) const;
  void Opened(std::string_view name, platform::FileHandle file);
  std::string ContentOf(platform::FileHandle file);

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
