// Finding modem settings keys: a depth-first walk of the control-set trees below
// HKEY_LOCAL_MACHINE, and the recognition of a key holding TONE, PULSE and DIALPREFIX.
//
// The scanner works on the inventory and the 512-byte name buffer of its holder (the main
// dialog) through the registry operations it is given; it owns none of them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "discovery/modem_inventory.h"
#include "platform/registry.h"

// The roots walked, in this order. The numbered control set 002 is not among them.
inline constexpr const char* kControlSetRoots[] = {
    "SYSTEM\\CurrentControlSet",
    "SYSTEM\\ControlSet001",
    "SYSTEM\\ControlSet003",
};

// The walk goes no deeper than this many levels below a root: the registry's own maximum
// depth, so a sound registry is walked whole while a link that leads back to one of its own
// ancestors cannot recurse without end.
inline constexpr int kMaxWalkDepth = 512;

// The walk opens at most this many keys below one root; the rest of that root is passed over
// and the scan goes on with the next root. A whole control set holds a few hundred thousand
// keys at most, so a sound registry is walked whole; but two links back to one ancestor
// double the keys reachable at every level, which no depth bound alone can stop.
inline constexpr std::size_t kMaxKeysPerRoot = std::size_t{1} << 21;

using NameBuffer = char[kRegBufferSize];

class ModemScanner {
 public:
  ModemScanner(RegistryOperations& registry, ModemInventory& inventory, NameBuffer& nameBuffer,
               std::size_t maxKeysPerRoot = kMaxKeysPerRoot)
      : registry_(registry),
        inventory_(inventory),
        name_(nameBuffer),
        maxKeysPerRoot_(maxKeysPerRoot) {}

  // Walks the three roots in order and appends every modem settings key found. Clears
  // nothing: a second scan appends the same records again. Does nothing when the inventory's
  // lists do not exist.
  void ScanModemSettings();

  // Walks the key at `path` and everything below it, inspecting each key that holds values
  // after all of its descendants.
  void WalkKey(std::string_view path);

  // Records the key at `path` if it holds TONE, PULSE and a DIALPREFIX of "D" or "A".
  void InspectKeyValues(const std::string& path);

 private:
  // The walk proper. `path` is one buffer shared by the whole walk: each level appends its
  // child's name and cuts it off again, so a deep tree costs no copy of a path per level.
  void Walk(std::string& path, int depth);

  RegistryOperations& registry_;
  ModemInventory& inventory_;
  NameBuffer& name_;
  std::size_t maxKeysPerRoot_;
  std::size_t keysLeft_ = 0;  // keys the walk of the current root may still open
};
