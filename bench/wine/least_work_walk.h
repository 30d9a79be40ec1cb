// The least registry work that finds the modem settings keys the scan finds, with the same
// operations: each key opened once, relative to its parent's open handle, queried once, its
// subkeys enumerated, and its values read on that same handle after its subkeys have been
// walked. The same rules as the scan decide what is walked and what qualifies (roots, name and
// data limits of 512, depth bound), so both find the same keys in the same order. Windows only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "bench/wine/control_set.h"
#include "bench/wine/registry_calls.h"
#include "platform/registry.h"

class LeastWorkWalk {
 public:
  LeastWorkWalk();

  // Walks the three roots and returns the modem settings keys found, in the scan's order.
  std::vector<ModemRecord> Run();

  // Of the last run: the calls made, and the keys opened below each root.
  [[nodiscard]] const CallCounts& Counts() const { return counts_; }
  [[nodiscard]] const std::vector<std::size_t>& KeysPerRoot() const { return keysPerRoot_; }

 private:
  // Walks the open `key` at `depth` below its root, whose path fills path_ up to `length`;
  // closes it.
  void Walk(HKEY key, std::size_t length, int depth);
  void Inspect(HKEY key, DWORD valueCount, std::size_t length);

  std::vector<char> path_;  // the current key's path, for the records only
  char name_[kRegBufferSize];
  BYTE data_[kRegBufferSize];
  std::vector<ModemRecord> found_;
  std::size_t keys_ = 0;
  std::vector<std::size_t> keysPerRoot_;
  CallCounts counts_;
};
