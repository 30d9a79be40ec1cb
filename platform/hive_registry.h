// The registry operations over an offline SYSTEM hive file (Linux, through libhivex), with the
// observable behaviour of the live registry, and the safe write-back of the changed hive.
//
// Usage, as a front end does it:
//
//   HiveProblem problem;
//   auto hive = HiveRegistry::Open(path, HiveAccess::kWrite, &problem);
//   if (!hive) -> print problem.message, exit with the code for problem.error
//   print each of hive->Warnings()          (reading: a hive not cleanly saved)
//   print hive->Mapping().note              (which control set is CurrentControlSet, or why none)
//   ModemScanner(*hive, inventory, nameBuffer).ScanModemSettings();      (as on the live registry)
//   WriteTargetPrefix(*hive, inventory, target);                         (in memory only)
//   HiveProblem written = hive->Commit({.keepBackup = true, .stepHook = {}});  (the file, safely)
//   if (written.error != HiveError::kNone) -> print written.message, exit with its code
//
// The hive's root key is shown as HKEY_LOCAL_MACHINE\SYSTEM, whatever it is named in the file.
// An offline hive holds no CurrentControlSet: Windows makes it at boot as a link to the control
// set that SYSTEM\Select\Default names (Current is the set the last boot used, LastKnownGood
// the fallback). Here "SYSTEM\CurrentControlSet" is that link too: it is listed among SYSTEM's
// subkeys and opens reach ControlSet00N through it. Without a usable Default, a usable Current
// stands in (the note says so); with neither there is no such key (the note says why).
//
// Names. The hive keeps key and value names in UTF-16 (or in Latin-1, "compressed"), and
// string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) in UTF-16LE. The operations are the ANSI
// ones, so names and string data cross into the ANSI code page Windows-1252, as Windows'
// own A calls do it in that code page:
// - ANSI to UTF-16 maps every byte (the five bytes 1252 leaves unassigned become the control
//   characters of the same number, as Windows' table has them), so every path and text given
//   can be matched and written;
// - UTF-16 to ANSI gives '?' for each character outside 1252 (a surrogate pair is one
//   character), exactly what the dialog gets from the live registry; such a name enumerates
//   but does not open (unless a key really named that way exists, as on Windows).
// Names match without regard to case: ASCII and the letters of 1252 are folded to upper case.
// Sizes the key query reports are those the hive stores: name lengths in UTF-16 characters,
// data in stored bytes (string data in UTF-16: two bytes a character). Enumerated string data
// is the ANSI text with the stored terminator, if any; none is added to the data.
//
// Order: subkeys enumerate in the hive's own order (names compared in upper case, as Windows
// keeps them); values sorted by name with ASCII folded to lower case, as the in-memory
// registry and the registry of the test platform list them (Windows lists them in stored
// order; the scan's records do not depend on the order of values).
//
// Writes change the hive in memory only. Commit() has the file replaced whole (HiveFile): a new
// file, flushed, read back and compared with what was meant, keeping owner, mode and extended
// attributes, then renamed over the original, so a failure or a kill at any moment leaves
// either the old file or the new one. While a hive is open for writing it holds an advisory
// lock (flock) on the file: a second writer is refused.
//
// A key whose subkeys or values cannot be read (a damaged part of the hive) fails the calls
// on it with regstatus::kGenFailure and is listed by UnreadableKeys(). So does a key whose
// subkey list names a key that names another key as its parent, or a key with an empty name or
// a backslash in its name: a walk through such a list would come back to where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hive_file.h"
#include "platform/registry.h"

// Which control set "SYSTEM\CurrentControlSet" is, from SYSTEM\Select.
struct ControlSetMapping {
  std::optional<std::uint32_t> current;  // N of ControlSet00N; empty: no CurrentControlSet
  std::string note;                      // one line: the mapping, or why there is none
};

