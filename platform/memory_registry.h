// An in-memory registry that answers the six registry operations as Wine's real registry does,
// plus what tests need and the real registry cannot give: aliases and link cycles, names longer
// than the real registry allows, injected failures, and an account of every handle.
//
// Order: subkeys and values enumerate sorted by name, case-insensitively, with ASCII letters
// folded to lower case (Wine's order; Windows enumerates values in creation order and folds to
// upper case, so '_' sorts differently there). Names match without regard to ASCII case.
// String data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is kept as the ANSI bytes given, and sized
// for the key query as the real registry stores it, in UTF-16: two bytes a character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

// One stored value, as tests read it back.
struct StoredValue {
  std::string name;  // as stored: a replacing write keeps the first spelling
  std::uint32_t type = regtype::kNone;
  std::vector<std::uint8_t> data;  // string data in ANSI bytes, terminator included if stored
};

// A malformed line in a .reg file.
class RegFileError : public std::runtime_error {
 public:
  RegFileError(const std::string& file, int line, const std::string& message);
  const std::string& File() const { return file_; }
  int Line() const { return line_; }

 private:
  std::string file_;
  int line_;
};

// How often each operation was called, for benchmarks and for tests of the call sequence.
struct RegistryCallCounts {
  std::uint64_t open = 0, query = 0, enumSubkey = 0, enumValue = 0, setValue = 0, close = 0;
  [[nodiscard]] std::uint64_t Total() const {
    return open + query + enumSubkey + enumValue + setValue + close;
  }
};

class MemoryRegistry final : public RegistryOperations {
 public:
  MemoryRegistry();
  ~MemoryRegistry() override;
  MemoryRegistry(const MemoryRegistry&) = delete;
  MemoryRegistry& operator=(const MemoryRegistry&) = delete;

  // ---- The six operations (see platform/registry.h). None throws; an allocation that fails
  // inside one is reported as regstatus::kOutOfMemory.
  RegStatus OpenKey(const char* path, RegKeyHandle* key) override;
  RegStatus QueryKey(RegKeyHandle key, RegKeyInfo* info) override;
  RegStatus EnumSubkey(RegKeyHandle key, std::uint32_t index, char* name,
                       std::uint32_t* nameSize) override;
  RegStatus EnumValue(RegKeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameSize,
                      std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize) override;
  RegStatus SetStringValue(RegKeyHandle key, const char* name, const char* text) override;
  RegStatus CloseKey(RegKeyHandle key) override;

  // ---- Building a tree. Paths are relative to HKEY_LOCAL_MACHINE, components joined by one
  // backslash; missing keys on the way are created. Names of any length are accepted. A path
  // with an empty component (or a leading or trailing backslash) throws std::invalid_argument.
  void CreateKey(std::string_view path);
  // Stores a value with raw bytes, exactly as given (no terminator added).
  void SetValue(std::string_view path, std::string_view name, std::uint32_t type,
                std::vector<std::uint8_t> data);
  // Stores a REG_SZ with its terminating zero.
  void SetString(std::string_view path, std::string_view name, std::string_view text);
  void SetDword(std::string_view path, std::string_view name, std::uint32_t value);
  // Removes a key with its subtree (an alias is removed, never its target). False if absent.
  // Handles still open on a removed key fail with regstatus::kKeyDeleted until closed.
  bool DeleteKey(std::string_view path);
  bool DeleteValue(std::string_view path, std::string_view name);
  // Makes `aliasPath` a key whose subkeys and values are those of `targetPath`, as a registry
  // link shows another key: its parent enumerates it like any subkey, and opens through it
  // reach the target's keys. The target need not exist yet. An alias may point at one of its
  // own ancestors (a cycle). An open through aliases that only lead to one another fails with
  // kInvalidParameter, one through an alias whose target is missing with kFileNotFound.
  void AddAlias(std::string_view aliasPath, std::string_view targetPath);

  // Loads a REGEDIT4 / Windows Registry Editor 5.00 text file: [keys], [-deletions], "name"=
  // strings, dword:, hex:, hex(N): with continuation lines, "name"=- deletions and @ for the
  // default value. Keys must lie below HKEY_LOCAL_MACHINE. Throws RegFileError naming the file
  // and line of the first malformed line.
  void LoadRegFile(const std::string& file);
  void LoadRegText(std::string_view text, const std::string& sourceName = "<text>");

  // ---- Injected failures, by key path (matched without regard to case, through aliases as
  // the path is spelled, not as it resolves).
  void DenyAccess(std::string_view path);  // OpenKey fails with kAccessDenied
  void FailQuery(std::string_view path, RegStatus status = regstatus::kGenFailure);
  // Enumeration at `index` (and only there) fails with `status`.
  void FailSubkeyEnum(std::string_view path, std::uint32_t index,
                      RegStatus status = regstatus::kGenFailure);
  void FailValueEnum(std::string_view path, std::uint32_t index,
                     RegStatus status = regstatus::kGenFailure);
  void FailWrite(std::string_view path, RegStatus status = regstatus::kAccessDenied);

  // ---- Reading back.
  [[nodiscard]] bool KeyExists(std::string_view path) const;
  [[nodiscard]] std::optional<StoredValue> GetValue(std::string_view path,
                                                    std::string_view name) const;
  [[nodiscard]] std::vector<StoredValue> Values(std::string_view path) const;
  // Handles opened and not yet closed.
  [[nodiscard]] std::size_t OpenHandleCount() const;
  // Closes of a handle that was never issued or was already closed.
  [[nodiscard]] std::size_t BadCloseCount() const;
  [[nodiscard]] const RegistryCallCounts& CallCounts() const;
  // Every successful SetStringValue, in order: the key path as opened, name, text.
  struct Write {
    std::string path, name, text;
  };
  [[nodiscard]] const std::vector<Write>& Writes() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
