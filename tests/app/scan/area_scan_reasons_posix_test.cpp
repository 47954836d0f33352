// Failures of the system under a scan, each named with the area, the file
// and the system's reason (errno values injected as Linux reports them).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "app/config/config.h"
#include "app/scan/area_scan.h"
#include "log/log_file.h"
#include "msgbase/area.h"
#include "msgbase/fido/msg_file.h"
#include "platform/platform_wrapper.h"
#include "test_util.h"

namespace lw {
namespace {

// A JAM index whose record `record` cannot be read: once, or every time.
class IndexRecordFails : public platform::PlatformWrapper {
 public:
  IndexRecordFails(std::int64_t record, bool always)
      : PlatformWrapper(platform::NativePlatform()), offset_(record * 8), always_(always) {}
  platform::Result OpenFile(std::string_view name, platform::Access access, platform::Sharing sharing,
                            platform::FileHandle* file) override {
    const platform::Result rc = PlatformWrapper::OpenFile(name, access, sharing, file);
    if (rc == platform::kOk && name.size() > 4 && name.substr(name.size() - 4) == ".jdx") index_ = *file;
    return rc;
  }
  platform::Result ReadFileAt(platform::FileHandle file, std::int64_t offset, void* buf, std::size_t count,
                              std::size_t* done) override {
    if (armed_ && file == index_ && offset == offset_) {
      armed_ = always_;
      *done = 0;
      return platform::Result(platform::kDiskReadError, EIO);
    }
    return PlatformWrapper::ReadFileAt(file, offset, buf, count, done);
  }
  void ConsoleWrite(std::string_view text) override { console += text; }
  void ConsoleWriteKeepCursor(std::string_view) override {}
  void ErrorWrite(std::string_view text) override { errors += text; }
  std::string console, errors;

