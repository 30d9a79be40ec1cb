// The one failing allocator of the tests: linking failing_allocator.cpp into a program replaces
// the global allocation functions with ones that fail at the allocation a test chooses.
//
// They behave as usual until a test arms a failure point; the allocation at that point then
// fails (operator new throws std::bad_alloc, the nothrow forms return nullptr) and the point is
// disarmed. Counting is per thread: only the arming thread's allocations count and fail, so a
// runtime's own threads (a fuzzer's, say) never move the point.
#pragma once

// Allocations of this thread left before the one that fails; -1 (the default) never fails.
extern thread_local long g_allocationsUntilFailure;
// How many allocations of this thread have failed so far.
extern thread_local long g_failuresThrown;
