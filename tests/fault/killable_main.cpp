// larkway with a kill switch: the program's own entry, run on a counting
// platform that raises SIGKILL at file-system call LARKWAY_KILL_AT (1 = the
// first).  Without the variable, or with 0, the run is not interrupted.
// The kill test uses it to stop a real run at every call in turn.  With
// LARKWAY_STOP_AT_KILL=1 the program stops (SIGSTOP) at that call before
// it is killed, so that a test can start a second run meanwhile and kill
// the first once the second waits.  LARKWAY_CLOCK_JUMP_IN and _AT stop
// the run's clock but for one jump at the AT-th file created under a name
// holding IN (InterceptingPlatform::StopClock).
//
// With LARKWAY_SIGNAL_ON set instead, the first file-system call on a name
// holding that text raises, before it is made, each signal LARKWAY_SIGNALS
// lists ("15" or "15,2"), and the call then goes on: a stop signal that
// lands while a given message is in hand.
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/run_driver.h"
#include "fault/counting_platform.h"
#include "fault/intercepting_platform.h"
#include "fault/scenario.h"

namespace {

class SignallingPlatform : public lw::test::InterceptingPlatform {
 public:
  SignallingPlatform(lw::platform::Platform& target, std::string name_part, std::vector<int> signals)
      : InterceptingPlatform(target), name_part_(std::move(name_part)), signals_(std::move(signals)) {}

 protected:
  int OnCall(lw::test::Call& call, const std::function<int()>& pass) override {
    if (!raised_ && call.name.find(name_part_) != std::string_view::npos) {
      raised_ = true;
      for (int number : signals_) std::raise(number);
    }
    return pass();
  }

 private:
  std::string name_part_;
  std::vector<int> signals_;
  bool raised_ = false;
};

// The numbers of a list such as "15,2".
std::vector<int> SignalNumbers(const char* list) {
  std::vector<int> numbers;
  std::string text = list == nullptr ? "" : list;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    numbers.push_back(std::atoi(text.substr(start, comma - start).c_str()));
    start = comma + 1;
  }
  return numbers;
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* name_part = std::getenv("LARKWAY_SIGNAL_ON"); name_part != nullptr) {
    SignallingPlatform signalling(lw::platform::NativePlatform(), name_part,
                                  SignalNumbers(std::getenv("LARKWAY_SIGNALS")));
    lw::platform::ScopedPlatform guard(&signalling);
    return lw::RunMover(argc, argv);
  }
  const char* at = std::getenv("LARKWAY_KILL_AT");
  lw::test::FaultPlan plan;
  plan.fail_at = at == nullptr ? 0 : std::atoll(at);
  const char* stop = std::getenv("LARKWAY_STOP_AT_KILL");
  const bool stop_first = stop != nullptr && std::string(stop) == "1";
  plan.on_reached = [stop_first](lw::test::CallKind, std::string_view) {
    if (stop_first) std::raise(SIGSTOP);
    std::raise(SIGKILL);
  };
  lw::test::CountingPlatform counting(lw::platform::NativePlatform(), plan);
  if (const char* jump_in = std::getenv("LARKWAY_CLOCK_JUMP_IN"); jump_in != nullptr) {
    const char* at = std::getenv("LARKWAY_CLOCK_JUMP_AT");
    counting.StopClock(jump_in, at == nullptr ? 0 : std::atoll(at), lw::test::kClockJump);
  }
  lw::platform::ScopedPlatform guard(&counting);
  return lw::RunMover(argc, argv);
}
