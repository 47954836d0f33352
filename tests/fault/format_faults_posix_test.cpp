// Fault loops at the format level, in this process: a base of each format
// gets one message appended and its first message deleted through the
// MessageBase interface while the N-th file-system call fails (counted) or
// the power goes at it (crash), for every N.  After each: the base is
// whole, opens, keeps its untouched message exactly once, and shows every
// other message whole at most once.  (Linux only: its scratch folders and
// copies lean on POSIX; each format's own loops run on Win32 too.)
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>

#include "fault/base_checker.h"
#include "fault/counting_platform.h"
#include "fault/crash_platform.h"
#include "fault/fault_loop.h"
#include "fault/scratch_dir.h"
#include "msgbase/area.h"
#include "test_util.h"

namespace lw::test {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kMaxPoints = 5000;

void Store(MessageBase& base, const std::string& to) {
  base.SetMsgKind(0);
  if (!base.CreateMsg()) return;
  base.SetTo(to);
  base.SetFrom("Sender");
  base.SetSubj("About " + to);
  const std::string text = "\001MSGID: 2:5020/1 0000" + std::to_string(to.size()) + "ABC\rText for " + to + "\r";
  base.GetTextStream()->Write(text.data(), static_cast<std::int32_t>(text.size()));
  base.WriteMsg();
  base.CloseMsg();
}

// The string type of the interface's out-parameters.
template <typename C, typename A>
A OutParamOf(void (C::*)(A&));
using InterfaceText = decltype(OutParamOf(&MessageBase::GetTo));

// The operation under fault: append "Third", delete the message to
// "First" (found by reading it, as a move run finds what it deletes).
void AppendAndDeleteFirst(const std::string& area_id) {
  MsgBasePtr base;
  if (!OpenArea(base, area_id)) return;
  Store(*base, "Third");
  for (base->SeekFirst(1); base->SeekFound(); base->SeekNext()) {
    if (!base->OpenMsg()) continue;
    InterfaceText to;
    base->GetTo(to);
    base->CloseMsg();
    if (to == "First") {
      base->DeleteMsg();
      break;
    }
  }
  CloseArea(base);
}

// What is wrong with the base after the operation, "" when nothing.
std::string Judged(const std::string& area_id) {
  std::string out;
  // Judged first as another program finds it, before an open of ours
  // could repair it; then as the next open finds it, after any repair.
  for (const std::string& v : CheckArea(area_id, CheckMode::kRaw)) out += "damaged as left: " + v + "\n";
  const AreaContents c = MessagesOf(area_id);
  for (const std::string& v : CheckArea(area_id)) out += "damaged: " + v + "\n";
  if (!c.opened || !c.complete) out += "refused: the base does not open or not every message does\n";
  std::map<std::string, int> by_name;
  for (const auto& [m, count] : c.messages) {
    by_name[m.to] += count;
    if (m.body != "Text for " + m.to + "\r" || m.subject != "About " + m.to)
      out += "half a message: " + Describe(m) + "\n";
  }
  if (by_name["Second"] != 1) out += "the untouched message is there " + std::to_string(by_name["Second"]) + " times\n";
  for (const char* name : {"First", "Third"}) {
    if (by_name[name] > 1) out += std::string(name) + " is there " + std::to_string(by_name[name]) + " times\n";
  }
  return out;
}

// The faulted platform for fault point n; reached() says whether it hit.
struct Faulted {
  std::unique_ptr<platform::Platform> platform;
  std::function<bool()> reached;
  std::function<std::string()> note;  // what failed, when known
};

LoopSummary RunFormatLoop(const std::string& loop, char format,
                          const std::function<Faulted(std::int64_t n, const std::string& root)>& make) {
  LoopSummary summary;
  summary.loop = loop;
  summary.netmail = format;
  ScratchDir work, pristine;
  const std::string area_id = std::string(1, format) + work.path() + (format == 'M' ? "/msg" : "/base");
  {
    MsgBasePtr base;
    EXPECT_TRUE(OpenOrCreateArea(base, area_id));
    Store(*base, "First");
    Store(*base, "Second");
    CloseArea(base);
  }
  fs::copy(work.path(), pristine.path(), fs::copy_options::recursive);
  std::set<std::string> seen;  // findings kept, without their numbers
  summary.bounded = true;
  for (std::int64_t n = 1; n <= kMaxPoints; ++n) {
    for (const auto& e : fs::directory_iterator(work.path())) fs::remove_all(e.path());
    fs::copy(pristine.path(), work.path(), fs::copy_options::recursive);
    bool reached = false;
    std::string found, note;
    {
      Faulted faulted = make(n, work.path());
      platform::ScopedPlatform guard(faulted.platform.get());
      try {
        AppendAndDeleteFirst(area_id);
      } catch (const std::exception& e) {
        found += std::string("the operation threw: ") + e.what() + "\n";
      }
      reached = faulted.reached();
      note = faulted.note();
    }
    if (!reached && found.empty()) {
      summary.bounded = false;
      break;
    }
    ++summary.points;
    try {
      found += Judged(area_id);
    } catch (const std::exception& e) {
      found += std::string("reading the base back threw: ") + e.what() + "\n";
    }
    if (found.empty()) continue;
    if (found.find("there 0 times") != std::string::npos) ++summary.runs_losing;
    if (found.find("damaged") != std::string::npos || found.find("half a message") != std::string::npos ||
        found.find("threw") != std::string::npos) {
      ++summary.runs_damaging;
    }
    if (found.find("refused") != std::string::npos) ++summary.reruns_failing;
    std::string signature;
    for (char c : found) {
      if (c < '0' || c > '9') signature += c;
    }
    if (summary.findings.size() < 12 && seen.insert(signature).second)
      summary.findings.push_back("fault point " + std::to_string(n) + (note.empty() ? "" : " (" + note + ")") + ":\n" +
                                 found);
  }
  return summary;
}

class FaultFormat : public ::testing::TestWithParam<char> {};

TEST_P(FaultFormat, EveryCallFailingOnceLeavesTheBaseWhole) {
  Judge(RunFormatLoop("FormatCounted", GetParam(), [](std::int64_t n, const std::string&) {
    FaultPlan plan;
    plan.fail_at = n;
    auto counting = std::make_unique<CountingPlatform>(platform::NativePlatform(), plan);
    CountingPlatform* p = counting.get();
    return Faulted{std::move(counting), [p] { return p->reached(); },
                   [p] { return std::string(CallKindName(p->failed_kind())) + " " + p->failed_name(); }};
  }));
}

TEST_P(FaultFormat, APowerCutAtEveryCallLeavesTheBaseWhole) {
  Judge(RunFormatLoop("FormatCrash", GetParam(), [](std::int64_t n, const std::string& root) {
    auto crash = std::make_unique<CrashPlatform>(platform::NativePlatform(), root, n, true);
    CrashPlatform* p = crash.get();
    return Faulted{std::move(crash), [p] { return p->crashed(); }, [] { return std::string(); }};
  }));
}

INSTANTIATE_TEST_SUITE_P(Base, FaultFormat, ::testing::Values('M', 'S', 'J'),
                         [](const auto& info) { return std::string(1, info.param); });

}  // namespace
}  // namespace lw::test
