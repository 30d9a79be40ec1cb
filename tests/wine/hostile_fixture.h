// Builds keys, values and links in the real HKEY_LOCAL_MACHINE that a .reg file or a full-path
// call cannot: every key is created and removed relative to its parent (and opened one level at
// a time where its path is longer than the ANSI calls take whole), so keys of any depth can be
// built and taken down; values are stored with exactly the bytes given, no terminator added;
// links are made, and taken down as links, never through them.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tool_driver.h"

// The longest path below HKEY_LOCAL_MACHINE, in characters, that the ANSI calls open or create
// by full path under Wine (they fail with ERROR_MORE_DATA past it; the wide calls and Windows
// have no such limit).
inline constexpr std::size_t kAnsiPathLimit = 260;

// One value as a test plants it or reads it back.
struct NamedValue {
  std::string name;  // ANSI bytes, as the tool reads names
  RegistryValue value;
  bool operator==(const NamedValue&) const = default;
};
std::ostream& operator<<(std::ostream& out, const NamedValue& value);

class ScratchTree {
 public:
  ScratchTree() = default;
  ~ScratchTree();  // removes what is left, reporting a failure to GoogleTest
  ScratchTree(const ScratchTree&) = delete;
  ScratchTree& operator=(const ScratchTree&) = delete;

  // Each returns "" on success, or what went wrong. Paths are below HKEY_LOCAL_MACHINE, their
  // components joined by one backslash; missing keys on the way are created and remembered.

  std::string CreateKey(const std::string& path);
  // Stores exactly `data` with the ANSI call. The byte after the data handed over is never
  // zero, so advapi32 adds no terminator of its own to a string that lacks one.
  std::string SetValue(const std::string& path, const std::string& name, DWORD type,
                       const std::vector<BYTE>& data);
  // The same with the native call, which takes the name with its length: `asciiName` may hold
  // zero bytes, and `data` is stored as the UTF-16 or other bytes given, odd counts too.
  std::string SetValueNative(const std::string& path, const std::string& asciiName, DWORD type,
                             const std::vector<BYTE>& data);
  // Makes `path` a link to `targetPath` (below HKEY_LOCAL_MACHINE): opens through it reach the
  // target, and its parent enumerates it like any subkey. The target may be an ancestor.
  std::string CreateLink(const std::string& path, const std::string& targetPath);

  // Every value of the key as the ANSI enumeration gives it, in enumeration order; nullopt
  // when the key cannot be opened.
  [[nodiscard]] std::optional<std::vector<NamedValue>> Values(const std::string& path) const;
  // One value, looked up by name without regard to case; nullopt when key or value is missing.
  [[nodiscard]] std::optional<RegistryValue> Value(const std::string& path,
                                                   const std::string& name) const;
  [[nodiscard]] bool Exists(const std::string& path) const;

  // Removes the keys this tree created, deepest first: a link with the link-only open and
  // NtDeleteKey, every other key with RegDeleteKeyA on its parent, so no link is followed and
  // no key that was there before is touched. A key already gone is fine. Returns what could
  // not be removed, or "".
  std::string Remove();

 private:
  // Opens `path` with full access into *opened, creating it and its missing ancestors.
  std::string CreateAndOpen(const std::string& path, HKEY* opened);

  struct Created {
    std::string path;
    bool link;
  };
  std::vector<Created> m_created;  // parents before their children
};

// The bytes of `text` followed by its terminating zero, as a REG_SZ written by a program.
std::vector<BYTE> TextBytes(std::string_view text);
// The four bytes of a REG_DWORD, least significant first.
std::vector<BYTE> DwordBytes(DWORD value);
