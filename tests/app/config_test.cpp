#include "app/config.h"

#include <gtest/gtest.h>

#include "fidoutil/cp866.h"
#include "platform/platform.h"

namespace lw {
namespace {

// A path value as it is stored: folded with the line where this system
// folds paths, as written elsewhere.
std::string Stored(const std::string& written) { return platform::kFoldConfigPaths ? UpCase866(written) : written; }

class ConfigLines : public ::testing::Test {
 protected:
  void Apply(std::initializer_list<const char*> lines) {
    for (const char* l : lines) ApplyConfigLine(config_, l);
  }
  MoverConfig config_;
};

TEST_F(ConfigLines, NetmailKeepsPathCaseKeyFolded) {
  Apply({"netmail */Var/Mail/Net  ", "  NETMAIL /ignored", "NETMAIL\t*/tab/path ; comment"});
  ASSERT_EQ(config_.NetmailAreas.count(), 2);
  EXPECT_EQ(*config_.NetmailAreas.items[0], Stored("*/Var/Mail/Net"));
  EXPECT_EQ(*config_.NetmailAreas.items[1], Stored("*/tab/path"));
}

TEST_F(ConfigLines, RuleSyntax) {
  Apply({"TO Sysop ; , later", "to John Doe, kill ; note", "FROM ,Lead,Sdest,more", "TO Nameless"});
  ASSERT_EQ(config_.ToRules.count(), 3);
  EXPECT_EQ(config_.ToRules.items[0]->name, "SYSOP");
  EXPECT_EQ(config_.ToRules.items[0]->target, "");
  EXPECT_EQ(config_.ToRules.items[1]->name, "JOHN DOE");
  EXPECT_EQ(config_.ToRules.items[1]->target, Stored("kill"));
  EXPECT_EQ(config_.ToRules.items[2]->target, "");
  ASSERT_EQ(config_.FromRules.count(), 1);
  EXPECT_EQ(config_.FromRules.items[0]->name, "LEAD");
  EXPECT_EQ(config_.FromRules.items[0]->target, Stored("Lead,Sdest,more"));
}

TEST_F(ConfigLines, LongNamesCutTo36) {
  Apply({"TO abcdefghijklmnopqrstuvwxyz0123456789ABCD, Mdest", "NOT_TOUCH abcdefghijklmnopqrstuvwxyz0123456789ABCD"});
  EXPECT_EQ(config_.ToRules.items[0]->name, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
  EXPECT_EQ(*config_.NotTouchNames.items[0], "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
}

TEST_F(ConfigLines, Cp866NamesFolded) {
  // "\xA0\xAB\xA5\xAA\xE1" is a lower-case Cyrillic name in code page 866.
  Apply({"TO \xA0\xAB\xA5\xAA\xE1\xF1, Mx"});
  EXPECT_EQ(config_.ToRules.items[0]->name, "\x80\x8B\x85\x8A\x91\xF0");
}

TEST_F(ConfigLines, AddressRulesPresetToZero) {
  Apply({"TOADDR 2:5020/1.3, Mpoint", "FROMADDR 5020/1, kill", "TOADDR junk, Mx"});
  ASSERT_EQ(config_.ToAddrRules.count(), 2);
  EXPECT_EQ(FormatAddress4D(config_.ToAddrRules.items[0]->address), "2:5020/1.3");
  EXPECT_EQ(FormatAddress4D(config_.FromAddrRules.items[0]->address), "0:5020/1.0");
  EXPECT_EQ(FormatAddress4D(config_.ToAddrRules.items[1]->address), "0:0/0.0");
}

TEST_F(ConfigLines, SingleValueKeys) {
  Apply({"MOVE yes", "USELASTREAD Yes", "USERNUMBER 42", "DON'T_TOUCH_LOCAL_AND_UNSENT_MAIL YES", "LOG /Var/Log/LW.log",
         "PRIORITY to from toaddr fromaddr not_touch extra", "PRIORITY to FROM"});
  EXPECT_TRUE(config_.MoveMode);
  EXPECT_TRUE(config_.UseLastRead);
  EXPECT_EQ(config_.UserNumber, 42);
  EXPECT_TRUE(config_.KeepLocalUnsent);
  EXPECT_EQ(config_.LogFileName, Stored("/Var/Log/LW.log"));
  EXPECT_EQ(config_.Priority[0], "TO");
  EXPECT_EQ(config_.Priority[1], "FROM");
  EXPECT_EQ(config_.Priority[2], "");
  Apply({"USERNUMBER 12a", "MOVE no"});
  EXPECT_EQ(config_.UserNumber, 0);
  EXPECT_FALSE(config_.MoveMode);
}

TEST_F(ConfigLines, ListLimit) {
  for (int i = 0; i < kMaxListEntries; ++i) EXPECT_TRUE(ApplyConfigLine(config_, "TO a, b"));
  EXPECT_FALSE(ApplyConfigLine(config_, "TO a, b"));
  EXPECT_EQ(config_.ToRules.count(), kMaxListEntries);
}

}  // namespace
}  // namespace lw
