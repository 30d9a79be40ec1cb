// CWinApp: the application object. One global instance of a class derived from it; the process
// entry (framework/app_main.cpp) finds it, calls InitInstance, and either ends the process or
// runs the message loop.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

#include "framework/message_map.h"

class CDialog;

// The framework's Help command: F1 in a dialog becomes this command, sent to the main window,
// which passes it on to the application's message map.
#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

// Help contexts of dialogs: this base plus the dialog's template id.
inline constexpr DWORD kDialogHelpContextBase = 0x20000;

class CWinApp : public CCmdTarget {
 public:
  // Registers this object as the application (the first one constructed stays registered) and
  // takes the application name and the help file's path from the executable's path.
  CWinApp();
  ~CWinApp() override;

  // Called once by the process entry. FALSE ends the process with ExitInstance's code instead
  // of running the message loop. The default returns TRUE.
  virtual BOOL InitInstance();

  // Called as the application ends; returns the process exit code: 0, or the code the message
  // loop ended with.
  virtual int ExitInstance();

  // Runs the message loop until the quit message, then returns ExitInstance().
  virtual int Run();

  // Switches on three-dimensional drawing of dialog controls. Every Win32 platform draws them
  // natively, so this only initialises the common controls the framework's status bar needs.
  BOOL Enable3dControls();

  // An icon resource of the executable, at the system's icon size. The icon is shared: the
  // system frees it, the caller never does. NULL when there is no such resource.
  [[nodiscard]] HICON LoadIcon(UINT nIDResource) const;

  // The help handler for the Help command: asks the dialog F1 was pressed in (for the command
  // from elsewhere, the active dialog) for its help context and opens that topic of the
  // application's help file.
  void OnHelp();

  // Asks the help engine to carry out `command` with `data` on the application's help file.
  // Every help request of the framework goes through here.
  virtual void WinHelp(ULONG_PTR data, UINT command = HELP_CONTEXT);

  // Called by the window procedures when a handler throws; `error` is the exception and `msg`
  // the message being handled. Returns what the window procedure returns for the message (see
  // DefaultExceptionResult). Must not throw.
  virtual LRESULT ProcessWndProcException(std::exception_ptr error, const MSG& msg) noexcept;

  // The result for a message whose handler threw: -1 for WM_CREATE (the window is not created),
  // FALSE for WM_NCCREATE, and 0 otherwise; for WM_PAINT the window is validated first, so a
  // failing paint handler is not called again and again.
  static LRESULT DefaultExceptionResult(const MSG& msg) noexcept;

  // Offers a command to the application's message map; true when an entry took it.
  bool OnCmdMsg(UINT id, UINT code);

  // The executable's base name, e.g. "Tool" for "C:\Programs\Tool.exe".
  [[nodiscard]] const std::string& GetAppName() const noexcept { return m_appName; }
  // The executable's path with the extension ".HLP".
  [[nodiscard]] const std::string& GetHelpFilePath() const noexcept { return m_helpFilePath; }

  HINSTANCE m_hInstance = nullptr;
  // The application's main window; help commands go to it. Not owned.
  CDialog* m_pMainWnd = nullptr;

 protected:
  // The exit code ExitInstance returns.
  int m_nExitCode = 0;

 private:
  std::string m_appName;
  std::string m_helpFilePath;
};

// The registered application object; nullptr when none exists.
[[nodiscard]] CWinApp* AfxGetApp() noexcept;

// The module whose resources the framework loads (the executable).
[[nodiscard]] HINSTANCE AfxGetInstanceHandle() noexcept;

// The full path of the executable; empty when it cannot be read.
[[nodiscard]] std::string AfxGetModuleFileName();

// The body of the process entry: runs the registered application and returns the process exit
// code. -1 when there is no application or an exception escapes it.
int AfxWinMain() noexcept;
