// The scan on Wine's real registry, through advapi32, with modem keys below every control set:
// the same records, in the same order, as the in-memory registry loaded from the same file.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "discovery/modem_scan.h"
#include "platform/memory_registry.h"
#include "platform/win32_registry.h"
#include "tool_driver.h"

namespace {

using Records = std::vector<std::pair<std::string, std::string>>;

Records Scan(RegistryOperations& registry) {
  ModemInventory inventory;
  inventory.CreateLists();
  NameBuffer name{};
  ModemScanner(registry, inventory, name).ScanModemSettings();
  Records records;
  for (std::size_t i = 0; i < inventory.Count(); ++i) {
    records.emplace_back(inventory.keyPaths->GetAt(i), inventory.dialPrefixes->GetAt(i));
  }
  return records;
}

TEST(RealScanTest, FindsTheFixtureKeysRootAfterRootAndNothingInControlSet002) {
  RealRegistryFixture fixture;
  ASSERT_EQ(fixture.ImportFile("scan_roots.reg"), "");

  Win32Registry real;
  const Records found = Scan(real);
  const std::string fixtureKeys = "\\Control\\ScanFixture\\";
  const Records expected = {
      {"SYSTEM\\CurrentControlSet" + fixtureKeys + "Modem\\Inner", "A"},
      {"SYSTEM\\CurrentControlSet" + fixtureKeys + "Modem", "D"},
      {"SYSTEM\\ControlSet001" + fixtureKeys + "Modem", "D"},
      {"SYSTEM\\ControlSet003" + fixtureKeys + "Modem", "A"},
  };
  EXPECT_EQ(found, expected);

  MemoryRegistry memory;
  memory.LoadRegFile(FixturePath("scan_roots.reg"));
  EXPECT_EQ(Scan(memory), found);
  EXPECT_EQ(memory.OpenHandleCount(), 0u);

  EXPECT_EQ(fixture.Remove(), "");
  EXPECT_FALSE(MachineKeyExists("SYSTEM\\ControlSet001\\Control\\ScanFixture"));
}

}  // namespace
