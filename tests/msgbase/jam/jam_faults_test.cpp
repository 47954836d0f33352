// The JAM base under every single failing file-system call (JamFaults) and
// under a crash at every call (JamCrash): whatever the run reported, the
// base opens afterwards, keeps every message that was whole before and every
// one whose store was reported, shows no message in part, and takes new
// messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <random>

#include "msgbase/area.h"
#include "msgbase/jam/jam_fault_platform.h"
#include "msgbase/jam/jam_msg_base.h"
#include "msgbase/jam/seeking_platform.h"
#include "msgbase/msgbase_helpers.h"
#include "test_util.h"

namespace lw {
namespace {

using test::JamFaultPlatform;
using Mode = JamFaultPlatform::Mode;

const std::vector<std::string> kOld = {"old one\r", "old two\r", "old three\r"};
const std::string kNewA = "new A\r";
const std::string kNewB = "new B\r";
const std::string kAfter = "after the run\r";

// What the run under faults reported.
struct Outcome {
  std::vector<std::string> stored;   // WriteMsg said true
  std::vector<std::string> deleted;  // DeleteMsg said true
  std::string delete_failed;         // DeleteMsg said false: there or gone
};

bool Has(const std::vector<std::string>& v, const std::string& s) { return std::count(v.begin(), v.end(), s) > 0; }

// A scratch folder for the loops, which make hundreds of bases: on a memory
// file system where there is one, so that creating and removing files
// costs little; else under the temporary directory.  Removed at the end.
class LoopDir {
 public:
  LoopDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory("/dev/shm", ec)) {
      fallback_.emplace();
      return;
    }
    std::random_device seed;
    std::mt19937_64 random(seed());
    do {
      shm_ = (fs::path("/dev/shm") / ("lwjam." + std::to_string(random() % 1000000000))).generic_string();
    } while (!fs::create_directory(shm_, ec));
  }
  ~LoopDir() {
    std::error_code ec;
    if (!shm_.empty()) std::filesystem::remove_all(shm_, ec);
  }
  const std::string& path() const { return fallback_ ? fallback_->path() : shm_; }
  std::string operator/(const std::string& name) const { return path() + "/" + name; }

 private:
  std::string shm_;
  std::optional<test::TempDir> fallback_;
};

// The run driver's way to a destination: open, or create when missing.
bool OpenOrCreate(JamMsgBase& b, const std::string& path) {
  return b.OpenMsgBase(path) || (!b.MsgBaseExists(path) && b.CreateMsgBase(path));
}

bool Store(JamMsgBase& b, const std::string& text) {
  if (!b.CreateMsg()) return false;
  b.SetTo(std::string("Sysop"));
  b.SetFrom(std::string("Sender"));
  b.GetTextStream()->Write(text.data(), static_cast<std::int32_t>(text.size()));
  const bool stored = b.WriteMsg();
  b.CloseMsg();
  return stored;
}

// A destination: open or create, append two messages, delete the first.
void AppendTwoDeleteOne(const std::string& path, Outcome& out) {
  JamMsgBase b;
  if (!OpenOrCreate(b, path)) return;
  std::int32_t first = 0;  // the first message stored, deleted again
  for (const std::string& text : {kNewA, kNewB}) {
    if (!Store(b, text)) continue;
    out.stored.push_back(text);
    if (first == 0) first = b.GetMsgNum();
  }
  if (first != 0) {
    b.CurMsgNum = first;
    if (b.DeleteMsg()) {
      out.deleted.push_back(out.stored.front());
    } else {
      out.delete_failed = out.stored.front();
    }
  }
  b.CloseMsgBase();
}

// A netmail area: walk it, deleting the second message while it is open.
void WalkDeletingSecond(const std::string& path, Outcome& out) {
  JamMsgBase b;
  if (!b.OpenMsgBase(path)) return;
  for (b.SeekFirst(1); b.SeekFound(); b.SeekNext()) {
    if (!b.OpenMsg()) continue;
    const std::string text = test::TextOf(b);
    if (text == kOld[1]) {
      if (b.DeleteMsg()) {
        out.deleted.push_back(text);
      } else {
        out.delete_failed = text;
      }
    }
    b.CloseMsg();
  }
  b.CloseMsgBase();
}

void MakeBase(const std::string& path, std::size_t messages) {
  JamMsgBase b;
  ASSERT_TRUE(b.CreateMsgBase(path));
  for (std::size_t i = 0; i < messages; ++i) ASSERT_TRUE(Store(b, kOld[i]));
  ASSERT_TRUE(b.CloseMsgBase());
}

