// libFuzzer target: builds an in-memory registry from the input (see fuzz_input.h), runs two
// scans into one inventory and then the switch, as the dialog does on two show-window
// notifications and OK, and checks after every input:
// - no key left open, no handle closed twice or never issued;
// - the two lists of the inventory of one length, modemFound and normalMode agreeing with them;
// - every recorded prefix "D" or "A", every recorded path beginning with one of the three
//   roots, and the key at every recorded path really holding TONE, PULSE and that prefix;
// - a scan that nothing disturbed recording exactly what an oracle of its own predicts (see
//   Oracle), and a scan that an injected failure, an allocation failure or a refused open cut
//   short recording only records the oracle predicts, in the same order;
// - a scan that nothing disturbed recording exactly what the other one did, and a scan that an
//   allocation failure or a refused open cut short recording only records the other one made,
//   in the same order;
// - every write going to a recorded key that held the other prefix, as "DialPrefix" with the
//   target's letter, and the switch's counts agreeing with the registry's write log.
// A failed check prints what failed and aborts, which libFuzzer reports as a crash and saves
// the input.
//
// The program links the tests' failing allocator (tests/support/failing_allocator.h), armed at
// the start of the first scan to fail the allocation the input chose.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "discovery/modem_inventory.h"
#include "discovery/modem_scan.h"
#include "platform/memory_registry.h"
#include "switching/dial_prefix_switch.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/forwarding_registry.h"

namespace {

// The scan's registry refuses every open once an input's opens have named kPathBudget bytes of
// path in all, or it has made kCallBudget calls. An open costs the in-memory registry time in
// proportion to its path, and links that lead back to an ancestor make the walk revisit the
// same keys under ever longer paths down to its depth limit; with two such links below one key
// the number of paths doubles at every level and the walk would not end in any time a fuzzer
// can wait for. The refused opens end it quickly (every further key is passed over as one that
// cannot be opened) and keep each input to a fraction of a second.
constexpr std::uint64_t kPathBudget = 1u << 20;
constexpr std::uint64_t kCallBudget = 30'000;

// Refuses every open through `registry` once the opens have named kPathBudget bytes of path in
// all, or the registry has passed on kCallBudget calls.
class OpenBudget {
 public:
  explicit OpenBudget(ForwardingRegistry& registry) {
    registry.FailCallsWith(
        [this, &registry](ForwardingRegistry::Call call, const char* path, RegKeyHandle) {
          if (call != ForwardingRegistry::Call::kOpen) return regstatus::kSuccess;
          if (pathBytes_ >= kPathBudget || registry.Counts().Total() >= kCallBudget) {
            refused = exhausted = true;
            return regstatus::kOutOfMemory;
          }
          pathBytes_ += std::strlen(path) + 1;
          return regstatus::kSuccess;
        });
  }

  // Set when an open was refused; the caller clears it between scans.
  bool refused = false;
  // Set when an open was refused, for good.
  bool exhausted = false;

 private:
  std::uint64_t pathBytes_ = 0;
};

// Inputs seen, and how many of them ran into the call budget; printed at exit.
std::uint64_t g_inputs = 0;
std::uint64_t g_overBudget = 0;

void PrintBudgetSummary() {
  std::printf("scan_fuzzer: %llu of %llu inputs ran out of registry budget\n",
              static_cast<unsigned long long>(g_overBudget),
              static_cast<unsigned long long>(g_inputs));
}

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "\nscan_fuzzer: invariant failed: %s\n  %s\n", what, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

#define CHECK_INVARIANT(condition, detail)        \
  do {                                            \
    if (!(condition)) Fail(#condition, (detail)); \
  } while (0)

std::string Printable(const std::string& text) {
  std::string shown;
  for (const unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    }
  }
  if (shown.size() > 300) shown = shown.substr(0, 300) + "...";
  return shown;
}

using Records = std::vector<std::pair<std::string, std::string>>;  // path, prefix

Records RecordsOf(const ModemInventory& inventory, std::size_t from, std::size_t to) {
  Records records;
  for (std::size_t i = from; i < to; ++i) {
    records.emplace_back(inventory.keyPaths->GetAt(i), inventory.dialPrefixes->GetAt(i));
  }
  return records;
}

bool IsSubsequence(const Records& part, const Records& whole) {
  std::size_t next = 0;
  for (const auto& record : part) {
    while (next < whole.size() && whole[next] != record) ++next;
    if (next == whole.size()) return false;
    ++next;
  }
  return true;
}

bool StartsWithARoot(const std::string& path) {
  for (const char* root : kControlSetRoots) {
    const std::size_t length = std::strlen(root);
    if (path.compare(0, length, root) == 0 && (path.size() == length || path[length] == '\\')) {
      return true;
    }
  }
  return false;
}

// Whether `text` is `upper` with its ASCII letters in either case. A loop of its own rather
// than upper-cased copies and ==: the checks run for every key of every input.
bool EqualsUpperAscii(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upper[i]) return false;
  }
  return true;
}

