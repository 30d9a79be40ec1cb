#include "framework/win_app.h"

#include <commctrl.h>

#include <vector>

#include "framework/dialog.h"
#include "framework/module_path.h"

static_assert(ID_HELP == 57670, "the Help command's number is fixed");

namespace {

CWinApp* g_pApp = nullptr;

// The framework dialog of `hWnd`: the window's own, or its nearest parent's or owner's.
CDialog* DialogOf(HWND hWnd) noexcept {
  for (; hWnd != nullptr; hWnd = ::GetParent(hWnd)) {
    if (CDialog* pDlg = CDialog::FromHandle(hWnd)) return pDlg;
  }
  return nullptr;
}

// The dialog whose help the user asked for: for F1, the dialog the key was pressed in (the
// active window may have changed since, as when another program comes to the front); for the
// command from elsewhere, the active window's dialog; failing either, the main window.
CDialog* ActiveDialog(const CWinApp& app) noexcept {
  if (CDialog* pDlg = DialogOf(CDialog::HelpKeyWindow())) return pDlg;
  if (CDialog* pDlg = DialogOf(::GetActiveWindow())) return pDlg;
  if (app.m_pMainWnd != nullptr && app.m_pMainWnd->m_hWnd != nullptr) return app.m_pMainWnd;
  return nullptr;
}

}  // namespace

std::string AfxGetModuleFileName() {
  // Paths may be longer than MAX_PATH; the call truncates silently and reports a full buffer.
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), size);
    if (length == 0) return {};
    if (length < size) return std::string(buffer.data(), length);
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

HINSTANCE AfxGetInstanceHandle() noexcept { return ::GetModuleHandleA(nullptr); }

CWinApp* AfxGetApp() noexcept { return g_pApp; }

CWinApp::CWinApp() : m_hInstance(AfxGetInstanceHandle()) {
  const std::string modulePath = AfxGetModuleFileName();
  m_appName = fw::BaseNamePart(modulePath);
  m_helpFilePath = fw::WithExtension(modulePath, ".HLP");
  if (g_pApp == nullptr) g_pApp = this;
}

CWinApp::~CWinApp() {
  if (g_pApp == this) g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return m_nExitCode; }

int CWinApp::Run() {
  MSG msg{};
  for (;;) {
    const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      m_nExitCode = static_cast<int>(msg.wParam);
      break;
    }
    if (got == -1) {
      m_nExitCode = -1;
      break;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  return ExitInstance();
}

BOOL CWinApp::Enable3dControls() {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES};
  return ::InitCommonControlsEx(&controls);
}

HICON CWinApp::LoadIcon(UINT nIDResource) const {
  return ::LoadIconA(m_hInstance, MAKEINTRESOURCEA(nIDResource));
}

void CWinApp::OnHelp() {
  if (CDialog* pDlg = ActiveDialog(*this)) {
    WinHelp(pDlg->GetHelpContext(), HELP_CONTEXT);
  } else {
    WinHelp(0, HELP_FINDER);
  }
}

void CWinApp::WinHelp(ULONG_PTR data, UINT command) {
  HWND hOwner = m_pMainWnd != nullptr ? m_pMainWnd->m_hWnd : nullptr;
  ::WinHelpA(hOwner, m_helpFilePath.c_str(), command, data);
}

LRESULT CWinApp::ProcessWndProcException(std::exception_ptr /*error*/, const MSG& msg) noexcept {
  return DefaultExceptionResult(msg);
}

LRESULT CWinApp::DefaultExceptionResult(const MSG& msg) noexcept {
  switch (msg.message) {
    case WM_CREATE:
      return -1;
    case WM_NCCREATE:
      return FALSE;
    case WM_PAINT:
      ::ValidateRect(msg.hwnd, nullptr);
      return 0;
    default:
      return 0;
  }
}

bool CWinApp::OnCmdMsg(UINT id, UINT code) {
  const fw::Message msg{WM_COMMAND, MAKEWPARAM(id, code), 0};
  fw::Result result = 0;
  return RouteMessage(msg, result);
}

int AfxWinMain() noexcept {
  CWinApp* pApp = AfxGetApp();
  if (pApp == nullptr) return -1;
  try {
    if (!pApp->InitInstance()) return pApp->ExitInstance();
    return pApp->Run();
  } catch (...) {
    // Nothing above the entry could handle it; end the process with a failure code rather than
    // terminating it.
    return -1;
  }
}
