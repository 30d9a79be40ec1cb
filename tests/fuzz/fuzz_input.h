// The scan fuzzer's input format: a sequence of commands that build an in-memory registry
// (keys, values, aliases, .reg text), inject registry failures and an allocation failure, and
// choose what the switch is asked to do. The seed generator writes the same format.
//
// Every byte sequence is a valid input: each command starts with one byte (taken modulo the
// number of commands), arguments that run past the end read as zeros, and a command that the
// registry refuses (a malformed path, an alias over an existing key) is skipped.
//
// Encodings:
// - integers: little-endian, u8 / u16 / u24;
// - text: one byte L; L below kLongTextMark is a literal of L bytes; otherwise a u16 length N
//   (at most kMaxTextLength), a fill byte F and a literal head H (one length byte and its
//   bytes): the text is H followed by F repeated up to N bytes. So a 512-byte name costs a few
//   bytes of input, and a mutation of N moves it across the 511/512 limits;
// - path: one byte whose low three bits choose where it starts (PathBase) and whose high five
//   bits give the number of components that follow, each a text. Empty components are left
//   out; a component holding a backslash names several levels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory_registry.h"
#include "switching/dial_prefix_switch.h"

namespace fuzzinput {

enum class Command : std::uint8_t {
  kCreateKey,       // path
  kSetValue,        // path, name text, type u8, data text
  kPlantModem,      // path, ModemStyle u8, prefix text: TONE, PULSE and DIALPREFIX in one go
  kAddAlias,        // alias path, target path
  kDeleteKey,       // path
  kChain,           // path, depth u16, name text: `depth` nested keys of one name below path
  kRegText,         // u16 length and that many bytes of .reg text, loaded whole or not at all
  kDenyAccess,      // path
  kFailQuery,       // path, status u8
  kFailSubkeyEnum,  // path, index u16, status u8
  kFailValueEnum,   // path, index u16, status u8
  kFailWrite,       // path, status u8
  kFailAllocation,  // u24: the allocation (counting from 0 at the first scan) that fails
  kChooseTarget,    // u8: low bits TargetChoice, kVersionQueryFails bit
  kCount
};

enum class PathBase : std::uint8_t {
  kCurrentControlSet,
  kControlSet001,
  kControlSet003,
  kControlSet002,
  kSystem,
  kMachine,     // HKEY_LOCAL_MACHINE itself: the empty path
  kLastPath,    // the path of the previous command that named one
  kLastParent,  // its parent
};
inline constexpr unsigned kMaxComponents = 31;

// kPlantModem's style byte: bits 0-1 pick the spelling of the three names, bit 2 stores TONE
// and PULSE as DWORDs (else as strings), bits 3 and 4 leave out TONE and PULSE.
enum ModemStyle : std::uint8_t {
  kMixedCase = 0,  // "Tone", "Pulse", "DialPrefix"
  kUpperCase = 1,
  kLowerCase = 2,
  kOddCase = 3,  // "tOnE", "pUlSe", "dIaLpReFiX"
  kSpellingMask = 3,
  kDwordFlags = 4,
  kNoTone = 8,
  kNoPulse = 16,
};

enum TargetChoice : std::uint8_t {
  kTargetSecure = 0,
  kTargetNormal = 1,
  kTargetNone = 2,
  kTargetChoices = 3,
  kVersionQueryFails = 0x80,
};

inline constexpr std::uint8_t kLongTextMark = 0xE0;
inline constexpr std::size_t kMaxTextLength = 2048;
inline constexpr std::size_t kMaxChainDepth = 1024;
// Longest path a command may build: deep enough to pass the walk's depth limit with short
// names, short enough that one input cannot build a tree of gigabytes.
inline constexpr std::size_t kMaxPathLength = 1 << 16;

// The statuses an injected failure takes, chosen by a byte modulo their number.
inline constexpr RegStatus kInjectedStatuses[] = {
    regstatus::kGenFailure,  regstatus::kAccessDenied,     regstatus::kFileNotFound,
    regstatus::kMoreData,    regstatus::kNoMoreItems,      regstatus::kOutOfMemory,
    regstatus::kKeyDeleted,  regstatus::kInvalidParameter, regstatus::kInvalidHandle,
    regstatus::kBadPathname,
};

// What the fuzz target does once the registry is built.
struct Plan {
  std::optional<TargetMode> target = TargetMode::kSecureAccess;
  bool versionQueryFails = false;
  std::optional<std::uint32_t> failingAllocation;  // counted from the start of the first scan
  // The input named a refused open, query or enumeration (kDenyAccess, kFailQuery,
  // kFailSubkeyEnum, kFailValueEnum), whether or not it was applied.
  bool scanFailuresNamed = false;
};

// Which commands Build applies. The scan's registry is built in two passes: first the tree
// (keys, values, aliases, failed writes), which the oracle walks as it is, then the failures of
// the scan's calls (refused opens, failed queries and enumerations) on top of it. The two passes
// give the same registry as the whole input at once: the failures are kept by path, apart from
// the tree.
enum class BuildPass { kWhole, kTree, kScanFailures };

// Applies the commands of `input` that `pass` names to `registry` and returns the plan (the
// same for every pass). Never throws for a malformed input (the registry's own std::bad_alloc
// aside).
Plan Build(const std::uint8_t* input, std::size_t size, MemoryRegistry& registry,
           BuildPass pass = BuildPass::kWhole);

// Writes inputs, for the seed generator. Each function appends one command.
class Writer {
 public:
  // A path given as text is split at its backslashes and written from the longest fixed
  // base it starts with (a control-set root, SYSTEM, or the machine). Throws
  // std::invalid_argument for a path of more components than one command can carry.
  Writer& CreateKey(std::string_view path);
  Writer& SetValue(std::string_view path, std::string_view name, std::uint8_t type,
                   std::string_view data);
  Writer& PlantModem(std::string_view path, std::uint8_t style, std::string_view prefix);
  // Plants a modem at the path the previous command named (the bottom of a chain, say).
  Writer& PlantModemAtLastPath(std::uint8_t style, std::string_view prefix);
  Writer& AddAlias(std::string_view aliasPath, std::string_view targetPath);
  Writer& DeleteKey(std::string_view path);
  Writer& Chain(std::string_view path, std::uint16_t depth, std::string_view name);
  Writer& RegText(std::string_view text);
  Writer& DenyAccess(std::string_view path);
  Writer& FailQuery(std::string_view path, std::uint8_t statusChoice);
  Writer& FailSubkeyEnum(std::string_view path, std::uint16_t index, std::uint8_t statusChoice);
  Writer& FailValueEnum(std::string_view path, std::uint16_t index, std::uint8_t statusChoice);
  Writer& FailWrite(std::string_view path, std::uint8_t statusChoice);
  Writer& FailAllocation(std::uint32_t point);
  Writer& ChooseTarget(std::uint8_t choice);

  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  void Op(Command command) { U8(static_cast<std::uint8_t>(command)); }
  void U8(std::uint8_t value) { bytes_.push_back(value); }
  void U16(std::uint16_t value);
  void Text(std::string_view text);
  void Path(std::string_view path);

  std::vector<std::uint8_t> bytes_;
  std::optional<std::string> lastPath_;  // what the reader takes for PathBase::kLastPath
};

}  // namespace fuzzinput
