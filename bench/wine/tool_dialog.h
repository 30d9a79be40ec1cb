// Times the real tool from outside: the time from starting ModemConfig.exe until its dialog is
// visible (the scan runs before the dialog shows), its peak working set while the dialog is up,
// and the time from pressing Cancel until the process has ended. Windows only.
#pragma once

#include <cstdint>
#include <string>

struct DialogTiming {
  std::string error;  // "" when the dialog came up and the tool ended after Cancel
  double secondsToVisible = 0;
  double secondsCancelToExit = 0;
  std::uint64_t peakWorkingSetBytes = 0;  // 0 when it could not be read
  unsigned long exitCode = 0;
};

// The dialog's title, compared exactly (FindWindowA would ignore case).
inline constexpr char kToolDialogTitle[] = "Brackwell Modem Configuration Tool";

// Starts `executable` (a Windows path), waits up to `timeoutMs` for its dialog and up to
// `timeoutMs` again for it to end after Cancel; a tool still running then is killed.
DialogTiming TimeToolDialog(const std::string& executable, unsigned long timeoutMs);
