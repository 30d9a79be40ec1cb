// CDialog: a modal dialog from a dialog template, with a message map, data exchange and the
// OK/Cancel operations. Also the small helpers its handlers use: CDataExchange, CPaintDC and the
// borrowed menu handle CMenuHandle.
//
// Message flow. DoModal subclasses the dialog window while it is created (a thread-local CBT
// hook), so the object sees WM_NCCREATE and WM_CREATE before any control of the template
// exists. From then on every message to the dialog passes once through the object's window
// procedure: the message map first, then (for commands no map took) the application's message
// map, then the original window procedure (Default()). The dialog procedure handles only
// WM_INITDIALOG, by calling OnInitDialog; for everything else it leaves the dialog manager's
// default in place. No exception leaves either procedure: the application's
// ProcessWndProcException decides the result.
#pragma once

#include <windows.h>

#include "framework/message_map.h"
#include "framework/win_app.h"

class CDialog;

// Passed to DoDataExchange: the direction of the exchange, and Fail() for a value that does not
// validate.
class CDataExchange {
 public:
  // Thrown by Fail and caught by UpdateData; never leaves the framework.
  struct Failure {};

  CDataExchange(CDialog* pDlgWnd, BOOL bSaveAndValidate) noexcept
      : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

  // Abandons the exchange: UpdateData returns FALSE and OnOK does not end the dialog.
  [[noreturn]] void Fail() { throw Failure{}; }

  BOOL m_bSaveAndValidate;  // TRUE: controls to members; FALSE: members to controls
  CDialog* m_pDlgWnd;
};

// A menu the caller does not own (the system menu, for one). Copying it copies the handle only;
// nothing is ever destroyed through it.
class CMenuHandle {
 public:
  explicit CMenuHandle(HMENU hMenu = nullptr) noexcept : m_hMenu(hMenu) {}

  explicit operator bool() const noexcept { return m_hMenu != nullptr; }

  BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCSTR lpszNewItem = nullptr) {
    return ::AppendMenuA(m_hMenu, nFlags, nIDNewItem, lpszNewItem);
  }

  HMENU m_hMenu;
};

class CDialog : public CCmdTarget {
 public:
  // `nIDTemplate` names the dialog template resource and gives the dialog's help context. With
  // no parent, the dialog is owned by the application's main window (unless it is that window).
  explicit CDialog(UINT nIDTemplate, CDialog* pParentWnd = nullptr) noexcept;
  // A dialog whose window still exists (only if it is destroyed from within its own modal run)
  // is unhooked from the window first.
  ~CDialog() override;

  // Runs the dialog modally. Returns the value given to EndDialog, or -1 when the dialog could
  // not be created (template missing, WM_CREATE returning -1, or already running).
  virtual INT_PTR DoModal();

  // Makes DoModal use the template at `pTemplate` instead of the resource; the template must stay
  // valid until DoModal returns. The help context still comes from the template id.
  void InitModalIndirect(const DLGTEMPLATE* pTemplate) noexcept { m_pTemplate = pTemplate; }

  // Ends the modal run; DoModal returns `nResult` once the current message is handled.
  void EndDialog(int nResult);

  // Called once, when the dialog and its controls exist and before it is shown. Returns TRUE
  // to let the system put the focus on the first tab-stop control. The default runs the data
  // exchange into the controls.
  virtual BOOL OnInitDialog();

  // Called for IDOK: runs the data exchange out of the controls and, when it succeeds, ends
  // the dialog with IDOK.
  virtual void OnOK();

  // Called for IDCANCEL (also Escape and the Close command): ends the dialog with IDCANCEL.
  virtual void OnCancel();

  // Runs DoDataExchange in the given direction; FALSE when it failed (CDataExchange::Fail).
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

  // The help context of this dialog: 0x20000 plus its template id.
  [[nodiscard]] virtual DWORD GetHelpContext() const noexcept;

  [[nodiscard]] UINT GetTemplateId() const noexcept { return m_nIDTemplate; }

  // The dialog object attached to `hWnd`, or nullptr when the window is not one of this
  // thread's framework dialogs.
  [[nodiscard]] static CDialog* FromHandle(HWND hWnd) noexcept;
  // While the Help command that F1 raised in a modal loop is handled: the window the key was
  // delivered to; NULL at any other time. The help asked for is that window's dialog's, even
  // when another window has become the active one before the key was taken from the queue.
  [[nodiscard]] static HWND HelpKeyWindow() noexcept;

  // -- Window helpers for handlers ---------------------------------------------------------

