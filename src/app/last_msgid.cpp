#include "app/last_msgid.h"

#include "app/area_state.h"
#include "fidoutil/helpers.h"
#include "platform/text_file.h"

namespace lw {

namespace {

constexpr std::size_t kIdLength = 8;

Status CannotOpen(const std::string& file_name, const platform::Result& rc) {
  return Status::Error("Unable to open file with last msgid, rc=" + Hex8(static_cast<std::uint32_t>(rc.code())),
                       file_name + ": " + platform::ReasonText(rc));
}

// Creates (or empties) `file_name`, writes `text` without a line end and
// syncs it.  Returns kOk or the result of the failed call.
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

std::string LastMsgIdFileName(const std::string& area_id) { return AreaStateFileName(area_id, "msgid"); }

Status ReadLastMsgId(const std::string& file_name, std::string& id) {
  if (!FileExists(file_name)) LW_RETURN_IF_ERROR(WriteLastMsgId(file_name, "00000000"));
  platform::TextReader reader;
  if (const platform::Result rc = reader.Open(file_name); rc != platform::kOk) return CannotOpen(file_name, rc);
  std::string line;
  platform::Result error;
  reader.ReadLine(&line, &error);
  if (error != platform::kOk) return CannotOpen(file_name, error);
  if (const platform::Result rc = reader.Close(); rc != platform::kOk) return CannotOpen(file_name, rc);
  id = line.substr(0, kIdLength);
  return Status();
}

Status WriteLastMsgId(const std::string& file_name, const std::string& id) {
  const std::string scratch = file_name + platform::FixedNamePart(".NEW");
  std::string failed = scratch;  // the file or folder of the step that failed
  platform::Result rc = WriteSynced(scratch, std::string_view(id).substr(0, kIdLength));
  if (rc == platform::kOk) {
    failed = file_name;
    rc = platform::Os().ReplaceFile(scratch, file_name);
  }
  if (rc == platform::kOk) {
    failed = ParentDir(file_name);
    rc = platform::Os().SyncDirectory(failed);
  }
  if (rc != platform::kOk) {
    platform::Os().DeleteFile(scratch);
    return Status::Error(
        "Unable to write file with last msgid " + file_name + ", rc=" + Hex8(static_cast<std::uint32_t>(rc.code())),
        failed + ": " + platform::ReasonText(rc));
  }
  return Status();
}

}  // namespace lw
