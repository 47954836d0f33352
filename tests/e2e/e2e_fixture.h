// End-to-end runs of the larkway binary on real files in a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/run_larkway.h"
#include "msgbase/fido/msg_file.h"
#include "test_util.h"

namespace lw::test {

// A message as a reader of its area sees it.
struct StoredMsg {
  std::string to;
  std::string text;
};

// Every message of an area of any format, in walk order.
std::vector<StoredMsg> ReadArea(const std::string& area_id);
// A netmail message from 2:5020/1 to `to` whose MSGID serial is `serial`,
// with an INTL line to 2:5020/2 when `intl`.
MsgFile MailTo(const std::string& to, const std::string& serial, bool intl);
// Writes messages into an area of any format, creating it when missing.
void FillArea(const std::string& area_id, const std::vector<MsgFile>& msgs);

class E2E : public ::testing::Test {
 protected:
  // Writes the configuration file "lw.cfg" from `lines`.
  void Config(const std::vector<std::string>& lines);
  RunResult Run() { return RunLarkway({"lw.cfg"}, dir_.path()); }
  // Puts message `n` into the *.MSG folder `area` (relative to the scratch folder).
  void PutMsg(const std::string& area, int n, const MsgFile& m);
  std::vector<std::string> Msgs(const std::string& area);  // message file names, sorted by number
  // The log's lines with CR LF removed and each stamp replaced by "<stamp>".
  std::vector<std::string> LogLines(const std::string& name = "lw.log");
  // The log's lines that carry `mark`.
  std::vector<std::string> Marked(char mark);
  // A path in the scratch folder.  Testing the Win32 build, whose
  // configuration paths are folded to upper case, the file is found
  // whatever the case of its parts.
  std::string P(const std::string& rel) const;
  // Text as the program shows a path or area identifier read from the
  // configuration (folded to upper case by the Win32 build).
  static std::string Shown(const std::string& text);
  // An area identifier: a format letter and a path.
  static std::string AreaId(const char* letter, const std::string& path);
  // The last line of the log ("" when there is none).
  std::string LastLogLine();
  // Starts over in a new, empty scratch folder (the old one is removed):
  // each row of a table test gets a fixture of its own.
  void StartOver() { dir_ = TempDir(); }

  TempDir dir_;
};

}  // namespace lw::test
