// The area scan run in-process, with single operating-system calls failing.
#include "app/area_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "app/config.h"
#include "log/log_file.h"
#include "msgbase/area.h"
#include "msgbase/fido/msg_file.h"
#include "platform/platform_wrapper.h"
#include "test_util.h"

namespace lw {
namespace {

using test::AreaIdOf;

class RefusesDelete : public platform::PlatformWrapper {
 public:
  RefusesDelete() : PlatformWrapper(platform::NativePlatform()) {}
  platform::Result DeleteFile(std::string_view) override { return platform::kAccessDenied; }
  void ConsoleWrite(std::string_view text) override { console += text; }
  void ConsoleWriteKeepCursor(std::string_view) override {}
  std::string console;
};

TEST(AreaScan, FailedDeleteIsAWarningAndTheRunGoesOn) {
  test::TempDir dir;
  test::MakeDirs(dir / "net");
  test::MsgFile m;
  m.to = "Sysop";
  test::WriteFile(dir / "net/1.msg", m.Bytes());
  test::WriteFile(dir / "net/2.msg", m.Bytes());
  lw::Run run;
  MoverConfig& config = run.config;
  std::string rule = "TO Sysop, *";
  rule.append(dir / "dest");
  for (const std::string& line : std::vector<std::string>{"MOVE YES", "PRIORITY TO", rule}) {
    ApplyConfigLine(config, line);
  }
  std::string area = "*";
  area.append(dir / "net");
  RefusesDelete os;
  AreaScanResult result;
  {
    platform::ScopedPlatform guard(&os);
    ASSERT_TRUE(run.log.Open(dir / "lw.log").ok());
    ASSERT_TRUE(ScanArea(run, area, result).ok());
  }

  EXPECT_EQ(result.found_count, 2);
  EXPECT_NE(os.console.find("Warning: Unable to delete message 1 in " + area), std::string::npos) << os.console;
  EXPECT_NE(os.console.find("Warning: Unable to delete message 2 in " + area), std::string::npos);
  std::string log = test::ReadFile(dir / "lw.log");
  EXPECT_EQ(log.find("moving or kill message"), std::string::npos);
  EXPECT_NE(log.find("LW 1.07 Warning: Unable to delete message 1 in "), std::string::npos);
  EXPECT_TRUE(test::Exists(dir / "net/1.msg"));
  EXPECT_TRUE(test::Exists(dir / "dest/2.msg"));
}

// A netmail folder whose files cannot be deleted (read-only to the run).
class NetmailReadOnly : public platform::PlatformWrapper {
 public:
  explicit NetmailReadOnly(std::string folder) : PlatformWrapper(platform::NativePlatform()), folder_(folder) {}
  platform::Result DeleteFile(std::string_view name) override {
    if (name.substr(0, folder_.size()) == folder_) return platform::kAccessDenied;
    return PlatformWrapper::DeleteFile(name);
  }
  void ConsoleWrite(std::string_view) override {}
  void ConsoleWriteKeepCursor(std::string_view) override {}

