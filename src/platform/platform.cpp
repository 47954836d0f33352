#include "platform/platform.h"

namespace lw::platform {

namespace {
Platform* g_current = nullptr;
}  // namespace

Platform& Os() { return g_current ? *g_current : NativePlatform(); }

void SetPlatform(Platform* p) { g_current = p; }

bool ColorWanted(bool is_terminal, const std::string* no_color, const std::string* term) {
  if (!is_terminal) return false;
  if (no_color != nullptr && !no_color->empty()) return false;
  return term == nullptr || *term != "dumb";
}

}  // namespace lw::platform
