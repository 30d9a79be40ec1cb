// What the scan found: every modem settings key, the dial prefix each one holds, and two flags.
//
// The inventory is held by the main dialog, which creates the two lists when its window is
// created and frees them when it is destroyed. Scans only ever append to it.
#pragma once

#include <memory>
#include <string_view>

#include "framework/string_list.h"

inline constexpr char kNormalPrefix[] = "D";  // normal operation
inline constexpr char kSecurePrefix[] = "A";  // secure access

struct ModemInventory {
  // Key paths (relative to HKEY_LOCAL_MACHINE) of every qualifying key, in the order inspected.
  std::unique_ptr<CStringList> keyPaths;
  // Entry i is the upper-cased dial prefix, "D" or "A", found in the key at keyPaths entry i.
  std::unique_ptr<CStringList> dialPrefixes;
  // True once any key has qualified.
  bool modemFound = false;
  // The mode of the last key recorded: true for "D", false for "A". Meaningful only when
  // modemFound is true.
  bool normalMode = false;

  // Creates the two empty lists (block size 10), keyPaths first.
  void CreateLists();
  // Frees the two lists, where they exist.
  void DestroyLists() noexcept;
  [[nodiscard]] bool HasLists() const noexcept { return keyPaths && dialPrefixes; }
  // Number of records; 0 when the lists do not exist.
  [[nodiscard]] std::size_t Count() const noexcept;

  // Records one qualifying key, whole or not at all: on an exception the lists and flags are
  // left as they were, and the exception propagates. `prefix` is "D" or "A".
  void Record(std::string_view path, std::string_view prefix);
};
