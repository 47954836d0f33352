#include "fault/counting_platform.h"

namespace lw::test {

CountingPlatform::CountingPlatform(platform::Platform& target, FaultPlan plan)
    : InterceptingPlatform(target), plan_(std::move(plan)) {}

bool CountingPlatform::Fails(CallKind kind, std::string_view name) {
  if (plan_.kind != CallKind::kAny && plan_.kind != kind) return false;
  ++calls_;
  if (plan_.fail_at == 0 || calls_ < plan_.fail_at) return false;
  if (calls_ > plan_.fail_at) return plan_.persistent;
  reached_ = true;
  failed_kind_ = kind;
  failed_name_ = name;
  if (plan_.on_reached) plan_.on_reached(kind, name);
  return true;
}

// A failed call changes nothing on the disk, except a close: a failed close
// still gives the handle back, as close(2) does.
int CountingPlatform::OnCall(Call& call, const std::function<int()>& pass) {
  if (!Fails(call.kind, call.name)) return pass();
  if (call.op == Op::kCloseFile) pass();
  return FailureCode(call.kind);
}

}  // namespace lw::test
