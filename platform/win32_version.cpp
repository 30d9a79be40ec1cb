#include "platform/win32_version.h"

#include <windows.h>

// Size of the version record handed to GetVersionExA: the classic OSVERSIONINFOA.
static_assert(sizeof(OSVERSIONINFOA) == 148);

std::optional<PlatformVersion> QueryPlatformVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)  // the version as the platform reports it to this program
#endif
  if (!::GetVersionExA(&info)) return std::nullopt;
  return PlatformVersion{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
}
