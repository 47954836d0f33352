#include "app/scan/area_repair.h"

#include "app/scan/area_lock.h"
#include "msgbase/area.h"

namespace lw {

Status RepairArea(const std::string& area_id, std::vector<std::string>& repairs) {
  repairs.clear();
  MsgBasePtr base;
  if (!NewMsgBaseForArea(area_id, base)) {
    return Status::Error("not an area identifier - " + area_id, "it starts with no format letter (M, S or J)");
  }
  AreaLock lock;
  LW_RETURN_IF_ERROR(lock.Acquire(area_id));
  AreaKind kind;
  std::string path;
  ParseAreaId(area_id, kind, path);
  base->CheckWholeOnNextOpen();
  if (!base->OpenMsgBase(path)) {
    std::string cause = base->FailureCause();
    if (cause.empty()) {
      cause = base->MsgBaseExists(path) ? "the base does not open (damaged beyond repair, or held by another program)"
                                        : path + ": no base of that format is there";
    }
    return Status::Error("unable to open messagebase - " + area_id, cause);
  }
  repairs = base->RepairsOnOpen();
  if (std::string cause; !CloseArea(base, &cause)) {
    return Status::Error("unable to close messagebase - " + area_id, cause);
  }
  return Status();
}

}  // namespace lw
