// AddressSanitizer's defaults for the fuzzers, where they cost time and find nothing more here.
// - malloc_context_size=8: the stack kept for each allocation (default 30). Every allocation
//   unwinds it, and the registry and the scan allocate at every key; eight frames still name
//   the caller in a report.
// - quarantine_size_mb=64: freed memory held back before reuse (default 256); a use after free
//   is still caught for the many allocations one input makes, and less memory is touched.
// - allocator_release_to_os_interval_ms=-1: freed pages stay with the process instead of being
//   handed back and faulted in again for the next input.
// Options given in ASAN_OPTIONS still win over these.
extern "C" const char* __asan_default_options() {
  return "malloc_context_size=8:quarantine_size_mb=64:allocator_release_to_os_interval_ms=-1";
}
