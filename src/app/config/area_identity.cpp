#include "app/config/area_identity.h"

#include <vector>

#include "fidoutil/cp866.h"
#include "msgbase/area.h"
#include "platform/platform.h"

namespace lw {

namespace {

char FamilyLetter(AreaKind kind) {
  switch (kind) {
    case AreaKind::kMsg: return 'M';
    case AreaKind::kSquish: return 'S';
    case AreaKind::kJam: return 'J';
    case AreaKind::kNone: break;
  }
  return '?';
}

// `path` (absolute) with "." and ".." parts resolved, empty parts dropped
// and every separator written as '/'.  A drive or server prefix stays the
// first part.
std::string Lexical(const std::string& path) {
  // A drive ("C:") is a part ".." never removes.
  const std::size_t floor = !path.empty() && platform::IsPathSeparator(path[0]) ? 0 : 1;
  std::vector<std::string> parts;
  std::string part;
  auto take = [&parts, &part, floor] {
    if (part == "..") {
      if (parts.size() > floor) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  };
  for (char c : path) {
    if (platform::IsPathSeparator(c)) {
      take();
    } else {
      part += c;
    }
  }
  take();
  std::string joined;
  for (const std::string& p : parts) joined += "/" + p;
  return joined;
}

}  // namespace

std::string AreaIdentity(const std::string& area_id) {
  AreaKind kind = AreaKind::kNone;
  std::string path;
  ParseAreaId(area_id, kind, path);
  if (kind == AreaKind::kNone) return area_id;
  return FamilyLetter(kind) + FileIdentity(path);
}

std::string FileIdentity(const std::string& path) { return UpCase866(Lexical(platform::Os().FullPath(path))); }

}  // namespace lw
