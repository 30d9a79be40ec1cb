#include "failing_allocator.h"

#include <cstdlib>
#include <new>

std::atomic<long> g_allocationsUntilFailure{-1};
std::atomic<long> g_failuresThrown{0};

void* operator new(std::size_t size) {
  const long left = g_allocationsUntilFailure.load();
  if (left >= 0) {
    if (left == 0) {
      g_allocationsUntilFailure = -1;
      ++g_failuresThrown;
      throw std::bad_alloc();
    }
    g_allocationsUntilFailure = left - 1;
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
