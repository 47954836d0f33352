#include "app/area_state.h"

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

}  // namespace lw
