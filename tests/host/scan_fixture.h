// Helpers shared by the scan tests: an in-memory registry, the inventory and name buffer a
// dialog would hold, and a short way to plant modem settings keys.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "discovery/modem_inventory.h"
#include "discovery/modem_scan.h"
#include "platform/memory_registry.h"

using Record = std::pair<std::string, std::string>;  // key path, dial prefix

class ScanTest : public ::testing::Test {
 protected:
  ScanTest() { inventory.CreateLists(); }

  void TearDown() override {
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
    EXPECT_EQ(registry.BadCloseCount(), 0u);
  }

  // A key holding TONE, PULSE and DIALPREFIX with the given data.
  void PlantModem(const std::string& path, const std::string& prefix) {
    registry.SetDword(path, "Tone", 1);
    registry.SetDword(path, "Pulse", 0);
    registry.SetString(path, "DialPrefix", prefix);
  }

  void Scan() { Scanner().ScanModemSettings(); }
  ModemScanner Scanner() { return ModemScanner(registry, inventory, nameBuffer); }

  std::vector<Record> Records() const {
    std::vector<Record> records;
    for (std::size_t i = 0; i < inventory.Count(); ++i) {
      records.emplace_back(inventory.keyPaths->GetAt(i), inventory.dialPrefixes->GetAt(i));
    }
    return records;
  }

  // Records sorted as the registry enumerates sibling keys: by name, without regard to case.
  static std::vector<Record> InRegistryOrder(std::vector<Record> records) {
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
      return std::lexicographical_compare(
          a.first.begin(), a.first.end(), b.first.begin(), b.first.end(),
          [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
    });
    return records;
  }

  MemoryRegistry registry;
  ModemInventory inventory;
  NameBuffer nameBuffer{};
};
