// Counts the heap bytes the program holds, for the memory-leak line of a
// run.  Every allocation through the global operators carries a small
// header with its size.
#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/platform.h"

namespace {

constexpr std::size_t kHeader = alignof(std::max_align_t) > 16 ? alignof(std::max_align_t) : 16;
std::atomic<std::int64_t> g_in_use{0};

void* Allocate(std::size_t size) {
  for (;;) {
    void* block = std::malloc(size + kHeader);
    if (block != nullptr) {
      *static_cast<std::size_t*>(block) = size;
      g_in_use += static_cast<std::int64_t>(size);
      return static_cast<char*>(block) + kHeader;
    }
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

void Release(void* p) noexcept {
  if (p == nullptr) return;
  char* block = static_cast<char*>(p) - kHeader;
  g_in_use -= static_cast<std::int64_t>(*reinterpret_cast<std::size_t*>(block));
  std::free(block);
}

}  // namespace

namespace lw::platform {
std::int64_t HeapInUse() { return g_in_use.load(); }
}  // namespace lw::platform

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
