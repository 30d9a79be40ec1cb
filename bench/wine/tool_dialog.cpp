#include "bench/wine/tool_dialog.h"

#include <windows.h>
// After <windows.h>, whose types it uses.
#include <psapi.h>

#include <cstring>

namespace {

constexpr DWORD kPollMs = 5;

// Owns a process handle; kills the process if it still runs when the owner goes.
class ToolProcess {
 public:
  explicit ToolProcess(const PROCESS_INFORMATION& info)
      : m_process(info.hProcess), m_processId(info.dwProcessId) {
    ::CloseHandle(info.hThread);
  }
  ~ToolProcess() {
    if (::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(m_process, 1);
      ::WaitForSingleObject(m_process, 5000);
    }
    ::CloseHandle(m_process);
  }
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  [[nodiscard]] HANDLE Handle() const { return m_process; }
  [[nodiscard]] bool Ended() const { return ::WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0; }

  // The process's visible top-level window titled exactly kToolDialogTitle, or nullptr.
  [[nodiscard]] HWND VisibleDialog() const {
    struct Search {
      DWORD processId;
      HWND found;
    } search{m_processId, nullptr};
    ::EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
          auto* s = reinterpret_cast<Search*>(param);
          DWORD owner = 0;
          ::GetWindowThreadProcessId(window, &owner);
          if (owner != s->processId || !::IsWindowVisible(window)) return TRUE;
          char title[sizeof(kToolDialogTitle) + 1] = {};
          ::GetWindowTextA(window, title, sizeof(title));
          if (std::strcmp(title, kToolDialogTitle) != 0) return TRUE;
          s->found = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

 private:
  HANDLE m_process;
  DWORD m_processId;
};

double SecondsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

}  // namespace

DialogTiming TimeToolDialog(const std::string& executable, unsigned long timeoutMs) {
  DialogTiming timing;
  std::string commandLine = "\"" + executable + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  LARGE_INTEGER start;
  ::QueryPerformanceCounter(&start);
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    timing.error =
        "cannot start " + executable + " (error " + std::to_string(::GetLastError()) + ")";
    return timing;
  }
  ToolProcess tool(info);

  // Poll for the dialog: a few registry-free calls every few milliseconds, next to the
  // thousands of registry calls a second the scan makes.
  HWND dialog = nullptr;
  const double limit = timeoutMs / 1000.0;
  while ((dialog = tool.VisibleDialog()) == nullptr) {
    if (tool.Ended()) {
      timing.error = "the tool ended before its dialog was visible";
      return timing;
    }
    if (SecondsSince(start) > limit) {
      timing.error = "no visible window titled exactly \"" + std::string(kToolDialogTitle) +
                     "\" within " + std::to_string(timeoutMs / 1000) + " s";
      return timing;
    }
    ::Sleep(kPollMs);
  }
  timing.secondsToVisible = SecondsSince(start);

  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof(memory);
  if (::GetProcessMemoryInfo(tool.Handle(), &memory, sizeof(memory))) {
    timing.peakWorkingSetBytes = memory.PeakWorkingSetSize;
  }

  // Cancel, as a user would press it; posted, so nothing here waits on the tool's thread.
  LARGE_INTEGER cancelled;
  ::QueryPerformanceCounter(&cancelled);
  ::PostMessageA(::GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
  if (::WaitForSingleObject(tool.Handle(), timeoutMs) != WAIT_OBJECT_0) {
    timing.error =
        "the tool did not end within " + std::to_string(timeoutMs / 1000) + " s of Cancel";
    return timing;
  }
  timing.secondsCancelToExit = SecondsSince(cancelled);
  DWORD code = 0;
  ::GetExitCodeProcess(tool.Handle(), &code);
  timing.exitCode = code;
  return timing;
}
