#include "framework/dialog.h"

#include <cctype>
#include <cstring>
#include <exception>
#include <utility>

namespace {

// The window property that holds the CDialog attached to a dialog window.
constexpr char kDialogProperty[] = "fw.CDialog";

// The dialog being created on this thread, and the CBT hook that will attach it to its window.
struct CreationState {
  HHOOK hook = nullptr;
  CDialog* pending = nullptr;
};
thread_local CreationState t_creation;

// The F1 hook of this thread's modal runs, shared by nested runs.
struct HelpKeyState {
  HHOOK hook = nullptr;
  int users = 0;
  HWND pressedIn = nullptr;  // while the Help command of a key is handled
};
thread_local HelpKeyState t_helpKey;

// Windows may create an input-method window on the thread before the dialog's own window;
// that one is not ours to subclass.
bool IsInputMethodWindow(HWND hWnd) noexcept {
  if ((::GetClassLongPtrA(hWnd, GCL_STYLE) & CS_IME) != 0) return true;
  char className[16] = {};
  if (::GetClassNameA(hWnd, className, sizeof(className)) == 0) return false;
  return ::lstrcmpiA(className, "IME") == 0;
}

bool IsKeyDown(int virtualKey) noexcept { return (::GetKeyState(virtualKey) & 0x8000) != 0; }

// F1 pressed with none of Shift, Ctrl and Alt held.
bool IsPlainHelpKey(const MSG& msg) noexcept {
  return msg.message == WM_KEYDOWN && msg.wParam == VK_F1 && !IsKeyDown(VK_SHIFT) &&
         !IsKeyDown(VK_CONTROL) && !IsKeyDown(VK_MENU);
}

// Turns F1 in a dialog's modal loop into the Help command, sent to the main window (or, with
// none, to the dialog the key was meant for). Runs inside the dialog manager: catches all.
LRESULT CALLBACK HelpKeyHookProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == MSGF_DIALOGBOX && lParam != 0) {
    const MSG& msg = *reinterpret_cast<const MSG*>(lParam);
    if (IsPlainHelpKey(msg)) {
      HWND hTarget = nullptr;
      if (CWinApp* pApp = AfxGetApp(); pApp != nullptr && pApp->m_pMainWnd != nullptr) {
        hTarget = pApp->m_pMainWnd->m_hWnd;
      }
      if (hTarget == nullptr) hTarget = ::GetAncestor(msg.hwnd, GA_ROOT);
      if (hTarget != nullptr) {
        const HWND outer = std::exchange(t_helpKey.pressedIn, msg.hwnd);
        ::SendMessageA(hTarget, WM_COMMAND, ID_HELP, 0);
        t_helpKey.pressedIn = outer;
      }
      return TRUE;  // the key is consumed
    }
  }
  return ::CallNextHookEx(t_helpKey.hook, code, wParam, lParam);
}

// Holds the F1 hook for the length of one modal run.
class HelpKeyHookScope {
 public:
  HelpKeyHookScope() noexcept {
    if (t_helpKey.users++ == 0) {
      t_helpKey.hook =
          ::SetWindowsHookExA(WH_MSGFILTER, &HelpKeyHookProc, nullptr, ::GetCurrentThreadId());
    }
  }
  ~HelpKeyHookScope() {
    if (--t_helpKey.users == 0 && t_helpKey.hook != nullptr) {
      ::UnhookWindowsHookEx(t_helpKey.hook);
      t_helpKey.hook = nullptr;
    }
  }
  HelpKeyHookScope(const HelpKeyHookScope&) = delete;
  HelpKeyHookScope& operator=(const HelpKeyHookScope&) = delete;
};

// Removes this thread's creation hook, if one is installed.
void EndCreationHook() noexcept {
  if (t_creation.hook != nullptr) {
    ::UnhookWindowsHookEx(t_creation.hook);
    t_creation.hook = nullptr;
  }
  t_creation.pending = nullptr;
}

// Reports an exception caught in a window or dialog procedure and returns the result for the
// message. Never throws.
LRESULT ReportException(const MSG& msg) noexcept {
  std::exception_ptr error = std::current_exception();
  if (CWinApp* pApp = AfxGetApp()) return pApp->ProcessWndProcException(error, msg);
  return CWinApp::DefaultExceptionResult(msg);
}

