// Global allocation functions that fail on demand, for the tests of behaviour when memory runs
// out. Linking failing_allocator.cpp into a test program replaces operator new and delete for
// the whole program: they behave as usual until a test arms a failure point, then throw
// std::bad_alloc at exactly that allocation and disarm.
#pragma once

#include <atomic>

// Allocations left before the one that fails; -1 (the default) never fails.
extern std::atomic<long> g_allocationsUntilFailure;
// How many allocations have failed so far.
extern std::atomic<long> g_failuresThrown;