// With the plain platform: the checks every faulted run must pass.
// Without a crash, a failed call leaves nothing for the next open to
// repair: every step put back what it had written, or the close wrote the
// fixed header again.  (A base whose fixed header was never written is
// completed by the open, as after a crash.)
void CheckAfter(const std::string& path, const std::vector<std::string>& before, const Outcome& out, bool crashed) {
  JamMsgBase b;
  {
    const bool had_fixed_header =
        test::Exists(path + ".jhr") && test::FileSizeOf(path + ".jhr") >= jam::kFixedHeaderSize;
    JamFaultPlatform watch;
    test::ScopedSeekingPlatform use(&watch);
    ASSERT_TRUE(OpenOrCreate(b, path)) << b.Status;
    if (!crashed && had_fixed_header) {
      EXPECT_EQ(watch.Log(), std::vector<std::string>{}) << "the open had to repair the base";
    }
  }
  std::map<std::string, int> seen;
  std::int32_t live = 0;
  for (b.SeekFirst(1); b.SeekFound(); b.SeekNext()) {
    ASSERT_TRUE(b.OpenMsg()) << "message " << b.GetMsgNum() << " is there only in part";
    ++seen[test::TextOf(b)];
    ++live;
  }
  EXPECT_EQ(b.GetMsgCount(), live);
  for (const auto& [text, count] : seen) {
    EXPECT_TRUE(Has(before, text) || text == kNewA || text == kNewB) << "unknown text: " << text;
    EXPECT_EQ(count, 1) << text;
  }
  for (const std::string& text : before) {
    if (!Has(out.deleted, text) && text != out.delete_failed) {
      EXPECT_EQ(seen[text], 1) << "lost: " << text;
    }
  }
  for (const std::string& text : out.stored) {
    if (!Has(out.deleted, text) && text != out.delete_failed) {
      EXPECT_EQ(seen[text], 1) << "stored, then lost: " << text;
    }
  }
  for (const std::string& text : out.deleted) EXPECT_EQ(seen[text], 0) << "deleted, then back: " << text;
  ASSERT_TRUE(Store(b, kAfter));
  ASSERT_TRUE(b.CloseMsgBase());
  JamMsgBase again;
  ASSERT_TRUE(again.OpenMsgBase(path));
  std::vector<std::string> texts;
  for (again.SeekFirst(1); again.SeekFound(); again.SeekNext()) {
    ASSERT_TRUE(again.OpenMsg());
    texts.push_back(test::TextOf(again));
  }
  EXPECT_TRUE(Has(texts, kAfter));
}

struct Scenario {
  const char* name;
  std::size_t old_messages;  // in the base before the run; 0: no base yet
  void (*run)(const std::string& path, Outcome& out);
};

const Scenario kScenarios[] = {
    {"create, append two, delete one", 0, AppendTwoDeleteOne},
    {"open, append two, delete one", 1, AppendTwoDeleteOne},
    {"walk a netmail area, delete the second", 3, WalkDeletingSecond},
};

// Runs `scenario` with call N failed (or the crash at call N) for N = 1, 2,
// ... until a run no longer reaches N.
void RunAtEveryCall(Mode mode, const Scenario& scenario) {
  for (long n = 1;; ++n) {
    SCOPED_TRACE(std::string(scenario.name) + ", call " + std::to_string(n));
    LoopDir dir;
    const std::string path = dir / "sub/area";
    std::vector<std::string> before(kOld.begin(), kOld.begin() + static_cast<long>(scenario.old_messages));
    // Setup and checks run without faults, and (as the faulted run) without
    // waiting for the disk on each sync.
    JamFaultPlatform no_faults;
    test::ScopedSeekingPlatform use_no_faults(&no_faults);
    if (scenario.old_messages > 0) MakeBase(path, scenario.old_messages);
    JamFaultPlatform faults;
    faults.Track(dir.path());
    faults.Arm(mode, n);
    Outcome out;
    {
      test::ScopedSeekingPlatform use(&faults);
      scenario.run(path, out);
    }
    if (mode == Mode::kCrash) faults.RevertToDurable();
    CheckAfter(path, before, out, mode == Mode::kCrash);
    if (::testing::Test::HasFatalFailure() || !faults.Reached()) break;
    ASSERT_LT(n, 2000) << "the run does not end";
  }
}

TEST(JamFaults, EverySingleFailingCall) {
  for (const Scenario& s : kScenarios) RunAtEveryCall(Mode::kFailOne, s);
}

TEST(JamFaults, EverySingleShortReadOrWrite) {
  for (const Scenario& s : kScenarios) RunAtEveryCall(Mode::kShortOne, s);
}

TEST(JamCrash, CrashAtEveryCall) {
  for (const Scenario& s : kScenarios) RunAtEveryCall(Mode::kCrash, s);
}

// The loops above only prove something when the runs do what they say
// without faults.
TEST(JamFaults, ScenariosWithoutFaults) {
  for (const Scenario& s : kScenarios) {
    SCOPED_TRACE(s.name);
    test::TempDir dir;
    const std::string path = dir / "sub/area";
    if (s.old_messages > 0) MakeBase(path, s.old_messages);
    Outcome out;
    s.run(path, out);
    if (s.old_messages == 3) {
      EXPECT_EQ(out.deleted, std::vector<std::string>{kOld[1]});
    } else {
      EXPECT_EQ(out.stored, (std::vector<std::string>{kNewA, kNewB}));
      EXPECT_EQ(out.deleted, std::vector<std::string>{kNewA});
    }
  }
}

}  // namespace
}  // namespace lw
