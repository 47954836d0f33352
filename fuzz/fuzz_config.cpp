// The configuration reader: the input is a configuration file, read as a
// run reads it into a fresh set of settings, which are then checked.
#include <cstdint>
#include <memory>
#include <string>

#include "app/config/config.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lw;
  std::string name = fuzz::FreshScratchFolder() + "larkway.cfg";
  fuzz::WriteWholeFile(name, std::string_view(reinterpret_cast<const char*>(data), size));
  auto config = std::make_unique<MoverConfig>();
  if (!ReadConfiguration(name, *config).ok()) fuzz::Fail("an existing configuration file was not read");
  CheckSettings(*config);
  for (const auto& rule : config->ToRules.items) {
    if (rule->name.size() > kMaxNameLength) fuzz::Fail("a name rule is longer than a name");
  }
  return 0;
}