// Data as the recognition reads it: the bytes up to the first zero. Names are taken whole: one
// holding a zero byte ("DialPrefix\0x") is another value than the name before the zero.
std::string_view AsText(const std::vector<std::uint8_t>& bytes) {
  const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return all.substr(0, all.find('\0'));
}

// The key at `path` holds values that make it a modem settings key with `prefix`: a TONE, a
// PULSE and a DIALPREFIX whose data reads as `prefix`, and no value name or data too long for
// the 512-byte buffers. The order of the values is not looked at, so this holds for every key
// the scan may record, whatever failures cut its enumeration short.
bool HoldsModemValues(const std::vector<StoredValue>& values, const std::string& prefix) {
  bool tone = false, pulse = false, dialPrefix = false;
  for (const StoredValue& value : values) {
    const bool isString = value.type == regtype::kSz || value.type == regtype::kExpandSz ||
                          value.type == regtype::kMultiSz;
    const std::size_t storedSize = (isString ? 2 : 1) * value.data.size();
    if (value.name.size() >= kRegBufferSize || storedSize >= kRegBufferSize) return false;
    tone = tone || EqualsUpperAscii(value.name, "TONE");
    pulse = pulse || EqualsUpperAscii(value.name, "PULSE");
    if (EqualsUpperAscii(value.name, "DIALPREFIX") &&
        EqualsUpperAscii(AsText(value.data), prefix)) {
      dialPrefix = true;
    }
  }
  return tone && pulse && dialPrefix;
}

bool HoldsModemValues(const MemoryRegistry& registry, const std::string& path,
                      const std::string& prefix) {
  return HoldsModemValues(registry.Values(path), prefix);
}

// ---- The oracle: the records a scan must make, worked out without the scanner.
//
// It walks the registry the input builds before the failures of the scan's calls are added,
// through the registry's own operations: every key below each root in turn, depth first, children
// in the order the registry enumerates them and each key after all of its children; no children
// below a key whose longest subkey name does not fit the 512-byte buffer, none past the depth
// bound, none whose name holds a zero byte (its path would spell another key). A key with
// values is a modem settings key when its values fit the buffers and HoldsModemValues finds
// its prefix among "D" and "A".
class Oracle {
 public:
  explicit Oracle(MemoryRegistry& registry) : registry_(registry) {}

  // The records in the order a scan makes them; nullopt when the walk grew past the budget
  // the scan itself has, so that nothing can be said.
  std::optional<Records> Predict() {
    for (const char* root :
         {"SYSTEM\\CurrentControlSet", "SYSTEM\\ControlSet001", "SYSTEM\\ControlSet003"}) {
      std::string path = root;
      Visit(path, 0);
    }
    if (overBudget_) return std::nullopt;
    return records_;
  }

 private:
  // `path` is the key's; a child's path is made in the same string and taken off again.
  void Visit(std::string& path, int depth) {
    pathBytes_ += path.size() + 1;
    if (overBudget_ || pathBytes_ >= kPathBudget || ++opens_ >= kCallBudget) {
      overBudget_ = true;
      return;
    }
    RegKeyHandle key = nullptr;
    if (registry_.OpenKey(path.c_str(), &key) != regstatus::kSuccess) return;
    RegKeyInfo info;
    const bool queried = registry_.QueryKey(key, &info) == regstatus::kSuccess;
    // The children's names, in strings kept for the next key at this depth.
    if (childrenAt_.size() <= static_cast<std::size_t>(depth)) childrenAt_.resize(depth + 1);
    std::size_t childCount = 0;
    if (queried && info.maxSubKeyNameLength < kRegBufferSize && depth < kMaxWalkDepth) {
      std::vector<std::string>& children = childrenAt_[depth];
      for (std::uint32_t index = 0; index < info.subKeyCount; ++index) {
        char name[kRegBufferSize];
        std::uint32_t size = sizeof name;
        if (registry_.EnumSubkey(key, index, name, &size) != regstatus::kSuccess) break;
        if (std::memchr(name, '\0', size) != nullptr) continue;
        if (childCount == children.size()) children.emplace_back();
        children[childCount++].assign(name, size);
      }
    }
    registry_.CloseKey(key);
    if (!queried) return;
    const std::size_t length = path.size();
    for (std::size_t i = 0; i < childCount; ++i) {
      path += '\\';
      path += childrenAt_[depth][i];
      Visit(path, depth + 1);
      path.resize(length);
    }
    if (info.valueCount == 0 || info.maxValueNameLength >= kRegBufferSize ||
        info.maxValueDataLength >= kRegBufferSize) {
      return;
    }
    const std::vector<StoredValue> values = registry_.Values(path);
    for (const char* prefix : {"D", "A"}) {
      if (HoldsModemValues(values, prefix)) records_.emplace_back(path, prefix);
    }
  }

