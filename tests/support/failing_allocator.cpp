#include "failing_allocator.h"

#include <cstdlib>
#include <new>

thread_local long g_allocationsUntilFailure = -1;
thread_local long g_failuresThrown = 0;

namespace {

// The memory for one allocation, or nullptr at the armed failure point.
void* Allocate(std::size_t size) noexcept {
  if (g_allocationsUntilFailure >= 0) {
    if (g_allocationsUntilFailure == 0) {
      g_allocationsUntilFailure = -1;
      ++g_failuresThrown;
      return nullptr;
    }
    --g_allocationsUntilFailure;
  }
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void* operator new(std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
