#include "app/scan/area_lock.h"

#include "msgbase/area.h"

namespace lw {

namespace {

// The file or folder whose lock stands for the area.
std::string LockedName(const std::string& area_id) {
  AreaKind kind;
  std::string path;
  ParseAreaId(area_id, kind, path);
  switch (kind) {
    case AreaKind::kSquish: return path + platform::FixedNamePart(".SQD");
    case AreaKind::kJam: return path + platform::FixedNamePart(".JHR");
    case AreaKind::kMsg: return path.empty() ? std::string(".") : path;
    case AreaKind::kNone: break;
  }
  return std::string();
}

}  // namespace

AreaLock::~AreaLock() {
  if (lock_ != platform::kNoFile) platform::Os().CloseFile(lock_);
}

Status AreaLock::Acquire(const std::string& area_id) {
  const std::string name = LockedName(area_id);
  if (name.empty()) return Status();
  const platform::Result rc = platform::Os().LockRun(name, kAreaLockWaitMs, &lock_);
  if (rc == platform::kLockViolation) {
    lock_ = platform::kNoFile;
    return Status::TryLater("area is in use by another run - " + area_id, name + ": " + platform::ReasonText(rc));
  }
  // Any other failure is the area's own (missing, unreadable): opening
  // it reports that, with its reason.
  if (rc != platform::kOk) lock_ = platform::kNoFile;
  return Status();
}

}  // namespace lw