// Installs the creation hook for one DoModal and restores the thread's previous creation state
// (a dialog opened from inside another's creation) afterwards.
class CreationHookScope {
 public:
  CreationHookScope(CDialog* pDlg, HOOKPROC proc) noexcept : m_saved(t_creation) {
    t_creation.pending = pDlg;
    t_creation.hook = ::SetWindowsHookExA(WH_CBT, proc, nullptr, ::GetCurrentThreadId());
  }
  ~CreationHookScope() {
    EndCreationHook();
    t_creation = m_saved;
  }
  CreationHookScope(const CreationHookScope&) = delete;
  CreationHookScope& operator=(const CreationHookScope&) = delete;

  [[nodiscard]] bool Installed() const noexcept { return t_creation.hook != nullptr; }

 private:
  CreationState m_saved;
};

}  // namespace

BEGIN_MESSAGE_MAP(CDialog, CCmdTarget)
  ON_COMMAND(IDOK, OnOK)
  ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CDialog* pParentWnd) noexcept
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
  if (m_hWnd != nullptr) {
    // Put the original procedure back so no message reaches a destroyed object.
    ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    Detach();
  }
}

CDialog* CDialog::FromHandle(HWND hWnd) noexcept {
  // Only windows of this thread: a property of another process's window means nothing here.
  if (hWnd == nullptr || ::GetWindowThreadProcessId(hWnd, nullptr) != ::GetCurrentThreadId()) {
    return nullptr;
  }
  return static_cast<CDialog*>(::GetPropA(hWnd, kDialogProperty));
}

HWND CDialog::HelpKeyWindow() noexcept { return t_helpKey.pressedIn; }

DWORD CDialog::GetHelpContext() const noexcept { return kDialogHelpContextBase + m_nIDTemplate; }

HWND CDialog::OwnerWindow() const noexcept {
  HWND hOwner = nullptr;
  if (m_pParentWnd != nullptr) {
    hOwner = m_pParentWnd->m_hWnd;
  } else if (CWinApp* pApp = AfxGetApp();
             pApp != nullptr && pApp->m_pMainWnd != this && pApp->m_pMainWnd != nullptr) {
    hOwner = pApp->m_pMainWnd->m_hWnd;
  }
  return hOwner != nullptr ? ::GetAncestor(hOwner, GA_ROOT) : nullptr;
}

