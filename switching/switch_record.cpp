#include "switching/switch_record.h"

#include <algorithm>

bool SwitchRecord::AnyFailed() const {
  return std::any_of(keys.begin(), keys.end(),
                     [](const SwitchedKey& key) { return key.status != regstatus::kSuccess; });
}

SwitchRecord RecordOfSwitch(const ModemInventory& inventory, TargetMode target,
                            const SwitchOutcome& outcome) {
  SwitchRecord record;
  record.target = target;
  for (const KeyWrite& write : outcome.writes) {
    record.keys.push_back({inventory.keyPaths->GetAt(write.record),
                           inventory.dialPrefixes->GetAt(write.record), TargetPrefix(target),
                           write.status});
  }
  return record;
}

const char* TargetModeText(TargetMode target) {
  return target == TargetMode::kSecureAccess ? "secure access (A)" : "normal operation (D)";
}

std::string SwitchedKeysText(const SwitchRecord& record,
                             const std::function<std::string(RegStatus)>& statusText) {
  std::string text;
  for (const SwitchedKey& key : record.keys) {
    if (!text.empty()) text += "\n";
    text += key.path + ": " + key.oldPrefix + " -> " + key.newPrefix;
    if (key.status != regstatus::kSuccess) {
      text += " failed: error " + std::to_string(key.status) + ": " + statusText(key.status);
    }
  }
  return text;
}
