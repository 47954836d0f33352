#include "platform/platform.h"

namespace lw::platform {

namespace {
Platform* g_current = nullptr;
}  // namespace

Platform& Os() { return g_current ? *g_current : NativePlatform(); }

void SetPlatform(Platform* p) { g_current = p; }

}  // namespace lw::platform
