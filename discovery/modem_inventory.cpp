#include "discovery/modem_inventory.h"

namespace {
constexpr std::size_t kListBlockSize = 10;
}

void ModemInventory::CreateLists() {
  keyPaths = std::make_unique<CStringList>(kListBlockSize);
  dialPrefixes = std::make_unique<CStringList>(kListBlockSize);
}

void ModemInventory::DestroyLists() noexcept {
  keyPaths.reset();
  dialPrefixes.reset();
}

std::size_t ModemInventory::Count() const noexcept { return keyPaths ? keyPaths->GetCount() : 0; }

void ModemInventory::Record(std::string_view path, std::string_view prefix) {
  keyPaths->AddTail(path);
  try {
    dialPrefixes->AddTail(prefix);
  } catch (...) {
    keyPaths->RemoveTail();  // keep the two lists parallel
    throw;
  }
  modemFound = true;
  normalMode = prefix == kNormalPrefix;
}
