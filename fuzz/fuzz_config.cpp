// The configuration reader: the input is a configuration file, read line
// by line as a run reads it and applied to a fresh set of settings.
#include <cstdint>
#include <memory>
#include <string>

#include "app/config.h"
#include "fuzz_support.h"
#include "platform/text_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lw;
  std::string name = fuzz::FreshScratchFolder() + "larkway.cfg";
  fuzz::WriteWholeFile(name, std::string_view(reinterpret_cast<const char*>(data), size));
  platform::TextReader reader;
  if (reader.Open(name) != platform::kOk) fuzz::Fail("the configuration file does not open");
  auto config = std::make_unique<MoverConfig>();
  std::string line;
  int error = platform::kOk;
  while (reader.ReadLine(&line, &error)) ApplyConfigLine(*config, line);
  if (error != platform::kOk) fuzz::Fail("reading the configuration file failed");
  if (reader.Close() != platform::kOk) fuzz::Fail("closing the configuration file failed");
  for (int i = 0; i < config->ToRules.count; ++i) {
    if (config->ToRules.items[i]->name.size() > kMaxNameLength) fuzz::Fail("a name rule is longer than a name");
  }
  config->ReleaseLists();
  return 0;
}
