// The registry operations over advapi32: HKEY_LOCAL_MACHINE of the machine the tool runs on.
//
// A thin pass-through. Each operation makes exactly one advapi32 call with the ANSI entry
// point and returns its status unchanged; results reach the caller's outputs exactly as
// advapi32 leaves them, except that a failed open leaves the caller's handle untouched.
// Windows only; the header itself needs no Windows header.
#pragma once

#include <cstdint>

#include "platform/registry.h"

class Win32Registry final : public RegistryOperations {
 public:
  RegStatus OpenKey(const char* path, RegKeyHandle* key) override;
  RegStatus QueryKey(RegKeyHandle key, RegKeyInfo* info) override;
  RegStatus EnumSubkey(RegKeyHandle key, std::uint32_t index, char* name,
                       std::uint32_t* nameSize) override;
  RegStatus EnumValue(RegKeyHandle key, std::uint32_t index, char* name, std::uint32_t* nameSize,
                      std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize) override;
  RegStatus SetStringValue(RegKeyHandle key, const char* name, const char* text) override;
  RegStatus CloseKey(RegKeyHandle key) override;
};
