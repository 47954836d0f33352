// What one run carries from step to step: its settings, its log, and the
// MSGID line last read (it carries over from area to area).
#pragma once

#include <string>

#include "app/config.h"
#include "log/log_file.h"

namespace lw {

struct Run {
  MoverConfig config;
  LogFile log;
  std::string latest_msgid_line;
};

}  // namespace lw
