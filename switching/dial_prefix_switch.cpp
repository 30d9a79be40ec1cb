#include "switching/dial_prefix_switch.h"

const char kErrorCaption[] = "Error Detected";
const char kNoModemText[] =
    "A valid modem configuration was not found in the Registry.  Please verify that your modem "
    "is properly installed.\nNote: only modems that use the Hayes AT command set are supported.";
const char kCompleteCaption[] = "Configuration Complete";
const char kRestartText[] = "Changes will not take effect until after you have restarted your PC.";

std::string FailedWritesText(std::size_t failed, std::size_t tried) {
  return "The dial prefix could not be changed for " + std::to_string(failed) + " of the " +
         std::to_string(tried) +
         " modem settings keys found in the Registry.  Please verify that you have "
         "administrator rights and that your modem is still installed.";
}

RegStatus WriteStringValue(RegistryOperations& registry, const std::string& keyPath,
                           const char* valueName, const char* text) {
  RegKey key(registry);
  const RegStatus opened = key.Open(keyPath.c_str());
  if (opened != regstatus::kSuccess) return opened;
  return registry.SetStringValue(key.Get(), valueName, text);
}

const char* TargetPrefix(TargetMode target) {
  return target == TargetMode::kSecureAccess ? kSecurePrefix : kNormalPrefix;
}

std::vector<std::size_t> RecordsToWrite(const ModemInventory& inventory, TargetMode target) {
  const std::string_view from = target == TargetMode::kSecureAccess ? kNormalPrefix : kSecurePrefix;
  std::vector<std::size_t> records;
  for (std::size_t i = 0; i < inventory.Count(); ++i) {
    if (inventory.dialPrefixes->GetAt(i) == from) records.push_back(i);
  }
  return records;
}

SwitchOutcome WriteTargetPrefix(RegistryOperations& registry, const ModemInventory& inventory,
                                TargetMode target) {
  const char* to = TargetPrefix(target);
  SwitchOutcome outcome;
  for (const std::size_t record : RecordsToWrite(inventory, target)) {
    const RegStatus status =
        WriteStringValue(registry, inventory.keyPaths->GetAt(record), kDialPrefixValueName, to);
    outcome.writes.push_back({record, status});
    ++outcome.writesTried;
    if (status != regstatus::kSuccess) ++outcome.writesFailed;
  }
  return outcome;
}

bool RestartNeeded(const SwitchOutcome& outcome, VersionQuery queryVersion) {
  // A modem's devices read their settings from the registry when they load, so on every NT
  // system the new prefix is only reliably in use after a restart.
  if (outcome.WritesSucceeded() == 0) return false;
  const std::optional<PlatformVersion> version = queryVersion();
  return version && version->platformId == kPlatformWin32Nt;
}

SwitchResult SwitchModems(RegistryOperations& registry, const ModemInventory& inventory,
                          std::optional<TargetMode> target, VersionQuery queryVersion) {
  SwitchResult result;
  if (!inventory.modemFound) {
    result.notices.push_back({kErrorCaption, kNoModemText});
    return result;
  }
  if (!target) return result;

  result.outcome = WriteTargetPrefix(registry, inventory, *target);
  const SwitchOutcome& outcome = result.outcome;
  if (outcome.writesFailed > 0) {
    result.notices.push_back(
        {kErrorCaption, FailedWritesText(outcome.writesFailed, outcome.writesTried)});
  }
  if (RestartNeeded(outcome, queryVersion))
    result.notices.push_back({kCompleteCaption, kRestartText});
  return result;
}
