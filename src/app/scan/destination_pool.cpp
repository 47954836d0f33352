#include "app/scan/destination_pool.h"

#include "app/config/area_identity.h"

namespace lw {

namespace {

Status CannotClose(const std::string& area_id, std::string cause) {
  return Status::Error("unable to close destination messagebase - " + area_id, std::move(cause));
}

}  // namespace

DestinationPool::~DestinationPool() {
  for (auto& [area_id, held] : open_) CloseArea(held.base);
}

Status DestinationPool::Use(const std::string& area_id, MessageBase*& base) {
  auto at = open_.find(area_id);
  if (at == open_.end()) {
    MsgBasePtr opened;
    if (!OpenOrCreateArea(opened, area_id)) {
      return Status::Error("unable to open destination messagebase - " + area_id,
                           opened ? opened->FailureCause() : std::string());
    }
    at = open_.emplace(area_id, Held{std::move(opened), now_(), 0, false}).first;
  }
  Held& held = at->second;
  if (!held.in_batch) {
    held.base->BeginBatch();
    held.in_batch = true;
  }
  base = held.base.get();
  return Status();
}

const std::string& DestinationPool::SpellingOf(const std::string& area_id) {
  auto known = spelling_.find(area_id);
  if (known != spelling_.end()) return known->second;
  const std::string& first = first_spelling_of_.emplace(AreaIdentity(area_id), area_id).first->second;
  return spelling_.emplace(area_id, first).first->second;
}

void DestinationPool::CountMessage(const std::string& area_id) {
  if (auto at = open_.find(area_id); at != open_.end()) ++at->second.messages;
}

Status DestinationPool::CommitAll() {
  Status first;
  for (auto& [area_id, held] : open_) {
    if (!held.in_batch) continue;
    held.in_batch = false;
    if (!held.base->CommitBatch() && first.ok()) first = CannotClose(area_id, held.base->FailureCause());
  }
  return first;
}

Status DestinationPool::Close(bool all) {
  Status first;
  const PoolClock::time_point now = now_();
  for (auto at = open_.begin(); at != open_.end();) {
    Held& held = at->second;
    const bool expired = now - held.opened >= limits_.hold || held.messages >= limits_.hold_messages;
    if (!all && !expired) {
      ++at;
      continue;
    }
    if (std::string cause; !CloseArea(held.base, &cause) && first.ok()) first = CannotClose(at->first, cause);
    at = open_.erase(at);
  }
  return first;
}

}  // namespace lw