class HiveRegistry final : public RegistryOperations {
 public:
  // Opens the hive file at `path`. On failure returns null and fills *problem. Reading a hive
  // that was not cleanly saved succeeds with a warning (Warnings()); writing it is refused.
  static std::unique_ptr<HiveRegistry> Open(const std::string& path, HiveAccess access,
                                            HiveProblem* problem);
  ~HiveRegistry() override;
  HiveRegistry(const HiveRegistry&) = delete;
  HiveRegistry& operator=(const HiveRegistry&) = delete;

  // ---- The six operations (see platform/registry.h). None throws. A hive opened for reading
  // refuses writes with regstatus::kAccessDenied.
  RegStatus OpenKey(const char* path, RegKeyHandle* key) override;
  RegStatus QueryKey(RegKeyHandle key, RegKeyInfo* info) override;
  RegStatus EnumSubkey(RegKeyHandle key, std::uint32_t index, char* name,
                       std::uint32_t* nameSize) override;
  RegStatus EnumValue(RegKeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameSize,
                      std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize) override;
  RegStatus SetStringValue(RegKeyHandle key, const char* name, const char* text) override;
  RegStatus CloseKey(RegKeyHandle key) override;

  // ---- About the hive.
  [[nodiscard]] const std::string& Path() const;
  // The file: the link given as the path, its target.
  [[nodiscard]] const HiveFile& File() const;
  [[nodiscard]] const ControlSetMapping& Mapping() const;
  // False when the header's sequence numbers differ (Windows would replay the logs first).
  [[nodiscard]] bool CleanlySaved() const;
  // Lines to show before any result (for now: a hive that was not cleanly saved).
  [[nodiscard]] const std::vector<std::string>& Warnings() const;
  // True once the hive in memory differs from the file (a write or a building call).
  [[nodiscard]] bool Modified() const;
  // The keys met so far whose subkeys or values could not be read, as ANSI paths relative to
  // HKEY_LOCAL_MACHINE (stored names: ControlSet00N, never CurrentControlSet), in the order met.
  [[nodiscard]] const std::vector<std::string>& UnreadableKeys() const;
  // A key of the hive as read (walked whole, as its file holds it) whose values, their data or
  // subkeys cannot be read, named as UnreadableKeys() names keys; empty when there is none.
  // Commit() refuses (kDamaged) a hive that has one: the cells it writes would change what
  // the damaged key reads as.
  [[nodiscard]] const std::string& DamagedKey() const;
  [[nodiscard]] std::size_t OpenHandleCount() const;

  // Writes the hive in memory back to its file, atomically (see the top of this file). Only
  // for a hive opened for writing. On success the hive stays open and locked, on the new file.
  HiveProblem Commit(const CommitOptions& options = {});

  // ---- Building a tree (tests, benchmarks, seeds). Paths are ANSI, relative to
  // HKEY_LOCAL_MACHINE, below "SYSTEM", components joined by one backslash; they name keys as
  // stored, so "SYSTEM\CurrentControlSet" here is a stored key of that name, which the link
  // hides while Select\Current is usable. The mapping is worked out again after each call.
  // Throw std::invalid_argument for a malformed path and std::runtime_error when the hive
  // refuses (a hive opened for reading refuses all).
  void CreateKey(std::string_view path);
  // Stores a value: string types from ANSI bytes, kept in UTF-16 with exactly the bytes given
  // (no terminator added); other types as given. A name matching a stored one without regard
  // to case replaces its data and keeps the stored spelling.
  void SetValue(std::string_view path, std::string_view name, std::uint32_t type,
                const std::vector<std::uint8_t>& data);
  // Removes the key and its subtree; false if absent. Open handles to any key of it fail with
  // regstatus::kKeyDeleted until closed.
  bool DeleteKey(std::string_view path);

 private:
  HiveRegistry();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A name as the hive registry's calls give it (Windows-1252), in UTF-8 as hivex and the tools
// built on it (hivexregedit) name the stored key.
std::string HiveNameUtf8(std::string_view ansiName);
