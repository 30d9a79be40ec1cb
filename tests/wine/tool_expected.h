// What the tool shows, as the user reads it, for the tests that drive the real executable.
// Spelled out here rather than taken from the tool's sources, so that a changed text fails.
#pragma once

#include <string>

#include "tool_driver.h"

// Controls of the main dialog.
inline constexpr int kRadioSecure = 1000;
inline constexpr int kRadioNormal = 1001;

inline constexpr char kStatusNormal[] = "Modem is currently configured for normal operation";
inline constexpr char kStatusSecure[] =
    "Modem is currently configured for secure access of Orvexa Lite, OX20 and OX35";
inline constexpr char kStatusNone[] = "Could not find a valid modem configuration in the Registry.";

inline const ShownMessage kRestartNotice{
    "Configuration Complete",
    "Changes will not take effect until after you have restarted your PC."};
inline const ShownMessage kNoModemError{
    "Error Detected",
    "A valid modem configuration was not found in the Registry.  Please verify that your modem "
    "is properly installed.\nNote: only modems that use the Hayes AT command set are supported."};

inline ShownMessage FailedWritesError(int failed, int found) {
  return {"Error Detected", "The dial prefix could not be changed for " + std::to_string(failed) +
                                " of the " + std::to_string(found) +
                                " modem settings keys found in the Registry.  Please verify that "
                                "you have administrator rights and that your modem is still "
                                "installed."};
}