INT_PTR CDialog::DoModal() {
  if (m_hWnd != nullptr) return -1;  // already running

  const HINSTANCE hInstance = AfxGetInstanceHandle();
  const DLGTEMPLATE* pTemplate = m_pTemplate;
  if (pTemplate == nullptr) {
    HRSRC hResource = ::FindResourceA(hInstance, MAKEINTRESOURCEA(m_nIDTemplate), RT_DIALOG);
    HGLOBAL hLoaded = hResource != nullptr ? ::LoadResource(hInstance, hResource) : nullptr;
    pTemplate =
        hLoaded != nullptr ? static_cast<const DLGTEMPLATE*>(::LockResource(hLoaded)) : nullptr;
    if (pTemplate == nullptr) return -1;
  }

  HelpKeyHookScope helpKey;
  CreationHookScope creation(this, &CDialog::CreationHookProc);
  // Without the hook the object would miss the window's creation; refuse to run half-attached.
  if (!creation.Installed()) return -1;
  return ::DialogBoxIndirectParamA(hInstance, pTemplate, OwnerWindow(), &CDialog::DialogProc,
                                   reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(int nResult) { ::EndDialog(m_hWnd, nResult); }

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
  CDataExchange dx(this, bSaveAndValidate);
  try {
    DoDataExchange(&dx);
  } catch (const CDataExchange::Failure&) {
    return FALSE;
  }
  return TRUE;
}

void CDialog::DoDataExchange(CDataExchange* /*pDX*/) {}

int CDialog::MessageBox(LPCSTR lpszText, LPCSTR lpszCaption, UINT nType) {
  if (lpszCaption == nullptr) {
    CWinApp* pApp = AfxGetApp();
    lpszCaption = pApp != nullptr ? pApp->GetAppName().c_str() : "";
  }
  return ::MessageBoxA(m_hWnd, lpszText, lpszCaption, nType);
}

HICON CDialog::SetIcon(HICON hIcon, BOOL bBigIcon) {
  return reinterpret_cast<HICON>(
      SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

void CDialog::WinHelp(ULONG_PTR dwData, UINT nCmd) {
  if (CWinApp* pApp = AfxGetApp()) {
    pApp->WinHelp(dwData, nCmd);
  }
}

LRESULT CDialog::Default() {
  if (m_pCurrentMsg == nullptr || m_pfnSuper == nullptr) return 0;
  const MSG& msg = *m_pCurrentMsg;
  return ::CallWindowProcA(m_pfnSuper, msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

int CDialog::OnCreate(LPCREATESTRUCTA /*lpCreateStruct*/) { return static_cast<int>(Default()); }
void CDialog::OnShowWindow(BOOL /*bShow*/, UINT /*nStatus*/) { Default(); }
void CDialog::OnPaint() { Default(); }
void CDialog::OnSysCommand(UINT /*nID*/, LPARAM /*lParam*/) { Default(); }
void CDialog::OnDestroy() { Default(); }
HCURSOR CDialog::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }

void CDialog::Attach(HWND hWnd) noexcept {
  m_hWnd = hWnd;
  ::SetPropA(hWnd, kDialogProperty, this);
  m_pfnSuper = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CDialog::WindowProc)));
}

void CDialog::Detach() noexcept {
  if (m_hWnd != nullptr) ::RemovePropA(m_hWnd, kDialogProperty);
  m_hWnd = nullptr;
  m_pfnSuper = nullptr;
}

LRESULT CDialog::Dispatch(const MSG& msg) noexcept {
  const MSG* pSaved = m_pCurrentMsg;
  m_pCurrentMsg = &msg;
  LRESULT result = 0;
  try {
    fw::Message mapped{msg.message, msg.wParam, msg.lParam};
    // An accelerator's command (code 1, no control) is the same command as the menu's.
    if (msg.message == WM_COMMAND && msg.lParam == 0 && HIWORD(msg.wParam) == 1) {
      mapped.wParam = LOWORD(msg.wParam);
    }
    fw::Result mappedResult = 0;
    if (RouteMessage(mapped, mappedResult)) {
      result = mappedResult;
    } else if (CWinApp* pApp = AfxGetApp();
               msg.message == WM_COMMAND && pApp != nullptr &&
               pApp->OnCmdMsg(fw::CommandId(mapped), fw::NotifyCode(mapped))) {
      result = 0;
    } else {
      result = Default();
    }
  } catch (...) {
    result = ReportException(msg);
  }
  m_pCurrentMsg = pSaved;
  return result;
}

LRESULT CALLBACK CDialog::CreationHookProc(int code, WPARAM wParam, LPARAM lParam) {
  HHOOK hHook = t_creation.hook;
  if (code == HCBT_CREATEWND && t_creation.pending != nullptr) {
    HWND hWnd = reinterpret_cast<HWND>(wParam);
    if (!IsInputMethodWindow(hWnd)) {
      // The first window created is the dialog itself; its controls come later and are left
      // alone.
      CDialog* pDlg = t_creation.pending;
      t_creation.pending = nullptr;
      pDlg->Attach(hWnd);
    }
  }
  return ::CallNextHookEx(hHook, code, wParam, lParam);
}

LRESULT CALLBACK CDialog::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog* pDlg = FromHandle(hWnd);
  if (pDlg == nullptr || pDlg->m_pfnSuper == nullptr) {
    return ::DefDlgProcA(hWnd, message, wParam, lParam);
  }
  const MSG msg{hWnd, message, wParam, lParam, 0, {}};
  const LRESULT result = pDlg->Dispatch(msg);
  if (message == WM_NCDESTROY) pDlg->Detach();
  return result;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_INITDIALOG) return FALSE;  // the dialog manager's default
  // The window exists with its controls: no later window of this thread is the dialog.
  EndCreationHook();
  CDialog* pDlg = FromHandle(hWnd);
  if (pDlg == nullptr) {
    // Created without being attached: it cannot be run through its object.
    ::EndDialog(hWnd, -1);
    return FALSE;
  }
  const MSG msg{hWnd, message, wParam, lParam, 0, {}};
  try {
    return pDlg->OnInitDialog();
  } catch (...) {
    ReportException(msg);
    return TRUE;
  }
}
