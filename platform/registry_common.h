// What the registries that stand in for advapi32 (the in-memory one, the one over a hive file)
// share: how a key path splits into names, and how a stored subkey name or value reaches the
// caller's buffers, as the real registry's ANSI calls hand them over. Kept in one place so that
// the stand-ins cannot drift apart; the registry behaviour suite holds each to Wine's registry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/registry.h"

namespace registry_common {

// Calls `visit` with each non-empty component of the backslash-separated `path`, stopping early
// when it returns false; returns false when it stopped early.
template <typename Visit>
bool ForEachComponent(std::string_view path, Visit&& visit) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start && !visit(path.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

inline bool IsStringType(std::uint32_t type) {
  return type == regtype::kSz || type == regtype::kExpandSz || type == regtype::kMultiSz;
}

inline std::uint32_t ClampToU32(std::uint64_t n) {
  return n > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(n);
}

// EnumSubkey: the name and its terminator when both fit in *nameSize bytes, with the name's
// length in *nameSize; otherwise kMoreData, and the buffer and *nameSize stay as they were.
inline RegStatus CopySubkeyName(std::string_view found, char* name, std::uint32_t* nameSize) {
  if (found.size() >= *nameSize) return regstatus::kMoreData;
  std::memcpy(name, found.data(), found.size());
  name[found.size()] = '\0';
  *nameSize = static_cast<std::uint32_t>(found.size());
  return regstatus::kSuccess;
}

// EnumValue, for the value `valueName` of type `valueType` whose data the ANSI call returns as
// `bytes`. Outputs as Wine gives them:
// - data that does not fit (checked first): *type and *dataSize (the size needed) are written,
//   the name and data buffers and *nameSize are not;
// - data fits but the name does not: data, *type and *dataSize are written, and the name buffer
//   gets as much of the name as fits with a terminator; *nameSize is not changed.
// String data is returned as stored; when it lacks a terminator and the buffer has room for one
// more byte, a zero is written after it. String data of zero bytes fits any buffer.
// `data` may be null (then `dataSize` may be too); `name` and `nameSize` may not.
inline RegStatus CopyValue(std::string_view valueName, std::uint32_t valueType,
                           std::string_view bytes, char* name, std::uint32_t* nameSize,
                           std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize) {
  RegStatus status = regstatus::kSuccess;
  const bool isString = IsStringType(valueType);
  if (data != nullptr && !(isString && bytes.empty())) {
    if (bytes.size() > *dataSize) {
      status = regstatus::kMoreData;
    } else {
      std::memcpy(data, bytes.data(), bytes.size());
      if (isString && bytes.size() < *dataSize && bytes.back() != '\0') data[bytes.size()] = 0;
    }
  }
  if (status == regstatus::kSuccess) {
    if (valueName.size() >= *nameSize) {
      status = regstatus::kMoreData;
      if (*nameSize > 0) {
        std::memcpy(name, valueName.data(), *nameSize - 1);
        name[*nameSize - 1] = '\0';
      }
    } else {
      std::memcpy(name, valueName.data(), valueName.size());
      name[valueName.size()] = '\0';
      *nameSize = static_cast<std::uint32_t>(valueName.size());
    }
  }
  if (type != nullptr) *type = valueType;
  if (dataSize != nullptr) *dataSize = ClampToU32(bytes.size());
  return status;
}

}  // namespace registry_common