  [[nodiscard]] HWND GetSafeHwnd() const noexcept { return m_hWnd; }
  // A control of the dialog (borrowed); NULL when there is none with that id.
  [[nodiscard]] HWND GetDlgItem(int nID) const noexcept { return ::GetDlgItem(m_hWnd, nID); }
  void CheckDlgButton(int nIDButton, UINT nCheck) { ::CheckDlgButton(m_hWnd, nIDButton, nCheck); }
  [[nodiscard]] UINT IsDlgButtonChecked(int nIDButton) const {
    return ::IsDlgButtonChecked(m_hWnd, nIDButton);
  }
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
  }
  // The window menu, borrowed; with `bRevert` FALSE it is the current menu, not a fresh copy.
  [[nodiscard]] CMenuHandle GetSystemMenu(BOOL bRevert) const {
    return CMenuHandle(::GetSystemMenu(m_hWnd, bRevert));
  }
  // A message box owned by the dialog; with no caption, the application's name is the caption.
  int MessageBox(LPCSTR lpszText, LPCSTR lpszCaption = nullptr, UINT nType = MB_OK);
  [[nodiscard]] BOOL IsIconic() const noexcept { return ::IsIconic(m_hWnd); }
  void GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
  // Sets the big (bBigIcon TRUE) or small icon; returns the previous one.
  HICON SetIcon(HICON hIcon, BOOL bBigIcon);
  // Asks the help engine to carry out `nCmd` on the application's help file.
  void WinHelp(ULONG_PTR dwData, UINT nCmd = HELP_CONTEXT);

  HWND m_hWnd = nullptr;

 protected:
  // Called by UpdateData. The default exchanges nothing.
  virtual void DoDataExchange(CDataExchange* pDX);

  // Runs the original window procedure on the message being handled and returns its result.
  // Returns 0 when called outside a handler.
  LRESULT Default();

  // -- Default processing of the messages a derived map may take -------------------------
  // A derived handler calls these (CDialog::OnCreate(lpcs) and so on) for the window's own
  // handling of the message.

  // 0 to go on creating the window, -1 to fail its creation.
  int OnCreate(LPCREATESTRUCTA lpCreateStruct);
  void OnShowWindow(BOOL bShow, UINT nStatus);
  void OnPaint();
  void OnSysCommand(UINT nID, LPARAM lParam);
  void OnDestroy();
  HCURSOR OnQueryDragIcon();

  DECLARE_MESSAGE_MAP()

 private:
  // Thread-local CBT hook that subclasses the dialog window as it is created.
  static LRESULT CALLBACK CreationHookProc(int code, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

  // Subclasses `hWnd` and attaches this object to it.
  void Attach(HWND hWnd) noexcept;
  // Forgets the window (after WM_NCDESTROY, or when the object goes first).
  void Detach() noexcept;
  // Handles one message through the maps, the application and Default(); never throws.
  LRESULT Dispatch(const MSG& msg) noexcept;
  [[nodiscard]] HWND OwnerWindow() const noexcept;

  UINT m_nIDTemplate;
  CDialog* m_pParentWnd;
  const DLGTEMPLATE* m_pTemplate = nullptr;
  WNDPROC m_pfnSuper = nullptr;
  const MSG* m_pCurrentMsg = nullptr;
};

// BeginPaint for the constructor, EndPaint for the destructor.
class CPaintDC {
 public:
  explicit CPaintDC(CDialog* pWnd) noexcept : m_hWnd(pWnd->m_hWnd) {
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
  }
  ~CPaintDC() {
    if (m_hDC != nullptr) ::EndPaint(m_hWnd, &m_ps);
  }
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;

  operator HDC() const noexcept { return m_hDC; }
  BOOL DrawIcon(int x, int y, HICON hIcon) { return ::DrawIcon(m_hDC, x, y, hIcon); }

  HDC m_hDC = nullptr;
  PAINTSTRUCT m_ps{};

 private:
  HWND m_hWnd;
};

// -- Message-map entries that crack Windows message parameters -----------------------------
// The handler each one calls is written above it.

// clang-format off

// void OnClicked()
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)

// int OnCreate(LPCREATESTRUCTA lpCreateStruct)
#define ON_WM_CREATE()                                                                      \
  ::fw::MessageEntry<ThisClass>(WM_CREATE, FW_MAP_HANDLER(                                  \
      return self.OnCreate(reinterpret_cast<LPCREATESTRUCTA>(m.lParam));)),

// void OnShowWindow(BOOL bShow, UINT nStatus)
#define ON_WM_SHOWWINDOW()                                                                  \
  ::fw::MessageEntry<ThisClass>(WM_SHOWWINDOW, FW_MAP_HANDLER(                              \
      self.OnShowWindow(static_cast<BOOL>(m.wParam), static_cast<UINT>(m.lParam));          \
      return 0;)),

// void OnPaint()
#define ON_WM_PAINT()                                                                       \
  ::fw::MessageEntry<ThisClass>(WM_PAINT, FW_MAP_HANDLER(self.OnPaint(); return 0;)),

// void OnSysCommand(UINT nID, LPARAM lParam)
#define ON_WM_SYSCOMMAND()                                                                  \
  ::fw::MessageEntry<ThisClass>(WM_SYSCOMMAND, FW_MAP_HANDLER(                              \
      self.OnSysCommand(static_cast<UINT>(m.wParam), static_cast<LPARAM>(m.lParam));        \
      return 0;)),

// void OnDestroy()
#define ON_WM_DESTROY()                                                                     \
  ::fw::MessageEntry<ThisClass>(WM_DESTROY, FW_MAP_HANDLER(self.OnDestroy(); return 0;)),

// HCURSOR OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON()                                                               \
  ::fw::MessageEntry<ThisClass>(WM_QUERYDRAGICON, FW_MAP_HANDLER(                           \
      return reinterpret_cast<::fw::Result>(self.OnQueryDragIcon());)),

// clang-format on
