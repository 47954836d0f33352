#include "app/config/config.h"

#include <gtest/gtest.h>

#include "fidoutil/cp866.h"
#include "platform/platform.h"
#include "test_util.h"

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

// Each problem as --check tells it, "file:line: text", with `folder`
// left out wherever a path names it.
std::vector<std::string> Told(const MoverConfig& config, const std::string& folder) {
  std::vector<std::string> told;
  for (const ConfigProblem& p : config.problems) {
    std::string line = p.file + ":" + std::to_string(p.line_number) + ": " + p.text;
    for (std::size_t at = line.find(folder); at != std::string::npos; at = line.find(folder, at)) {
      line.erase(at, folder.size());
    }
    told.push_back(line);
  }
  return told;
}

TEST(ConfigIncludes, FilesReadInPlaceOfTheirIncludeLine) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;  // name, text; the first is read
    int to_rules;                                            // TO rules read from every file
    std::vector<std::string> problems;                       // as Told(), in file order
    bool read_whole = true;
  };
  // An included name as it is shown: folded by a build that folds configured paths.
  const auto shown = [](std::string name) {
    if (platform::kFoldConfigPaths) name = UpCase866(name);
    return name;
  };
  const std::string missing = platform::ReasonText(platform::Result(platform::kFileNotFound, 2));  // ENOENT, ERROR_FILE_NOT_FOUND
  const Case cases[] = {
      {"nested, each name from the including file's folder",
       {{"lw.cfg", "PRIORITY TO\nINCLUDE rules/a.cfg\nTO Last, KILL\n"},
        {"rules/a.cfg", "TO A, KILL\nINCLUDE b.cfg\n"},
        {"rules/b.cfg", "TO B, KILL\n"}},
       3,
       {}},
      {"a problem of an included line names its file and line, in reading order",
       {{"lw.cfg", "PRIORITY TO\nMOVE on\nINCLUDE rules.cfg\nLOGDETAIL 1\n"},
        {"rules.cfg", "TO A, KILL\nPRIORTY FROM\n"}},
       1,
       {"lw.cfg:2: MOVE `on` is not YES: taken as no", shown("rules.cfg") + ":2: unknown key `PRIORTY`; the line is not read",
        "lw.cfg:4: LOGDETAIL `1` is not YES: taken as no"}},
      {"a key set again in another file names the first one",
       {{"lw.cfg", "MOVE yes\nINCLUDE rules.cfg\n"}, {"rules.cfg", "MOVE no\n"}},
       0,
       {shown("rules.cfg") + ":1: MOVE is set again (first on line 1 of lw.cfg); the last line counts"}},
      {"a rule kind left out of PRIORITY is told where its first rule is",
       {{"lw.cfg", "INCLUDE rules.cfg\nPRIORITY FROM\n"}, {"rules.cfg", "\nTO A, KILL\n"}},
       1,
       {shown("rules.cfg") + ":2: TO rules are never tried: PRIORITY does not name TO"}},
      {"a missing file",
       {{"lw.cfg", "INCLUDE rules.cfg\nTO After, KILL\nPRIORITY TO\n"}},
       1,
       {"lw.cfg:1: cannot read the included file " + shown("rules.cfg") + ": " + missing},
       false},
      {"a folder",
       {{"lw.cfg", "INCLUDE rules\n"}, {"rules/x.cfg", ""}},
       0,
       {"lw.cfg:1: cannot read the included file " + shown("rules") + ": it is a folder"},
       false},
      {"a loop through another file",
       {{"lw.cfg", "INCLUDE rules.cfg\n"}, {"rules.cfg", "INCLUDE lw.cfg\nTO A, KILL\nPRIORITY TO\n"}},
       1,
       {shown("rules.cfg") + ":1: INCLUDE loop lw.cfg -> " + shown("rules.cfg") + " -> " + shown("lw.cfg") +
        "; the file is not read again"},
       false},
      {"a file including itself under another spelling",
       {{"lw.cfg", "INCLUDE ./x/../lw.cfg\n"}},
       0,
       {"lw.cfg:1: INCLUDE loop lw.cfg -> " + shown("./x/../lw.cfg") + "; the file is not read again"},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    for (const auto& [name, text] : c.files) {
      const std::size_t slash = name.rfind('/');
      if (slash != std::string::npos) test::MakeDirs(dir / name.substr(0, slash));
      test::WriteFile(dir / name, text);
    }
    MoverConfig config;
    ASSERT_TRUE(ReadConfiguration(dir / c.files[0].first, config).ok());
    EXPECT_EQ(config.ToRules.count(), c.to_rules);
    EXPECT_EQ(Told(config, dir.path() + "/"), c.problems);
    EXPECT_EQ(config.unread_include.empty(), c.read_whole) << config.unread_include;
  }
}

TEST(ConfigIncludes, NestingIsBounded) {
  // Each file includes the next; the last would be read past the bound.
  test::TempDir dir;
  for (int i = 0; i <= kMaxIncludeDepth; ++i) {
    test::WriteFile(dir / (std::to_string(i) + ".cfg"), "INCLUDE " + std::to_string(i + 1) + ".cfg\nTO A, KILL\n");
  }
  MoverConfig config;
  ASSERT_TRUE(ReadConfiguration(dir / "0.cfg", config).ok());
  EXPECT_EQ(config.ToRules.count(), kMaxIncludeDepth);
  EXPECT_NE(config.unread_include.find("nests files deeper than 16"), std::string::npos) << config.unread_include;
}

}  // namespace
}  // namespace lw
