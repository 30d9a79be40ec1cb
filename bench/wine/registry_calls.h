// The scan's registry calls, written down once and made again with nothing around them.
//
// RecordingRegistry stands between the scan and advapi32 and notes each call: the operation,
// the path or the key (as a slot number), the index, the status and a digest of the results.
// CallReplay then makes the same advapi32 calls in the same order, with the paths ready in
// memory and the keys in an array, so a replay costs what the registry costs and nothing more:
// the difference between the scan and its replay is the scan's own code. The replay compares
// each status and digest with the recorded ones, which tells that it did the same work. Windows
// only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/registry.h"
#include "tests/support/forwarding_registry.h"

// How many calls of each operation a walk made.
struct CallCounts {
  std::uint64_t open = 0;
  std::uint64_t query = 0;
  std::uint64_t enumSubkey = 0;
  std::uint64_t enumValue = 0;
  std::uint64_t close = 0;
  [[nodiscard]] std::uint64_t Total() const {
    return open + query + enumSubkey + enumValue + close;
  }
};

class CallReplay;

// Passes every call on to `inner` (a ForwardingRegistry) and records it. The scan never
// writes: a recorded write makes the recording unusable for a replay (Complete() says so).
class RecordingRegistry final : public ForwardingRegistry {
 public:
  explicit RecordingRegistry(RegistryOperations& inner) : ForwardingRegistry(inner) {}

  RegStatus OpenKey(const char* path, RegKeyHandle* key) override;
  RegStatus QueryKey(RegKeyHandle key, RegKeyInfo* info) override;
  RegStatus EnumSubkey(RegKeyHandle key, std::uint32_t index, char* name,
                       std::uint32_t* nameSize) override;
  RegStatus EnumValue(RegKeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameSize,
                      std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize) override;
  RegStatus SetStringValue(RegKeyHandle key, const char* name, const char* text) override;
  RegStatus CloseKey(RegKeyHandle key) override;

  // "" when every call recorded can be replayed, else what cannot.
  [[nodiscard]] std::string Complete() const;
  [[nodiscard]] const CallCounts& Counts() const { return counts_; }

 private:
  friend class CallReplay;

  enum class Op : std::uint8_t { kOpen, kQuery, kEnumSubkey, kEnumValue, kClose };
  struct Call {
    Op op;
    std::uint32_t slot;      // the key's slot; for an open, the slot that receives it
    std::uint32_t argument;  // an open's path (offset into paths_), an enumeration's index
    RegStatus status;        // what the call returned when recorded
    std::uint32_t digest;    // of what it handed back: counts, name and data sizes
  };
  static constexpr std::uint32_t kScratchSlot = 0;  // where a failed open puts its output

  std::uint32_t SlotOf(RegKeyHandle key);
  RegStatus Note(Op op, std::uint32_t slot, std::uint32_t argument, RegStatus status,
                 std::uint32_t digest = 0);

  std::vector<Call> calls_;
  std::string paths_;  // every path opened, each once, zero-terminated
  std::unordered_map<std::string, std::uint32_t> pathOffsets_;
  std::unordered_map<RegKeyHandle, std::uint32_t> slotOfKey_;
  std::vector<std::uint32_t> freeSlots_;
  std::uint32_t slotCount_ = 1;  // the scratch slot
  CallCounts counts_;
  std::string problem_;
};

// The recorded calls, ready to be made again.
class CallReplay {
 public:
  explicit CallReplay(const RecordingRegistry& recording);

  // Makes every recorded call again, in order, against HKEY_LOCAL_MACHINE; returns how many
  // of them returned another status or other results than when recorded (0 when the registry
  // is unchanged).
  std::size_t Run();

  [[nodiscard]] const CallCounts& Counts() const { return counts_; }

 private:
  std::vector<RecordingRegistry::Call> calls_;
  std::string paths_;
  std::vector<HKEY> slots_;
  CallCounts counts_;
};
