#include "msgbase/area.h"

#include "msgbase/fido/fido_msg_base.h"
#include "msgbase/jam/jam_msg_base.h"
#include "msgbase/squish/squish_msg_base.h"

namespace lw {

void ParseAreaId(const std::string& area_id, AreaKind& kind, std::string& path) {
  if (area_id.empty()) {
    kind = AreaKind::kNone;
    return;
  }
  switch (area_id[0]) {
    case '*':
    case 'F':
    case 'f':
    case 'M':
    case 'm': kind = AreaKind::kMsg; break;
    case 'J':
    case 'j': kind = AreaKind::kJam; break;
    case 'S':
    case 's': kind = AreaKind::kSquish; break;
    default: kind = AreaKind::kNone; break;
  }
  path = kind == AreaKind::kNone ? area_id : std::string(area_id.substr(1));
}

bool NewMsgBaseForArea(const std::string& area_id, MsgBasePtr& base) {
  base.reset();
  if (area_id.empty()) return false;
  AreaKind kind;
  std::string path;
  ParseAreaId(area_id, kind, path);
  switch (kind) {
    case AreaKind::kMsg: base = std::make_unique<FidoMsgBase>(); return true;
    case AreaKind::kSquish: base = std::make_unique<SquishMsgBase>(); return true;
    case AreaKind::kJam: base = std::make_unique<JamMsgBase>(); return true;
    case AreaKind::kNone: return false;
  }
  return false;
}

namespace {

std::string PathOf(const std::string& area_id) {
  AreaKind kind;
  std::string path;
  ParseAreaId(area_id, kind, path);
  return path;
}

}  // namespace

bool OpenArea(MsgBasePtr& base, const std::string& area_id, std::string* cause) {
  if (!NewMsgBaseForArea(area_id, base)) return false;
  if (base->OpenMsgBase(PathOf(area_id))) return true;
  if (cause != nullptr) *cause = base->FailureCause();
  DisposeMsgBase(base);
  return false;
}

bool OpenOrCreateArea(MsgBasePtr& base, const std::string& area_id) {
  if (!NewMsgBaseForArea(area_id, base)) return false;
  std::string path = PathOf(area_id);
  if (base->OpenMsgBase(path)) return true;
  if (base->MsgBaseExists(path)) return false;
  return base->CreateMsgBase(path);
}

bool CloseArea(MsgBasePtr& base, std::string* cause) {
  if (!base) return false;
  const bool closed = base->CloseMsgBase();
  if (!closed && cause != nullptr) *cause = base->FailureCause();
  DisposeMsgBase(base);
  return closed;
}

bool DisposeMsgBase(MsgBasePtr& base) {
  if (!base) return false;
  base.reset();
  return true;
}

}  // namespace lw
