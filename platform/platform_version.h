// The platform's version as a program sees it, and the question that asks for it. Portable: the
// switch decides a restart from it; platform/win32_version.* answers it on Windows.
#pragma once

#include <cstdint>
#include <optional>

// What the platform's version query reported.
struct PlatformVersion {
  std::uint32_t platformId = 0;
  std::uint32_t majorVersion = 0;
  std::uint32_t minorVersion = 0;
};
inline constexpr std::uint32_t kPlatformWin32Nt = 2;

// Asks the platform for its version; nullopt when the query fails.
using VersionQuery = std::optional<PlatformVersion> (*)();
