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
// The nothrow forms as well: the standard library uses them (std::stable_sort's temporary
// buffer), and one left to the runtime would hand free() a block it allocated itself.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
