// Format-level proof for *.MSG areas: every file-system call of a run is
// made to fail in turn (MsgFaults), or the run is cut off at it as by a
// power cut (MsgCrash); the area must then open with every message that
// was whole before still whole, no message half there, and take new ones.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "msgbase/fido/fido_msg_base.h"
#include "msgbase/fido/msg_fault_platform.h"
#include "msgbase/fido/msg_file.h"
#include "test_util.h"

namespace lw {
namespace {

using test::CountedFaults;

constexpr int kMostCalls = 5000;  // far beyond any run below

test::MsgFile Message(const std::string& body) {
  test::MsgFile m;
  m.text = "\001MSGID: 2:5020/1 " + body + "\r" + body + "\r";
  return m;
}

// Appends a message as the run driver does; false when any step failed.
bool Append(FidoMsgBase& base, const std::string& body) {
  if (!base.CreateMsg()) return false;
  test::MsgFile m = Message(body);
  base.SetFrom(m.from);
  base.SetTo(m.to);
  base.SetSubj(m.subject);
  base.GetTextStream()->Write(m.text.data(), static_cast<std::int32_t>(m.text.size()));
  const bool stored = base.WriteMsg();
  base.CloseMsg();
  return stored;
}

// Every message of the area, by number, as its text.
std::map<std::int32_t, std::string> ReadAll(FidoMsgBase& base) {
  std::map<std::int32_t, std::string> texts;
  for (base.SeekFirst(1); base.SeekFound(); base.SeekNext()) {
    EXPECT_TRUE(base.OpenMsg()) << "message " << base.GetMsgNum() << " is not whole";
    texts[base.GetMsgNum()] = ReadAllBytes(*base.GetTextStream());
    base.CloseMsg();
  }
  return texts;
}

class MsgAreaProof : public ::testing::Test {
 protected:
  // The area as it was before the run: number -> body.
  void Seed(const std::map<std::int32_t, std::string>& messages) {
    seeded_ = messages;
    test::MakeDirs(area_);
    for (const auto& [n, body] : messages) {
      test::WriteFile(area_ + "/" + std::to_string(n) + ".msg", Message(body).Bytes());
    }
  }

  // A destination: opened or created, two messages appended, the first
  // of them deleted again, closed.
  static void AppendTwoDeleteOne(const std::string& area) {
    FidoMsgBase base;
    if (!base.OpenMsgBase(area) && (base.MsgBaseExists(area) || !base.CreateMsgBase(area))) return;
    if (!Append(base, "new one")) return;
    const std::int32_t first = base.GetMsgNum();
    if (!Append(base, "new two")) return;
    base.SeekFirst(first);
    if (base.GetMsgNum() == first && base.OpenMsg()) {
      base.DeleteMsg();
      base.CloseMsg();
    }
    base.CloseMsgBase();
  }

  // A netmail area: walked, the second message deleted while open.
  static void WalkDeletingSecond(const std::string& area) {
    FidoMsgBase base;
    if (!base.OpenMsgBase(area)) return;
    for (base.SeekFirst(1); base.SeekFound(); base.SeekNext()) {
      if (!base.OpenMsg()) continue;
      if (base.GetMsgNum() == 2) base.DeleteMsg();
      base.CloseMsg();
    }
    base.CloseMsgBase();
  }

  // Checks the area after a run that may have stopped anywhere.
  void CheckArea(int n, const std::set<std::string>& may_be_gone) {
    SCOPED_TRACE("fault at call " + std::to_string(n));
    FidoMsgBase base;
    if (!base.OpenMsgBase(area_)) {
      ASSERT_TRUE(base.CreateMsgBase(area_));
    }
    std::map<std::int32_t, std::string> texts = ReadAll(base);
    std::map<std::string, int> bodies;
    for (const auto& [num, text] : texts) {
      std::string body = text.substr(text.rfind('\r', text.size() - 2) + 1);
      body.pop_back();
      EXPECT_EQ(text, Message(body).text) << "message " << num << " is not one that was written";
      ++bodies[body];
    }
    for (const auto& [num, body] : seeded_) {
      if (may_be_gone.count(body) == 0) {
        EXPECT_EQ(texts[num], Message(body).text) << "message " << num << " lost";
      }
    }
    for (const auto& [body, count] : bodies) EXPECT_EQ(count, 1) << body;
    ASSERT_TRUE(Append(base, "after"));
    const std::int32_t added = base.GetMsgNum();
    base.SeekFirst(added);
    ASSERT_TRUE(base.OpenMsg());
    EXPECT_EQ(ReadAllBytes(*base.GetTextStream()), Message("after").text);
    base.CloseMsg();
    for (const std::string& name : test::ListDir(area_)) {
      EXPECT_EQ(name.find("lwtemp"), std::string::npos) << "a leftover stayed: " << name;
    }
  }

  // Runs `run` with call n failing, for n = 1, 2, ... until a run no
  // longer reaches n; checks the area after each.
  template <typename Run>
  void Prove(CountedFaults::Mode mode, Run run, const std::set<std::string>& may_be_gone) {
    const std::map<std::int32_t, std::string> before = seeded_;
    int n = 1;
    for (; n < kMostCalls; ++n) {
      std::filesystem::remove_all(area_);
      if (!before.empty()) Seed(before);
      CountedFaults faults(mode, n, area_);
      {
        platform::ScopedPlatform installed(&faults);
        run(area_);
      }
      if (mode == CountedFaults::Mode::kCrash) faults.CrashNow();
      CheckArea(n, may_be_gone);
      if (HasFatalFailure() || !faults.Reached()) break;
    }
    EXPECT_LT(n, kMostCalls);
    EXPECT_GT(n, 10);  // the run did reach the file system
  }

  test::TempDir dir_;
  std::string area_ = dir_ / "Net";
  std::map<std::int32_t, std::string> seeded_;
};

class MsgFaultsAndCrashes : public MsgAreaProof, public ::testing::WithParamInterface<CountedFaults::Mode> {};

TEST_P(MsgFaultsAndCrashes, NewDestinationKeepsEveryWholeMessage) { Prove(GetParam(), AppendTwoDeleteOne, {}); }

TEST_P(MsgFaultsAndCrashes, DestinationKeepsEveryWholeMessage) {
  Seed({{1, "old one"}, {2, "old two"}});
  Prove(GetParam(), AppendTwoDeleteOne, {});
}

TEST_P(MsgFaultsAndCrashes, NetmailAreaKeepsEveryWholeMessage) {
  Seed({{1, "first"}, {2, "second"}, {3, "third"}});
  Prove(GetParam(), WalkDeletingSecond, {"second"});
}

INSTANTIATE_TEST_SUITE_P(Msg, MsgFaultsAndCrashes,
                         ::testing::Values(CountedFaults::Mode::kFailOne, CountedFaults::Mode::kCrash),
                         [](const auto& info) {
                           return std::string(info.param == CountedFaults::Mode::kCrash ? "MsgCrash" : "MsgFaults");
                         });

}  // namespace
}  // namespace lw