 private:
  std::string folder_;
};

// How many messages of the area have `text` in their text.
int CountWithText(const std::string& area_id, const std::string& text) {
  MsgBasePtr base;
  if (!OpenArea(base, area_id)) return 0;
  int count = 0;
  for (base->SeekFirst(1); base->SeekFound(); base->SeekNext()) {
    if (!base->OpenMsg()) continue;
    Stream* stream = base->GetTextStream();
    std::string bytes(static_cast<std::size_t>(stream->GetSize()), '\0');
    stream->Seek(0);
    stream->Read(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    if (bytes.find(text) != std::string::npos) ++count;
    base->CloseMsg();
  }
  CloseArea(base);
  return count;
}

TEST(AreaScan, AReadOnlyNetmailFolderGetsEachMessageCopiedOnceWhateverTheRuns) {
  test::TempDir dir;
  test::MakeDirs(dir / "net");
  const char* const kRecipients[] = {"Alpha", "Beta", "Gamma", "All"};
  const int kCount = 12;
  for (int n = 1; n <= kCount; ++n) {
    test::MsgFile m;
    m.to = kRecipients[n % 4];
    m.text = "\001MSGID: 2:5020/1 0000000" + std::to_string(n % 10) + "\rMessage " + std::to_string(n) + ".\r";
    test::WriteFile(dir / ("net/" + std::to_string(n) + ".msg"), m.Bytes());
  }
  const std::string msg_dest = AreaIdOf('M', dir / "alpha");
  const std::string squish_dest = AreaIdOf('S', dir / "beta");
  const std::string jam_dest = AreaIdOf('J', dir / "gamma");
  const std::vector<std::string> rules = {"MOVE YES",
                                          "PRIORITY TO",
                                          "TO Alpha, " + msg_dest,
                                          "TO Beta, " + squish_dest,
                                          "TO Gamma, " + jam_dest,
                                          "TO All, " + msg_dest + ", " + squish_dest + ", " + jam_dest};
  NetmailReadOnly os(dir / "net");
  for (int run_number = 1; run_number <= 3; ++run_number) {
    lw::Run run;
    for (const std::string& line : rules) ApplyConfigLine(run.config, line);
    AreaScanResult result;
    platform::ScopedPlatform guard(&os);
    ASSERT_TRUE(ScanArea(run, AreaIdOf('M', dir / "net"), result).ok()) << "run " << run_number;
    EXPECT_EQ(result.found_count, kCount) << "run " << run_number;
  }
  for (int n = 1; n <= kCount; ++n) {
    const std::string text = "Message " + std::to_string(n) + ".\r";
    const std::string to = kRecipients[n % 4];
    EXPECT_EQ(CountWithText(msg_dest, text), to == "Alpha" || to == "All" ? 1 : 0) << text;
    EXPECT_EQ(CountWithText(squish_dest, text), to == "Beta" || to == "All" ? 1 : 0) << text;
    EXPECT_EQ(CountWithText(jam_dest, text), to == "Gamma" || to == "All" ? 1 : 0) << text;
    EXPECT_TRUE(test::Exists(dir / ("net/" + std::to_string(n) + ".msg")));
  }
}

// A netmail folder this process may not read: every call on it is
// refused as the system refuses it (EACCES), the run lock's included.
class UnreadableFolder : public platform::PlatformWrapper {
 public:
  explicit UnreadableFolder(std::string folder) : PlatformWrapper(platform::NativePlatform()), folder_(folder) {}
  platform::Result LockRun(std::string_view name, int wait_ms, platform::FileHandle* lock) override {
    if (Inside(name)) return Refused(lock);
    return PlatformWrapper::LockRun(name, wait_ms, lock);
  }
  platform::Result FindFirst(std::string_view pattern, std::uint32_t mask, platform::SearchHandle* search,
                             platform::DirEntry* entry) override {
    if (Inside(pattern)) return Refused(search);
    return PlatformWrapper::FindFirst(pattern, mask, search, entry);
  }
  void ConsoleWrite(std::string_view) override {}
  void ConsoleWriteKeepCursor(std::string_view) override {}

 private:
  bool Inside(std::string_view name) const { return name.substr(0, folder_.size()) == folder_; }
  template <typename Handle>
  static platform::Result Refused(Handle* handle) {
    *handle = 0;
    return platform::Result(platform::kAccessDenied, EACCES);
  }
  std::string folder_;
};

TEST(AreaScan, AnUnreadableAreaIsNamedWithItsReasonNotTakenForALockedOne) {
  test::TempDir dir;
  test::MakeDirs(dir / "net");
  test::MsgFile m;
  test::WriteFile(dir / "net/1.msg", m.Bytes());
  lw::Run run;
  ApplyConfigLine(run.config, "PRIORITY TO");
  const std::string area = "*" + (dir / "net");
  UnreadableFolder os(dir / "net");
  AreaScanResult result;
  Status status;
  {
    platform::ScopedPlatform guard(&os);
    status = ScanArea(run, area, result);
  }
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.text(), "unable to open messagebase - " + area);
  EXPECT_EQ(status.cause(),
            (dir / "net") + ": " + platform::ReasonText(platform::Result(platform::kAccessDenied, EACCES)));
  EXPECT_TRUE(test::Exists(dir / "net/1.msg"));
}

// A disk whose listing of one folder fails with an I/O error after the
// first `names` entries of a wildcard search (at its start for 0).
class ListingFails : public platform::PlatformWrapper {
 public:
  ListingFails(std::string folder, int names)
      : PlatformWrapper(platform::NativePlatform()), folder_(std::move(folder)), names_(names) {}
  platform::Result FindFirst(std::string_view pattern, std::uint32_t mask, platform::SearchHandle* search,
                             platform::DirEntry* entry) override {
    const bool listing = pattern.substr(0, folder_.size()) == folder_ && pattern.find('*') != std::string_view::npos;
    if (listing && names_ == 0) return Failed();
    const platform::Result rc = PlatformWrapper::FindFirst(pattern, mask, search, entry);
    if (listing && rc == platform::kOk) {
      listed_ = *search;
      left_ = names_ - 1;
    }
    return rc;
  }
  platform::Result FindNext(platform::SearchHandle search, platform::DirEntry* entry) override {
    if (search == listed_ && left_-- <= 0) return Failed();
    return PlatformWrapper::FindNext(search, entry);
  }
  void ConsoleWrite(std::string_view) override {}
  void ConsoleWriteKeepCursor(std::string_view) override {}

 private:
  static platform::Result Failed() { return platform::Result(platform::kDiskReadError, EIO); }
  std::string folder_;
  int names_;
  platform::SearchHandle listed_ = 0;
  int left_ = 0;
};

TEST(AreaScan, AListingThatFailsIsAnErrorNamingTheAreaNeverItsEnd) {
  constexpr int kMessages = 1200;
  for (const int names : {0, 1, 1024}) {
    SCOPED_TRACE(names);
    test::TempDir dir;
    test::MakeDirs(dir / "net");
    test::MsgFile m;
    m.to = "Sysop";
    for (int n = 1; n <= kMessages; ++n) test::WriteFile(dir / ("net/" + std::to_string(n) + ".msg"), m.Bytes());
    lw::Run run;
    for (const std::string& line :
         {std::string("MOVE YES"), std::string("PRIORITY TO"), "TO Sysop, *" + (dir / "dest")}) {
      ApplyConfigLine(run.config, line);
    }
    const std::string area = "*" + (dir / "net");
    ListingFails os(dir / "net", names);
    AreaScanResult result;
    Status status;
    {
      platform::ScopedPlatform guard(&os);
      status = ScanArea(run, area, result);
    }
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.exit_code(), 255);
    EXPECT_EQ(status.text(), "unable to open messagebase - " + area);
    EXPECT_EQ(status.cause(),
              (dir / "net") + ": " + platform::ReasonText(platform::Result(platform::kDiskReadError, EIO)));
    EXPECT_EQ(test::ListDir(dir / "net").size(), static_cast<std::size_t>(kMessages));  // every message is still there
    EXPECT_FALSE(test::Exists(dir / "dest"));
  }
}

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
