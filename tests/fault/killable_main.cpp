// larkway with a kill switch: the program's own entry, run on a counting
// platform that raises SIGKILL at file-system call LARKWAY_KILL_AT (1 = the
// first).  Without the variable, or with 0, the run is not interrupted.
// The kill test uses it to stop a real run at every call in turn.
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
  plan.on_reached = [](lw::test::CallKind, std::string_view) { std::raise(SIGKILL); };
  lw::test::CountingPlatform counting(lw::platform::NativePlatform(), plan);
  lw::platform::ScopedPlatform guard(&counting);
  return lw::RunMover(argc, argv);
}
