// Moving every recorded modem settings key to the mode the user chose, and the messages that
// tell the user what happened. Portable: the dialog reads its radio buttons, calls
// SwitchModems and shows the messages it returns, in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "discovery/modem_inventory.h"
#include "platform/platform_version.h"
#include "platform/registry.h"

// The value every write replaces (names match without regard to case, so a value stored as
// "DIALPREFIX" or "dialprefix" is replaced, keeping its stored spelling).
inline constexpr char kDialPrefixValueName[] = "DialPrefix";

enum class TargetMode {
  kSecureAccess,     // dial prefix "A"
  kNormalOperation,  // dial prefix "D"
};

// One message box: caption and text. Every one is owned by the dialog, has an OK button only
// and no icon.
struct Notice {
  std::string caption;
  std::string text;
  bool operator==(const Notice&) const = default;
};

// One write of the switch: which record it was for and what the registry answered.
struct KeyWrite {
  std::size_t record = 0;  // index into the inventory's lists
  RegStatus status = regstatus::kSuccess;
};

struct SwitchOutcome {
  std::size_t writesTried = 0;
  std::size_t writesFailed = 0;
  std::vector<KeyWrite> writes;  // every write tried, in order
  [[nodiscard]] std::size_t WritesSucceeded() const { return writesTried - writesFailed; }
};

struct SwitchResult {
  SwitchOutcome outcome;
  std::vector<Notice> notices;  // to be shown in this order, before the dialog ends
};

// Writes `text` into the value `valueName` of the key at `keyPath` as REG_SZ with its
// terminating zero: open with full access, set, close. Returns the status of the open when it
// fails (nothing is written), otherwise that of the set.
RegStatus WriteStringValue(RegistryOperations& registry, const std::string& keyPath,
                           const char* valueName, const char* text);

// The dial prefix a key holds in the target mode: "A" or "D".
const char* TargetPrefix(TargetMode target);

// The records a switch to `target` writes, in the inventory's order: every record whose
// recorded prefix is the other mode's. Keys already in the target mode are left alone.
std::vector<std::size_t> RecordsToWrite(const ModemInventory& inventory, TargetMode target);

// Writes the target mode's dial prefix into every record RecordsToWrite names, in order; a
// failed write does not stop the others. The inventory itself is not changed.
SwitchOutcome WriteTargetPrefix(RegistryOperations& registry, const ModemInventory& inventory,
                                TargetMode target);

// Whether the user must restart before the new prefixes are in use: at least one write
// succeeded and the platform is of the NT family. The version is queried only after a
// successful write; a failed query asks for no restart.
bool RestartNeeded(const SwitchOutcome& outcome, VersionQuery queryVersion);

// Does what OK asks for and says what to tell the user:
// - no modem recorded: the "Error Detected" message, nothing written;
// - no mode chosen (`target` empty): nothing written, nothing shown;
// - otherwise the writes, then a report of failed writes if any failed, then the restart notice
//   if at least one write succeeded on a platform of the NT family (the version is queried
//   once, only then).
SwitchResult SwitchModems(RegistryOperations& registry, const ModemInventory& inventory,
                          std::optional<TargetMode> target, VersionQuery queryVersion);

// The texts, for the tests and the dialog.
extern const char kErrorCaption[];
extern const char kNoModemText[];
extern const char kCompleteCaption[];
extern const char kRestartText[];
std::string FailedWritesText(std::size_t failed, std::size_t tried);
