#include "platform/win32_registry.h"

#include <windows.h>

#include <cstring>

namespace {

HKEY AsHkey(RegKeyHandle key) { return static_cast<HKEY>(key); }

}  // namespace

RegStatus Win32Registry::OpenKey(const char* path, RegKeyHandle* key) {
  // advapi32 clears its output on failure; open into a local so the caller's stays as it was.
  HKEY opened = nullptr;
  const LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &opened);
  if (status == ERROR_SUCCESS) *key = opened;
  return static_cast<RegStatus>(status);
}

RegStatus Win32Registry::QueryKey(RegKeyHandle key, RegKeyInfo* info) {
  DWORD subKeys = 0, maxSubKeyLen = 0, values = 0, maxValueNameLen = 0, maxValueLen = 0;
  const LSTATUS status =
      RegQueryInfoKeyA(AsHkey(key), nullptr, nullptr, nullptr, &subKeys, &maxSubKeyLen, nullptr,
                       &values, &maxValueNameLen, &maxValueLen, nullptr, nullptr);
  if (status == ERROR_SUCCESS) {
    info->subKeyCount = subKeys;
    info->maxSubKeyNameLength = maxSubKeyLen;
    info->valueCount = values;
    info->maxValueNameLength = maxValueNameLen;
    info->maxValueDataLength = maxValueLen;
  }
  return static_cast<RegStatus>(status);
}

// DWORD is 32 bits wide on Windows but a distinct type from std::uint32_t (unsigned long against
// unsigned int), so the sizes travel through DWORD copies that start from the caller's values:
// whatever advapi32 leaves alone stays as the caller had it.
RegStatus Win32Registry::EnumSubkey(RegKeyHandle key, std::uint32_t index, char* name,
                                    std::uint32_t* nameSize) {
  DWORD size = *nameSize;
  const LSTATUS status =
      RegEnumKeyExA(AsHkey(key), index, name, &size, nullptr, nullptr, nullptr, nullptr);
  *nameSize = static_cast<std::uint32_t>(size);
  return static_cast<RegStatus>(status);
}

RegStatus Win32Registry::EnumValue(RegKeyHandle key, std::uint32_t index, char* name,
                                   std::uint32_t* nameSize, std::uint32_t* type, std::uint8_t* data,
                                   std::uint32_t* dataSize) {
  DWORD size = *nameSize, valueType = *type, bytes = *dataSize;
  const LSTATUS status =
      RegEnumValueA(AsHkey(key), index, name, &size, nullptr, &valueType, data, &bytes);
  *nameSize = static_cast<std::uint32_t>(size);
  *type = static_cast<std::uint32_t>(valueType);
  *dataSize = static_cast<std::uint32_t>(bytes);
  return static_cast<RegStatus>(status);
}

RegStatus Win32Registry::SetStringValue(RegKeyHandle key, const char* name, const char* text) {
  const std::size_t bytes = std::strlen(text) + 1;  // the terminating zero is stored too
  if (bytes > MAXDWORD) return regstatus::kInvalidParameter;
  return static_cast<RegStatus>(RegSetValueExA(AsHkey(key), name, 0, REG_SZ,
                                               reinterpret_cast<const BYTE*>(text),
                                               static_cast<DWORD>(bytes)));
}

RegStatus Win32Registry::CloseKey(RegKeyHandle key) {
  return static_cast<RegStatus>(RegCloseKey(AsHkey(key)));
}
