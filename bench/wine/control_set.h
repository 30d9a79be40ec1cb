// A generated control set to time the scan on: SYSTEM\ControlSet001 with a tree of keys and
// values shaped like a real one (Control, Enum, Services, Hardware Profiles; device, service and
// class keys up to ten levels deep, about three values a key) and modem class keys among them.
//
// The tree follows from the size and the seed alone, on every build, and is streamed to a sink
// key by key, so that 200,000 keys cost no memory of their own: the same call fills a registry
// and, with a sink that ignores what it gets, tells what was filled. Portable (no Windows
// header).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char kControlSetPath[] = "SYSTEM\\ControlSet001";
inline constexpr std::size_t kControlSetMinKeys = 1'000;
inline constexpr std::size_t kControlSetMaxKeys = 200'000;
// Levels of keys below the control set's own key.
inline constexpr int kControlSetMaxDepth = 10;
// The longest key path below HKEY_LOCAL_MACHINE, in bytes. Wine refuses an ANSI open by full
// path past 260 bytes, where an open relative to the parent succeeds; paths stay well short of
// that so that every way of walking the tree reaches every key.
inline constexpr std::size_t kControlSetMaxPathLength = 240;
// The value data never reaches this many bytes: a listing that starts with a buffer of this
// size reads every value in one call.
inline constexpr std::size_t kControlSetMaxDataSize = 2'000;

struct ControlSetOptions {
  std::size_t keys = 30'000;  // keys at and below the control set's key; 1,000 to 200,000
  std::uint64_t seed = 1;
};

// Receives the tree in creation order: a key, then its values, then its subkeys, each subkey
// entered and left before the next.
class ControlSetSink {
 public:
  virtual ~ControlSetSink() = default;
  // A subkey of the key entered last and not yet left; the first key entered is the control set
  // itself, named by its path below HKEY_LOCAL_MACHINE.
  virtual void EnterKey(std::string_view name) = 0;
  // A value of the key entered last. `type` has the registry's numbers (regtype in
  // platform/registry.h); strings come with their terminating zero.
  virtual void Value(std::string_view name, std::uint32_t type, const std::uint8_t* data,
                     std::size_t size) = 0;
  // Leaves the key entered last.
  virtual void LeaveKey() = 0;
};

// A key the scan records: its path below HKEY_LOCAL_MACHINE and its dial prefix, "D" or "A".
struct ModemRecord {
  std::string path;
  std::string prefix;
  bool operator==(const ModemRecord&) const = default;
  auto operator<=>(const ModemRecord&) const = default;
};

// What was generated.
struct ControlSetSummary {
  std::size_t keys = 0;
  std::size_t keysWithValues = 0;
  std::size_t keysWithSubkeys = 0;
  std::size_t values = 0;
  // Keys holding a value whose data reaches 512 bytes: the scan leaves their values unread.
  std::size_t keysWithLargeData = 0;
  int maxDepth = 0;                 // below the control set's key
  std::size_t longestPath = 0;      // bytes, below HKEY_LOCAL_MACHINE
  std::size_t modemClassKeys = 0;   // instance keys below the modem class, qualifying or not
  std::vector<ModemRecord> modems;  // in creation order
};

// Generates the control set described by `options` (keys clamped to the range above) into
// `sink`.
ControlSetSummary GenerateControlSet(const ControlSetOptions& options, ControlSetSink& sink);

// A sink that drops everything: GenerateControlSet(options, discard) only summarises.
class DiscardingSink final : public ControlSetSink {
 public:
  void EnterKey(std::string_view) override {}
  void Value(std::string_view, std::uint32_t, const std::uint8_t*, std::size_t) override {}
  void LeaveKey() override {}
};
