// A platform that numbers every file-system call and makes one of them fail,
// the way SQLite's fault tests walk a fault through every I/O of an
// operation: run once with the fault at call 1, then at call 2, ... until a
// run finishes without reaching the numbered call.
//
// Console and clock calls are passed on unnumbered, and so is FullPath,
// which only computes a name.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "fault/intercepting_platform.h"

namespace lw::test {

struct FaultPlan {
  // The number of the call that fails (1 = the first numbered call of the
  // kind); 0 never fails.
  std::int64_t fail_at = 0;
  // Only calls of this kind are numbered for `fail_at` (kAny: all).
  CallKind kind = CallKind::kAny;
  // False: only call `fail_at` fails (a transient error).  True: it and
  // every later numbered call fail (the disk went away).
  bool persistent = false;
  // Runs with the kind and name (if any) of call `fail_at` when it is
  // reached, before it fails; may end the process (a kill at that call).
  std::function<void(CallKind kind, std::string_view name)> on_reached;
};

class CountingPlatform : public InterceptingPlatform {
 public:
  CountingPlatform(platform::Platform& target, FaultPlan plan);

  // Numbered calls seen so far (of the plan's kind, or all for kAny).
  std::int64_t calls() const { return calls_; }
  // Whether call `fail_at` was reached (and failed).
  bool reached() const { return reached_; }
  // The kind and name of the call that failed ("" before it happened).
  CallKind failed_kind() const { return failed_kind_; }
  const std::string& failed_name() const { return failed_name_; }

 protected:
  int OnCall(Call& call, const std::function<int()>& pass) override;

 private:
  // Numbers the call; true when it is to fail.
  bool Fails(CallKind kind, std::string_view name);

  FaultPlan plan_;
  std::int64_t calls_ = 0;
  bool reached_ = false;
  CallKind failed_kind_ = CallKind::kAny;
  std::string failed_name_;
};

}  // namespace lw::test