 private:
  std::int64_t offset_;
  bool always_;
  bool armed_ = true;
  platform::FileHandle index_ = platform::kNoFile;
};

// Writes messages to the given names into the JAM base `area_id`.
void PutJamMessages(const std::string& area_id, const std::vector<std::string>& to) {
  MsgBasePtr base;
  ASSERT_TRUE(OpenOrCreateArea(base, area_id));
  for (const std::string& name : to) {
    ASSERT_TRUE(base->CreateMsg());
    base->SetFrom("Sender");
    base->SetTo(name);
    base->SetSubj("for " + name);
    base->WriteLine("text for " + name);
    ASSERT_TRUE(base->WriteMsg());
    base->CloseMsg();
  }
  ASSERT_TRUE(CloseArea(base));
}

// The names the messages of the JAM base `area_id` are to, in order.
std::vector<std::string> JamRecipients(const std::string& area_id) {
  std::vector<std::string> names;
  MsgBasePtr base;
  if (!OpenArea(base, area_id)) return names;
  for (base->SeekFirst(1); base->SeekFound(); base->SeekNext()) {
    if (!base->OpenMsgHeader()) continue;
    std::string to;
    base->GetTo(to);
    names.push_back(to);
    base->CloseMsg();
  }
  CloseArea(base);
  return names;
}

TEST(AreaScan, AJamIndexRecordThatCannotBeReadIsNeverPassedOver) {
  struct Case {
    bool always;                          // the record fails on every read, not only the first
    std::vector<std::string> left_first;  // what the faulty run leaves
  } cases[] = {
      {false, {"Other"}},
      {true, {"Sysop", "Other"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.always);
    test::TempDir dir;
    const std::string area = "J" + (dir / "net");
    PutJamMessages(area, {"Sysop", "Sysop", "Other"});
    const std::vector<std::string> lines = {"MOVE YES", "USELASTREAD YES", "USERNUMBER 1", "PRIORITY TO",
                                            "TO Sysop, *" + (dir / "dest")};
    lw::Run run;
    for (const std::string& line : lines) ApplyConfigLine(run.config, line);
    IndexRecordFails os(1, c.always);  // message 2
    AreaScanResult result;
    {
      platform::ScopedPlatform guard(&os);
      ASSERT_TRUE(ScanArea(run, area, result).ok());
    }
    EXPECT_EQ(JamRecipients(area), c.left_first);
    if (c.always) {
      const std::string reason = platform::ReasonText(platform::Result(platform::kDiskReadError, EIO));
      EXPECT_NE(os.console.find("Warning: Unable to read message 2 in " + area + "\n"), std::string::npos)
          << os.console;
      EXPECT_NE(os.errors.find("Unable to read message 2 in " + area + ": "), std::string::npos) << os.errors;
      EXPECT_NE(os.errors.find(".jdx: " + reason), std::string::npos) << os.errors;
    }
    // A run on a sound disk finds every message the faulty one did not judge.
    lw::Run again;
    for (const std::string& line : lines) ApplyConfigLine(again.config, line);
    AreaScanResult second;
    {
      IndexRecordFails sound(-1, false);  // no record fails; the console is kept out of the test's output
      platform::ScopedPlatform guard(&sound);
      ASSERT_TRUE(ScanArea(again, area, second).ok());
    }
    EXPECT_EQ(JamRecipients(area), std::vector<std::string>{"Other"});
  }
}

// A disk that refuses one kind of call on names that hold `part`, with the
// system's error `error`.
class RefusesCalls : public platform::PlatformWrapper {
 public:
  enum class Call { kDelete, kSync, kOpen };
  RefusesCalls(Call call, std::string part, int code, int error)
      : PlatformWrapper(platform::NativePlatform()), call_(call), part_(std::move(part)), refused_(code, error) {}
  platform::Result DeleteFile(std::string_view name) override {
    if (call_ == Call::kDelete && Hits(name)) return refused_;
    return PlatformWrapper::DeleteFile(name);
  }
  platform::Result OpenFile(std::string_view name, platform::Access access, platform::Sharing sharing,
                            platform::FileHandle* file) override {
    if (call_ == Call::kOpen && Hits(name)) return Refused(file);
    const platform::Result rc = PlatformWrapper::OpenFile(name, access, sharing, file);
    if (rc == platform::kOk && Hits(name)) hit_files_.push_back(*file);
    return rc;
  }
  platform::Result CreateNewFile(std::string_view name, platform::FileHandle* file) override {
    if (call_ == Call::kOpen && Hits(name)) return Refused(file);
    const platform::Result rc = PlatformWrapper::CreateNewFile(name, file);
    if (rc == platform::kOk && Hits(name)) hit_files_.push_back(*file);
    return rc;
  }
  platform::Result FlushFile(platform::FileHandle file) override {
    if (call_ == Call::kSync && std::count(hit_files_.begin(), hit_files_.end(), file) > 0) return refused_;
    return PlatformWrapper::FlushFile(file);
  }
  platform::Result SyncFiles(const platform::FileHandle* files, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      if (call_ == Call::kSync && std::count(hit_files_.begin(), hit_files_.end(), files[i]) > 0) return refused_;
    }
    return PlatformWrapper::SyncFiles(files, count);
  }
  void ConsoleWrite(std::string_view) override {}
  void ConsoleWriteKeepCursor(std::string_view) override {}
  void ErrorWrite(std::string_view text) override { errors += text; }
  std::string errors;

 private:
  bool Hits(std::string_view name) const { return name.find(part_) != std::string_view::npos; }
  platform::Result Refused(platform::FileHandle* file) const {
    *file = platform::kNoFile;
    return refused_;
  }
  Call call_;
  std::string part_;
  platform::Result refused_;
  std::vector<platform::FileHandle> hit_files_;
};

TEST(AreaScan, FailuresNameTheAreaTheFileAndTheSystemsReason) {
  using Call = RefusesCalls::Call;
  const std::string denied = platform::ReasonText(platform::Result(platform::kAccessDenied, EACCES));
  const std::string full = platform::ReasonText(platform::Result(platform::kDiskWriteError, ENOSPC));
  struct Case {
    Call call;
    std::string part;  // of the names refused
    int code;
    int error;
    std::string target;       // the rule's target, in the temporary folder
    bool ends_run;            // an error, else a warning
    std::string said;         // what the console says, the area after it
    std::string failed_file;  // the file the cause names
    const std::string* reason;
  } cases[] = {
      {Call::kDelete, "/net/", platform::kAccessDenied, EACCES, "*dest", false, "Unable to delete message 1 in ",
       "net/1.msg", &denied},
      {Call::kSync, "spam.sq", platform::kDiskWriteError, ENOSPC, "Sspam", true,
       "unable to close destination messagebase - S", "spam.sq", &full},
      {Call::kOpen, "lastread", platform::kAccessDenied, EACCES, "*dest", true,
       "unable to write lastread pointer of messagebase - ", "net/lastread", &denied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    test::TempDir dir;
    test::MakeDirs(dir / "net");
    test::MsgFile m;
    m.to = "Sysop";
    test::WriteFile(dir / "net/1.msg", m.Bytes());
    lw::Run run;
    for (const std::string& line :
         {std::string("MOVE YES"), std::string("USELASTREAD YES"), std::string("USERNUMBER 1"),
          std::string("PRIORITY TO"), "TO Sysop, " + c.target.substr(0, 1) + (dir / c.target.substr(1))}) {
      ApplyConfigLine(run.config, line);
    }
    const std::string area = "*" + (dir / "net");
    if (c.target[0] == 'S') {  // the base exists: the disk fills while the copy is made durable
      MsgBasePtr made;
      ASSERT_TRUE(OpenOrCreateArea(made, "S" + (dir / c.target.substr(1))));
      ASSERT_TRUE(CloseArea(made));
    }
    RefusesCalls os(c.call, c.part, c.code, c.error);
    AreaScanResult result;
    Status status;
    {
      platform::ScopedPlatform guard(&os);
      ASSERT_TRUE(run.log.Open(dir / "lw.log").ok());
      status = ScanArea(run, area, result);
    }
    const std::string shown = c.said + (c.call == Call::kSync ? dir / "spam" : area);
    // What failed and why follows the words the console shows: in the
    // error the run ends with, or in the warning's log line and on
    // standard error.
    std::string cause;
    if (c.ends_run) {
      ASSERT_FALSE(status.ok());
      EXPECT_EQ(status.text(), shown);
      cause = status.cause();
    } else {
      ASSERT_TRUE(status.ok()) << status.Described();
      const std::string line = "Warning: " + shown + ": ";
      const std::string log = test::ReadFile(dir / "lw.log");
      const std::size_t at = log.find(line);
      ASSERT_NE(at, std::string::npos) << log;
      cause = log.substr(at + line.size(), log.find('\r', at) - at - line.size());
      EXPECT_NE(os.errors.find("larkway: warning: " + shown + ": " + cause), std::string::npos) << os.errors;
    }
    EXPECT_NE(cause.find(c.failed_file), std::string::npos) << cause;
    ASSERT_GE(cause.size(), c.reason->size()) << cause;
    EXPECT_EQ(cause.substr(cause.size() - c.reason->size()), *c.reason) << cause;
  }
}

}  // namespace
}  // namespace lw
