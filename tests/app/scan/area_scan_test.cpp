// The area scan run in-process, with single operating-system calls failing.
#include "app/scan/area_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "app/config/config.h"
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

}  // namespace
}  // namespace lw
