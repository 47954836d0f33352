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

#include "fault/intercepting_platform.h"

namespace lw::test {

class JamFaultPlatform : public InterceptingPlatform {
 public:
  enum class Mode {
    kPass,      // every call goes through
    kFailOne,   // call N fails, the others go through
    kCrash,     // from call N on, every call fails without touching the disk
    kShortOne,  // call N, when it reads or writes, moves only half the bytes
  };

  JamFaultPlatform() : InterceptingPlatform(platform::NativePlatform()) {}

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
  // "write <file name>", "sync <file name>", "truncate <file name>",
  // "rename <old file name>", one per
  // call that went through, the file name without its folder, in lower case.
  const std::vector<std::string>& Log() const { return log_; }
  void ClearLog() { log_.clear(); }

  // Notes what the files under `dir` hold now, as their state before the run.
  void Track(const std::string& dir);
  // Puts the tracked folder into the state a power cut would leave now.
  void RevertToDurable();

 protected:
  int OnCall(Call& call, const std::function<int()>& pass) override;

 private:
  // Counts a call; false when it must fail.
  bool Pass();
  void Note(const char* what, std::string_view file_name);
  // What a sync of the file opened as `file_name` keeps, in the model.
  void Synced(std::string_view file_name);
  void FolderSynced(std::string_view dir);
  void Renamed(std::string_view from, std::string_view to);

  Mode mode_ = Mode::kPass;
  long fail_at_ = 0;
  long calls_ = 0;
  bool reached_ = false;
  bool short_now_ = false;
  bool shortened_ = false;
  std::vector<std::string> log_;
  std::string tracked_;
  std::map<std::string, std::string> before_;  // file contents before the run
  std::map<std::string, std::string> synced_;  // file contents at their last sync
  std::set<std::string> unsynced_entries_;     // created, folder not synced since
};

}  // namespace lw::test