  MemoryRegistry& registry_;
  std::vector<std::vector<std::string>> childrenAt_;  // by depth
  Records records_;
  std::uint64_t pathBytes_ = 0;
  std::uint64_t opens_ = 0;
  bool overBudget_ = false;
};

void CheckInventory(const ModemInventory& inventory, const MemoryRegistry& registry) {
  CHECK_INVARIANT(inventory.keyPaths->GetCount() == inventory.dialPrefixes->GetCount(),
                  std::to_string(inventory.keyPaths->GetCount()) + " paths, " +
                      std::to_string(inventory.dialPrefixes->GetCount()) + " prefixes");
  const std::size_t count = inventory.Count();
  CHECK_INVARIANT(inventory.modemFound == (count > 0), std::to_string(count) + " records");
  if (count > 0) {
    CHECK_INVARIANT(inventory.normalMode == (inventory.dialPrefixes->GetAt(count - 1) == "D"),
                    "last prefix " + inventory.dialPrefixes->GetAt(count - 1));
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& path = inventory.keyPaths->GetAt(i);
    const std::string& prefix = inventory.dialPrefixes->GetAt(i);
    CHECK_INVARIANT(prefix == "D" || prefix == "A", "prefix " + Printable(prefix));
    CHECK_INVARIANT(StartsWithARoot(path), "path " + Printable(path));
    // Components joined by single backslashes, none empty: a path the registry can open.
    CHECK_INVARIANT(path.back() != '\\' && path.find("\\\\") == std::string::npos,
                    "path " + Printable(path));
    CHECK_INVARIANT(HoldsModemValues(registry, path, prefix),
                    "recorded " + Printable(path) + " = " + prefix);
  }
}

void CheckHandles(const MemoryRegistry& registry, const char* after) {
  CHECK_INVARIANT(registry.OpenHandleCount() == 0,
                  std::to_string(registry.OpenHandleCount()) + " keys open after " + after);
  CHECK_INVARIANT(registry.BadCloseCount() == 0,
                  std::to_string(registry.BadCloseCount()) + " bad closes after " + after);
}

