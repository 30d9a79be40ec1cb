// What one switch that wrote did, key by key, for the record a change process keeps (the
// Windows event log). Portable: the dialog and modemprefix build it from the inventory and
// the switch's outcome, and hand it to whatever records it on the system at hand.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "discovery/modem_inventory.h"
#include "platform/registry.h"
#include "switching/dial_prefix_switch.h"

// One key the switch wrote or tried to write.
struct SwitchedKey {
  std::string path;       // relative to HKEY_LOCAL_MACHINE, in the registry's code page
  std::string oldPrefix;  // as recorded by the scan: "D" or "A"
  std::string newPrefix;  // the target mode's
  RegStatus status = regstatus::kSuccess;
  bool operator==(const SwitchedKey&) const = default;
};

struct SwitchRecord {
  TargetMode target = TargetMode::kSecureAccess;
  std::vector<SwitchedKey> keys;  // every write tried, in order
  [[nodiscard]] bool AnyFailed() const;
};

// Receives the record of every switch that tried at least one write.
using SwitchAudit = std::function<void(const SwitchRecord& record)>;

// The record of `outcome`, a switch of `inventory` to `target`.
SwitchRecord RecordOfSwitch(const ModemInventory& inventory, TargetMode target,
                            const SwitchOutcome& outcome);

// "secure access (A)" or "normal operation (D)".
const char* TargetModeText(TargetMode target);

// One line a key for the record's text: "PATH: D -> A", or for a failed write
// "PATH: D -> A failed: error 5: Access is denied.".
std::string SwitchedKeysText(const SwitchRecord& record,
                             const std::function<std::string(RegStatus)>& statusText);
