#include "app/last_msgid.h"

#include <string>

#include "app/config.h"
#include "errreport/exit_report.h"
#include "fidoutil/helpers.h"
#include "log/log_file.h"
#include "msgbase/area.h"
#include "platform/text_file.h"

namespace lw {

namespace {


void CannotOpen(int rc) {
  TheLog()->Error(kProductTag, ShortStr("Unable to open file with last msgid, rc=") +
                                   Hex8(static_cast<std::uint32_t>(rc)));
}

// Creates (or empties) the file and writes `text` without a line end.
// Returns 0 or the code of the failed create; a failed write or close ends
// the run as a run-time I/O fault.
int WriteContents(const ShortStr& file_name, std::string_view text) {
  platform::Platform& os = platform::Os();
  platform::FileHandle f = platform::kNoFile;
  if (int rc = os.CreateFile(file_name.view(), platform::Sharing::kDenyWrite, &f); rc != platform::kOk) {
    return rc;
  }
  std::size_t done = 0;
  int rc = os.WriteFile(f, text.data(), text.size(), &done);
  if (rc == platform::kOk && done != text.size()) rc = platform::kDiskWriteError;
  int close_rc = os.CloseFile(f);
  if (rc != platform::kOk) LW_RUN_ERROR(rc);
  if (close_rc != platform::kOk) LW_RUN_ERROR(close_rc);
  return platform::kOk;
}

}  // namespace

ShortStr LastMsgIdFileName(const ShortStr& area_id) {
  AreaKind kind;
  ShortStr path;
  ParseAreaId(area_id, kind, path);
  if (area_id.empty()) path.clear();
  if (kind == AreaKind::kJam || kind == AreaKind::kSquish) return path + ".msgid";
  if (!path.empty() && !platform::IsPathSeparator(path.back())) path += platform::kPathSeparator;
  return path + "msgid";
}

ShortStr ReadLastMsgId(const ShortStr& file_name) {
  if (!FileExists(file_name.view())) WriteContents(file_name, "00000000");
  platform::TextReader reader;
  if (int rc = reader.Open(file_name.view()); rc != platform::kOk) CannotOpen(rc);
  std::string line;
  int error = platform::kOk;
  reader.ReadLine(&line, &error);
  if (error != platform::kOk) LW_RUN_ERROR(error);
  if (int rc = reader.Close(); rc != platform::kOk) LW_RUN_ERROR(rc);
  return ShortStr(line).Left(8);
}

void WriteLastMsgId(const ShortStr& file_name, const ShortStr& id) {
  if (int rc = WriteContents(file_name, id.Left(8).view()); rc != platform::kOk) CannotOpen(rc);
}

}  // namespace lw
