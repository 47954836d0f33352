#include "app/scan/last_msgid.h"

#include "app/scan/area_state.h"
#include "fidoutil/helpers.h"
#include "platform/text_file.h"

namespace lw {

namespace {

constexpr std::size_t kIdLength = 8;

Status CannotOpen(const std::string& file_name, const platform::Result& rc) {
  return Status::Error("Unable to open file with last msgid, rc=" + Hex8(static_cast<std::uint32_t>(rc.code())),
                       file_name + ": " + platform::ReasonText(rc));
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
  std::string failed;  // the file or folder of the step that failed
  const platform::Result rc = ReplaceStateFile(file_name, std::string_view(id).substr(0, kIdLength), failed);
  if (rc != platform::kOk) {
    return Status::Error(
        "Unable to write file with last msgid " + file_name + ", rc=" + Hex8(static_cast<std::uint32_t>(rc.code())),
        failed + ": " + platform::ReasonText(rc));
  }
  return Status();
}

}  // namespace lw
