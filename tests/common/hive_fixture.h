// Hive files for tests, made at test time: a minimal empty hive written byte by byte (hivex
// cannot make one from nothing), filled from .reg fixtures through the in-memory registry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/hive_registry.h"
#include "platform/memory_registry.h"

// The bytes of a valid hive holding only its root key: a 4096-byte base block and one
// 4096-byte bin with the root key and its security cell.
std::vector<std::uint8_t> MinimalEmptyHive();

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::string& path);

// Copies every key and value below SYSTEM of `from` into the hive, as stored (a key named
// CurrentControlSet is copied as a key like any other).
void CopyTree(MemoryRegistry& from, HiveRegistry& to);

// A folder of its own below the test temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  [[nodiscard]] const std::string& Path() const { return path_; }
  [[nodiscard]] std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Names of the entries in the folder, sorted.
  [[nodiscard]] std::vector<std::string> Entries() const;

 private:
  std::string path_;
};

// Writes a hive at `path` holding the tree of `source` and, when `current` is given,
// SYSTEM\Select\Default and SYSTEM\Select\Current as that REG_DWORD (a PC whose last boot used
// the set it starts from).
void BuildHive(const std::string& path, MemoryRegistry& source,
               std::optional<std::uint32_t> current);

// The nodes (file offsets of the key cells) of `keys`, paths below the hive's root (SYSTEM), read
// from the file at `path`; 0 for a key it does not hold.
std::vector<std::size_t> NodesAt(const std::string& path, const std::vector<std::string>& keys);

// Damages the file at `path`: the first entry of the value list of the key at `key` (below
// SYSTEM) then leads past the end of the file.
void ListAValuePastTheEnd(const std::string& path, const std::string& key);

// `bytes` with the little-endian 32-bit `v` at offset `at`.
std::vector<std::uint8_t> WithU32(std::vector<std::uint8_t> bytes, std::size_t at, std::uint32_t v);
// `bytes` with the hive header's checksum worked out again after a change to the header.
std::vector<std::uint8_t> Resummed(std::vector<std::uint8_t> bytes);

// Stores a REG_DWORD value (as in SYSTEM\Select).
void SetDword(HiveRegistry& hive, std::string_view key, std::string_view name, std::uint32_t value);

// Opens a hive, failing the test (by throwing) when it cannot be opened.
std::unique_ptr<HiveRegistry> OpenHive(const std::string& path, HiveAccess access);

// The names EnumSubkey gives for the key behind `key`, in order, each whole (a name may hold a
// zero character).
std::vector<std::string> SubkeyNames(RegistryOperations& registry, RegKeyHandle key);
