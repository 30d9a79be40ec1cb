// The platform version question that decides a restart after a switch, answered by Windows.
#pragma once

#include <optional>

#include "platform/platform_version.h"

// What GetVersionExA reports to this program; nullopt when it fails. A VersionQuery.
std::optional<PlatformVersion> QueryPlatformVersion();
