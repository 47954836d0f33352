#include "app/scan/area_state.h"

#include "fidoutil/helpers.h"
#include "msgbase/area.h"
#include "platform/platform.h"

namespace lw {

std::string AreaStateFileName(const std::string& area_id, std::string_view name) {
  AreaKind kind;
  std::string path;
  ParseAreaId(area_id, kind, path);
  if (area_id.empty()) path.clear();
  if ((kind == AreaKind::kJam || kind == AreaKind::kSquish) && !path.empty()) return (path += '.').append(name);
  if (!path.empty() && !platform::IsPathSeparator(path.back())) path += platform::kPathSeparator;
  return path.append(name);
}

namespace {

// Creates (or empties) `file_name`, writes `text` and syncs it.
platform::Result WriteSynced(const std::string& file_name, std::string_view text) {
  platform::Platform& os = platform::Os();
  platform::FileHandle f = platform::kNoFile;
  if (const platform::Result rc = os.CreateFile(file_name, platform::Sharing::kDenyWrite, &f); rc != platform::kOk) {
    return rc;
  }
  std::size_t done = 0;
  platform::Result rc = os.WriteFile(f, text.data(), text.size(), &done);
  if (rc == platform::kOk && done != text.size()) rc = platform::kDiskWriteError;
  if (rc == platform::kOk) rc = os.FlushFile(f);
  const platform::Result close_rc = os.CloseFile(f);
  return rc != platform::kOk ? rc : close_rc;
}

}  // namespace

platform::Result ReplaceStateFile(const std::string& file_name, std::string_view text, std::string& failed) {
  platform::Platform& os = platform::Os();
  const std::string scratch = file_name + platform::FixedNamePart(".NEW");
  failed = scratch;
  platform::Result rc = WriteSynced(scratch, text);
  if (rc == platform::kOk) {
    failed = file_name;
    rc = os.ReplaceFile(scratch, file_name);
  }
  if (rc == platform::kOk) {
    failed = ParentDir(file_name);
    rc = os.SyncDirectory(failed);
  }
  if (rc != platform::kOk) os.DeleteFile(scratch);
  return rc;
}

}  // namespace lw
