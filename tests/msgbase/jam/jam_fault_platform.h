// A platform for the JAM fault tests: it counts the file-system calls, can
// fail one of them or stop passing any on from one of them (a crash), keeps
// a log of the writes and syncs by file, and can put a folder back into the
// state a power cut would leave: every file as at its last sync (or as
// before the run), and files and folders whose creation was never synced
// in their folder gone.  Syncs are recorded for that model but not passed
// on to the disk.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform_wrapper.h"

namespace lw::test {

class JamFaultPlatform : public platform::PlatformWrapper {
 public:
  enum class Mode {
    kPass,      // every call goes through
    kFailOne,   // call N fails, the others go through
    kCrash,     // from call N on, every call fails without touching the disk
    kShortOne,  // call N, when it reads or writes, moves only half the bytes
  };

  JamFaultPlatform() : PlatformWrapper(platform::NativePlatform()) {}

  // Arms call number `call`, counted from the first call this platform saw.
  void Arm(Mode mode, long call) {
    mode_ = mode;
    fail_at_ = call;
    reached_ = false;
    shortened_ = false;
  }
  long Calls() const { return calls_; }
  // Whether the armed call was reached.
  bool Reached() const { return reached_; }
  // Whether the armed call was a read or write that was cut short.
  bool Shortened() const { return shortened_; }
  // "write <file name>", "sync <file name>", "truncate <file name>", one per
  // call that went through, the file name without its folder, in lower case.
  const std::vector<std::string>& Log() const { return log_; }
  void ClearLog() { log_.clear(); }

  // Notes what the files under `dir` hold now, as their state before the run.
  void Track(const std::string& dir);
  // Puts the tracked folder into the state a power cut would leave now.
  void RevertToDurable();

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
  // Counts a call; false when it must fail.
  bool Pass();
  void Opened(std::string_view name, platform::FileHandle file, bool may_create);
  void Note(const char* what, platform::FileHandle file);

  Mode mode_ = Mode::kPass;
  long fail_at_ = 0;
  long calls_ = 0;
  bool reached_ = false;
  bool short_now_ = false;
  bool shortened_ = false;
  std::vector<std::string> log_;
  std::map<platform::FileHandle, std::string> names_;  // open files, normalised names
  std::string tracked_;
  std::map<std::string, std::string> before_;  // file contents before the run
  std::map<std::string, std::string> synced_;  // file contents at their last sync
  std::set<std::string> unsynced_entries_;     // created, folder not synced since
};

}  // namespace lw::test
