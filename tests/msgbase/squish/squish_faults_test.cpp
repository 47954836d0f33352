// Counted-fault and crash loops over whole operations on a Squish base.
//
// A wrapper counts every file-system call and makes call N fail: only that
// call (SquishFaults), or that call and every later one without touching
// the disk (SquishCrash).  A crash is taken two ways: the process killed
// (what was written stays), and a power cut (every file goes back to its
// content at its last sync, and a file created since its folder was last
// synced disappears).  N runs from 1 until a run no longer reaches it.
// After each run the base is opened with the plain platform: it opens,
// every message that was whole before or whose write was reported is there
// and whole, one whose delete was reported is gone, nothing else is there,
// its files agree with each other, and it takes a new message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>

#include "msgbase/area.h"
#include "msgbase/squish/squish_test_support.h"
#include "platform/platform_wrapper.h"
#include "test_util.h"

namespace lw {
namespace {

using test::AllTexts;
using test::StoreMessage;

enum class Mode { kOneFault, kKilled, kPowerCut };

std::string DirOf(std::string_view path) {
  std::string dir = std::filesystem::path(path).parent_path().generic_string();
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

class CountedFaults : public platform::PlatformWrapper {
 public:
  CountedFaults(long fail_at, Mode mode, std::map<std::string, std::string> before)
      : PlatformWrapper(platform::NativePlatform()), fail_at_(fail_at), mode_(mode), before_(std::move(before)) {}

  bool Reached() const { return calls_ >= fail_at_; }

  // Puts every file back as a power cut at this point would leave it.
  void RevertToLastSync() {
    for (const auto& [name, content] : before_) {
      if (files_.count(name) == 0) test::WriteFile(name, content);
    }
    for (const auto& [name, state] : files_) {
      if (state.created && !state.folder_synced) {
        std::remove(name.c_str());
      } else if (state.synced) {
        test::WriteFile(name, *state.synced);
      } else {
        auto was = before_.find(name);
        test::WriteFile(name, was != before_.end() ? was->second : std::string());
      }
    }
  }

  platform::Result OpenFile(std::string_view name, platform::Access a, platform::Sharing s,
                            platform::FileHandle* f) override {
    if (!Passes()) return platform::kAccessDenied;
    const int rc = target_.OpenFile(name, a, s, f);
    return Opened(name, rc, *f, false);
  }
  platform::Result CreateFile(std::string_view name, platform::Sharing s, platform::FileHandle* f) override {
    if (!Passes()) return platform::kAccessDenied;
    const int rc = target_.CreateFile(name, s, f);
    return Opened(name, rc, *f, true);
  }
  platform::Result CreateNewFile(std::string_view name, platform::FileHandle* f) override {
    if (!Passes()) return platform::kAccessDenied;
    const int rc = target_.CreateNewFile(name, f);
    return Opened(name, rc, *f, true);
  }
  platform::Result OpenAppend(std::string_view name, platform::FileHandle* f) override {
    if (!Passes()) return platform::kAccessDenied;
    const int rc = target_.OpenAppend(name, f);
    return Opened(name, rc, *f, true);
  }
  platform::Result ReadFile(platform::FileHandle f, void* b, std::size_t n, std::size_t* done) override {
    return Passes() ? target_.ReadFile(f, b, n, done) : platform::kDiskReadError;
  }
  platform::Result WriteFile(platform::FileHandle f, const void* b, std::size_t n, std::size_t* done) override {
    return Passes() ? target_.WriteFile(f, b, n, done) : platform::kDiskWriteError;
  }
  platform::Result ReadFileAt(platform::FileHandle f, std::int64_t at, void* b, std::size_t n,
                              std::size_t* done) override {
    return Passes() ? target_.ReadFileAt(f, at, b, n, done) : platform::kDiskReadError;
  }
  platform::Result WriteFileAt(platform::FileHandle f, std::int64_t at, const void* b, std::size_t n,
                               std::size_t* done) override {
    return Passes() ? target_.WriteFileAt(f, at, b, n, done) : platform::kDiskWriteError;
  }
  platform::Result SeekFile(platform::FileHandle f, std::int64_t pos) override {
    return Passes() ? target_.SeekFile(f, pos) : platform::kDiskReadError;
  }
  platform::Result SeekFileEnd(platform::FileHandle f) override {
    return Passes() ? target_.SeekFileEnd(f) : platform::kDiskReadError;
  }
  platform::Result TellFile(platform::FileHandle f, std::int64_t* pos) override {
    return Passes() ? target_.TellFile(f, pos) : platform::kDiskReadError;
  }
  platform::Result FileSize(platform::FileHandle f, std::int64_t* size) override {
    return Passes() ? target_.FileSize(f, size) : platform::kDiskReadError;
  }
  platform::Result TruncateFile(platform::FileHandle f) override {
    return Passes() ? target_.TruncateFile(f) : platform::kDiskWriteError;
  }
  // Recorded, not done: the power-cut model decides what survives.
  platform::Result FlushFile(platform::FileHandle f) override {
    if (!Passes()) return platform::kDiskWriteError;
    auto name = names_.find(f);
    if (name != names_.end()) files_[name->second].synced = test::ReadFile(name->second);
    return platform::kOk;
  }
  platform::Result SyncFiles(const platform::FileHandle* files, std::size_t count) override {
    if (!Passes()) return platform::kDiskWriteError;
    for (std::size_t i = 0; i < count; ++i) {
      auto name = names_.find(files[i]);
      if (name != names_.end()) files_[name->second].synced = test::ReadFile(name->second);
    }
    return platform::kOk;
  }
  platform::Result SyncDirectory(std::string_view dir) override {
    if (!Passes()) return platform::kDiskWriteError;
    const std::string folder = DirOf(std::string(dir) + "/x");
    for (auto it = renamed_.begin(); it != renamed_.end();) {
      if (DirOf(it->first) != folder) {
        ++it;
        continue;
      }
      files_[it->first] = it->second;
      it = renamed_.erase(it);
    }
    for (auto& [name, state] : files_) {
      if (DirOf(name) == folder) state.folder_synced = true;
    }
    return platform::kOk;
  }
  // The handle is always released, as a dying process's would be.
  platform::Result CloseFile(platform::FileHandle f) override {
    const bool passes = Passes();
    names_.erase(f);
    const int rc = target_.CloseFile(f);
    return passes ? rc : platform::kDiskWriteError;
  }
  platform::Result DeleteFile(std::string_view name) override {
    return Passes() ? target_.DeleteFile(name) : platform::kAccessDenied;
  }
  platform::Result RenameNoReplace(std::string_view from, std::string_view to) override {
    return Passes() ? target_.RenameNoReplace(from, to) : platform::kAccessDenied;
  }
  // The new name holds the renamed file only once its folder is synced;
  // until then a power cut leaves the file that stood there.
  platform::Result ReplaceFile(std::string_view from, std::string_view to) override {
    if (!Passes()) return platform::kAccessDenied;
    const platform::Result rc = target_.ReplaceFile(from, to);
    if (rc == platform::kOk) {
      auto moved = files_.find(std::string(from));
      renamed_[std::string(to)] = moved != files_.end() ? moved->second : FileState{};
      if (moved != files_.end()) files_.erase(moved);
    }
    return rc;
  }
  platform::Result QueryAttributes(std::string_view name, std::uint32_t* attr) override {
    return Passes() ? target_.QueryAttributes(name, attr) : platform::kAccessDenied;
  }
  platform::Result MakeDirectory(std::string_view name) override {
    return Passes() ? target_.MakeDirectory(name) : platform::kAccessDenied;
  }
  platform::Result FindFirst(std::string_view pattern, std::uint32_t mask, platform::SearchHandle* s,
                             platform::DirEntry* e) override {
    return Passes() ? target_.FindFirst(pattern, mask, s, e) : platform::kFileNotFound;
  }
  platform::Result FindNext(platform::SearchHandle s, platform::DirEntry* e) override {
    return Passes() ? target_.FindNext(s, e) : platform::kFileNotFound;
  }
  platform::Result LockRun(std::string_view name, int wait_ms, platform::FileHandle* lock) override {
    return Passes() ? target_.LockRun(name, wait_ms, lock) : platform::kAccessDenied;
  }

 private:
  struct FileState {
    bool created = false;
    bool folder_synced = false;
    std::optional<std::string> synced;
  };
  std::map<std::string, FileState> renamed_;  // by new name, until the folder's sync
  bool Passes() {
    ++calls_;
    return mode_ == Mode::kOneFault ? calls_ != fail_at_ : calls_ < fail_at_;
  }
  int Opened(std::string_view name, int rc, platform::FileHandle f, bool creates) {
    if (rc != platform::kOk) return rc;
    const std::string path(name);
    names_[f] = path;
    if (creates && before_.count(path) == 0 && files_.count(path) == 0) files_[path].created = true;
    return rc;
  }

  long calls_ = 0;
  long fail_at_;
  Mode mode_;
  std::map<std::string, std::string> before_;
  std::map<platform::FileHandle, std::string> names_;
  std::map<std::string, FileState> files_;
};

// What a run promised about each message text.
struct Outcome {
  std::vector<std::string> present;  // whole before, or its write reported
  std::vector<std::string> maybe;    // a write or delete that failed part way
  std::vector<std::string> absent;   // its delete reported
};

std::string Text(const std::string& tag, std::size_t body = 10) {
  return "\001MSGID: 2:5020/9 " + tag + "\r" + tag + " " + std::string(body, 'x') + "\r";
}

// The files of the base at `base`: its name with any extension.
std::map<std::string, std::string> FilesOf(const std::string& base) {
  const std::string dir = DirOf(base);
  const std::string prefix = base.substr(dir.size() + 1) + ".";
  std::map<std::string, std::string> files;
  for (const std::string& name : test::ListDir(dir)) {
    if (name.compare(0, prefix.size(), prefix) == 0) files[dir + "/" + name] = test::ReadFile(dir + "/" + name);
  }
  return files;
}

void Forget(std::vector<std::string>& list, const std::string& text) {
  list.erase(std::remove(list.begin(), list.end(), text), list.end());
}

// The destination's part of a run: open or create, append two messages,
// delete the first of them (opened, so while it is open), close.
Outcome AppendTwoDeleteOne(const std::string& base, const std::vector<std::string>& existing) {
  Outcome o{existing, {}, {}};
  MsgBasePtr area;
  if (!OpenOrCreateArea(area, "S" + base)) return o;
  std::int32_t first = 0;
  std::string first_text;
  for (const std::string& text : {Text("new-1"), Text("new-2", 40)}) {
    const bool stored = StoreMessage(*area, text);
    (stored ? o.present : o.maybe).push_back(text);
    if (stored && first == 0) {
      first = area->GetMsgNum();
      first_text = text;
    }
  }
  if (first != 0) {
    area->SeekFirst(first);
    if (area->SeekFound() && area->GetMsgNum() == first && area->OpenMsg()) {
      Forget(o.present, first_text);
      (area->DeleteMsg() ? o.absent : o.maybe).push_back(first_text);
      area->CloseMsg();
    }
  }
  CloseArea(area);
  return o;
}

// The netmail area's part: open, walk reading every message, delete the
// second while it is open, close.
Outcome WalkDeletingSecond(const std::string& base, const std::vector<std::string>& existing) {
  Outcome o{existing, {}, {}};
  MsgBasePtr area;
  if (!OpenArea(area, "S" + base)) return o;
  for (area->SeekFirst(1); area->SeekFound(); area->SeekNext()) {
    if (!area->OpenMsg()) continue;
    const std::string text = ReadAllBytes(*area->GetTextStream());
    if (text == existing[1]) {
      Forget(o.present, text);
      (area->DeleteMsg() ? o.absent : o.maybe).push_back(text);
    }
    area->CloseMsg();
  }
  CloseArea(area);
  return o;
}

// A move's destination: open, two appends in one batch, commit, close.
// Only the commit makes them count.
Outcome BatchedAppends(const std::string& base, const std::vector<std::string>& existing) {
  Outcome o{existing, {}, {}};
  MsgBasePtr area;
  if (!OpenOrCreateArea(area, "S" + base)) return o;
  area->BeginBatch();
  const std::vector<std::string> texts{Text("new-1", 30), Text("new-2")};
  for (const std::string& text : texts) StoreMessage(*area, text);
  const bool committed = area->CommitBatch();
  for (const std::string& text : texts) (committed ? o.present : o.maybe).push_back(text);
  CloseArea(area);
  return o;
}

// A move's source: the third and first messages deleted in one batch,
// highest number first, positioned by number; then commit and close.
Outcome BatchedDeletes(const std::string& base, const std::vector<std::string>& existing) {
  Outcome o{existing, {}, {}};
  MsgBasePtr area;
  if (!OpenArea(area, "S" + base)) return o;
  area->BeginBatch();
  std::vector<std::string> gone;
  for (std::int32_t n : {3, 1}) {
    area->SeekFirst(n);
    if (!area->SeekFound() || area->GetMsgNum() != n || !area->OpenMsg()) continue;
    const std::string text = ReadAllBytes(*area->GetTextStream());
    if (area->DeleteMsg()) gone.push_back(text);
    area->CloseMsg();
  }
  const bool committed = area->CommitBatch();
  for (const std::string& text : gone) {
    Forget(o.present, text);
    (committed ? o.absent : o.maybe).push_back(text);
  }
  CloseArea(area);
  return o;
}

void ExpectIntact(const std::string& base, const Outcome& o) {
  test::SkipSyncs fast;
  platform::ScopedPlatform use(&fast);
  MsgBasePtr area;
  ASSERT_TRUE(OpenOrCreateArea(area, "S" + base));
  const std::vector<std::string> texts = AllTexts(*area);
  for (const std::string& t : o.present) EXPECT_EQ(std::count(texts.begin(), texts.end(), t), 1) << "lost: " << t;
  for (const std::string& t : o.absent) EXPECT_EQ(std::count(texts.begin(), texts.end(), t), 0) << "kept: " << t;
  for (const std::string& t : texts) {
    const bool known =
        std::count(o.present.begin(), o.present.end(), t) + std::count(o.maybe.begin(), o.maybe.end(), t);
    EXPECT_TRUE(known) << "not a whole message of the run: " << t;
    EXPECT_EQ(std::count(texts.begin(), texts.end(), t), 1) << "twice: " << t;
  }
  const std::string after = Text("after", 600);
  EXPECT_TRUE(StoreMessage(*area, after));
  EXPECT_TRUE(CloseArea(area));
  test::ExpectSquishConsistent(base);
  ASSERT_TRUE(OpenArea(area, "S" + base));
  const std::vector<std::string> again = AllTexts(*area);
  EXPECT_EQ(std::count(again.begin(), again.end(), after), 1);
}

using Setup = std::function<std::vector<std::string>(const std::string& base)>;
using Run = std::function<Outcome(const std::string& base, const std::vector<std::string>& existing)>;

void FaultLoop(Mode mode, const Setup& setup, const Run& run) {
  // The starting base is made once and copied before each run: making
  // files costs more than the runs.
  test::TempDir dir;
  const std::string original = dir / "original";
  std::vector<std::string> existing;
  {
    test::SkipSyncs fast;
    platform::ScopedPlatform use(&fast);
    existing = setup(original);
  }
  const std::map<std::string, std::string> start = FilesOf(original);
  for (long n = 1;; ++n) {
    SCOPED_TRACE(testing::Message() << "failing call " << n);
    const std::string base = dir / "area";
    for (const auto& [name, content] : FilesOf(base)) std::remove(name.c_str());
    for (const auto& [name, content] : start) test::WriteFile(base + name.substr(original.size()), content);
    CountedFaults faults(n, mode, FilesOf(base));
    Outcome outcome;
    {
      platform::ScopedPlatform use(&faults);
      outcome = run(base, existing);
    }
    if (mode == Mode::kPowerCut) faults.RevertToLastSync();
    ExpectIntact(base, outcome);
    if (::testing::Test::HasFailure() || !faults.Reached()) return;
    ASSERT_LT(n, 5000) << "the run never ends";
  }
}

std::vector<std::string> NoBase(const std::string&) { return {}; }

// A base whose first message was deleted: its frame is free for reuse.
std::vector<std::string> BaseWithFreeFrame(const std::string& base) {
  MsgBasePtr area;
  EXPECT_TRUE(OpenOrCreateArea(area, "S" + base));
  EXPECT_TRUE(StoreMessage(*area, Text("old-1", 200)));
  EXPECT_TRUE(StoreMessage(*area, Text("old-2")));
  area->SeekFirst(1);
  EXPECT_TRUE(area->OpenMsg());
  EXPECT_TRUE(area->DeleteMsg());
  EXPECT_TRUE(CloseArea(area));
  return {Text("old-2")};
}

std::vector<std::string> BaseOfThree(const std::string& base) {
  std::vector<std::string> texts{Text("net-1"), Text("net-2", 100), Text("net-3")};
  MsgBasePtr area;
  EXPECT_TRUE(OpenOrCreateArea(area, "S" + base));
  for (const std::string& t : texts) EXPECT_TRUE(StoreMessage(*area, t));
  EXPECT_TRUE(CloseArea(area));
  return texts;
}

struct Scenario {
  const char* name;
  Setup setup;
  Run run;
};

const Scenario kScenarios[] = {
    {"new base, append two, delete one", NoBase, AppendTwoDeleteOne},
    {"base with a free frame, append two, delete one", BaseWithFreeFrame, AppendTwoDeleteOne},
    {"netmail area of three, delete the second", BaseOfThree, WalkDeletingSecond},
    {"base with a free frame, two appends in a batch", BaseWithFreeFrame, BatchedAppends},
    {"netmail area of three, two deletes in a batch", BaseOfThree, BatchedDeletes},
};

TEST(SquishFaults, EveryCallFailingOnce) {
  for (const Scenario& s : kScenarios) {
    SCOPED_TRACE(s.name);
    FaultLoop(Mode::kOneFault, s.setup, s.run);
  }
}

TEST(SquishCrash, KilledAtEveryCall) {
  for (const Scenario& s : kScenarios) {
    SCOPED_TRACE(s.name);
    FaultLoop(Mode::kKilled, s.setup, s.run);
  }
}

TEST(SquishCrash, PowerCutAtEveryCall) {
  for (const Scenario& s : kScenarios) {
    SCOPED_TRACE(s.name);
    FaultLoop(Mode::kPowerCut, s.setup, s.run);
  }
}

}  // namespace
}  // namespace lw
