// What one run carries from step to step: its settings, its log, and the
// MSGID line last read (it carries over from area to area), and whether
// it only shows what it would do.
#pragma once

#include <string>

#include "app/config/config.h"
#include "log/log_file.h"

namespace lw {

struct Run {
  MoverConfig config;
  LogFile log;
  std::string latest_msgid_line;
  // --dry-run: every message is judged and its verdict shown, and no file
  // is written (no copy, deletion, lastread, msgid or log).
  bool dry_run = false;
  // --json: the dry run reports each message as a JSON object.
  bool json = false;
};

}  // namespace lw