std::optional<PlatformVersion> VersionNt() { return PlatformVersion{kPlatformWin32Nt, 5, 1}; }
std::optional<PlatformVersion> VersionFails() { return std::nullopt; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::atexit(PrintBudgetSummary);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ++g_inputs;
  // The oracle walks the tree before the failures of the scan's calls are added to it.
  MemoryRegistry registry;
  const fuzzinput::Plan plan = fuzzinput::Build(data, size, registry, fuzzinput::BuildPass::kTree);
  const std::optional<Records> predicted = Oracle(registry).Predict();
  CheckHandles(registry, "the oracle's walk");
  if (plan.scanFailuresNamed) {
    fuzzinput::Build(data, size, registry, fuzzinput::BuildPass::kScanFailures);
  }

  ForwardingRegistry budgeted(registry);
  OpenBudget budget(budgeted);
  ModemInventory inventory;
  inventory.CreateLists();
  NameBuffer nameBuffer{};
  ModemScanner scanner(budgeted, inventory, nameBuffer);

  // A scan is disturbed when the allocation failure struck during it or an open was refused;
  // an undisturbed scan records every modem key the registry shows.
  bool disturbed[2] = {false, false};
  std::size_t ends[2] = {0, 0};
  if (plan.failingAllocation) {
    g_allocationsUntilFailure = static_cast<long>(*plan.failingAllocation);
  }
  for (int scan = 0; scan < 2; ++scan) {
    const long thrownBefore = g_failuresThrown;
    budget.refused = false;
    scanner.ScanModemSettings();
    disturbed[scan] = g_failuresThrown != thrownBefore || budget.refused;
    ends[scan] = inventory.Count();
  }

  // The checks allocate: the count towards the failing allocation pauses while they run.
  const long allocationsLeft = std::exchange(g_allocationsUntilFailure, -1);
  CheckHandles(registry, "the scans");
  CheckInventory(inventory, registry);
  const Records first = RecordsOf(inventory, 0, ends[0]);
  const Records second = RecordsOf(inventory, ends[0], ends[1]);
  // Each scan against the oracle: exactly its records where nothing failed; where calls or an
  // allocation failed, some of them, in the same order, and nothing else.
  if (predicted) {
    const Records* scans[2] = {&first, &second};
    for (int scan = 0; scan < 2; ++scan) {
      const std::string detail = "scan " + std::to_string(scan + 1) + " recorded " +
                                 std::to_string(scans[scan]->size()) + ", the oracle " +
                                 std::to_string(predicted->size());
      if (!disturbed[scan] && !plan.scanFailuresNamed) {
        CHECK_INVARIANT(*scans[scan] == *predicted, detail);
      } else {
        CHECK_INVARIANT(IsSubsequence(*scans[scan], *predicted), detail);
      }
    }
  }
  if (!disturbed[0] && !disturbed[1]) {
    CHECK_INVARIANT(first == second, std::to_string(first.size()) + " records, then " +
                                         std::to_string(second.size()));
  } else if (!disturbed[0]) {
    CHECK_INVARIANT(IsSubsequence(second, first), "second scan recorded what the first did not");
  } else if (!disturbed[1]) {
    CHECK_INVARIANT(IsSubsequence(first, second), "first scan recorded what the second did not");
  }
  const bool secure = plan.target == TargetMode::kSecureAccess;
  const std::string from = secure ? "D" : "A";
  const std::string to = secure ? "A" : "D";
  std::size_t fromRecords = 0;
  for (std::size_t i = 0; i < inventory.Count(); ++i) {
    if (inventory.dialPrefixes->GetAt(i) == from) ++fromRecords;
  }

  // The dialog's dispatcher catches whatever the OK handler throws; so does this.
  g_allocationsUntilFailure = allocationsLeft;
  SwitchResult result;
  bool switchCompleted = false;
  try {
    result = SwitchModems(budgeted, inventory, plan.target,
                          plan.versionQueryFails ? VersionFails : VersionNt);
    switchCompleted = true;
  } catch (const std::bad_alloc&) {
  }
  g_allocationsUntilFailure = -1;
  CheckHandles(registry, "the switch");
  if (budget.exhausted) ++g_overBudget;

  // Every write went to a recorded key that held the other prefix.
  const std::vector<MemoryRegistry::Write>& writes = registry.Writes();
  if (!inventory.modemFound || !plan.target) {
    CHECK_INVARIANT(writes.empty(), std::to_string(writes.size()) + " writes without a target");
  }
  for (const MemoryRegistry::Write& write : writes) {
    bool recordedWithFrom = false;
    for (std::size_t i = 0; i < inventory.Count() && !recordedWithFrom; ++i) {
      recordedWithFrom =
          inventory.keyPaths->GetAt(i) == write.path && inventory.dialPrefixes->GetAt(i) == from;
    }
    CHECK_INVARIANT(recordedWithFrom, "write to unrecorded key " + Printable(write.path));
    CHECK_INVARIANT(write.name == kDialPrefixValueName && write.text == to,
                    Printable(write.name) + " = " + Printable(write.text));
  }
  CHECK_INVARIANT(writes.size() <= fromRecords, std::to_string(writes.size()) + " writes for " +
                                                    std::to_string(fromRecords) + " records");
  if (switchCompleted && inventory.modemFound && plan.target) {
    CHECK_INVARIANT(result.outcome.writesTried == fromRecords,
                    std::to_string(result.outcome.writesTried) + " tried");
    CHECK_INVARIANT(result.outcome.WritesSucceeded() == writes.size(),
                    std::to_string(result.outcome.WritesSucceeded()) + " succeeded, " +
                        std::to_string(writes.size()) + " logged");
  }
  return 0;
}
