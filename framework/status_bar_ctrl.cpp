#include "framework/status_bar_ctrl.h"

#include <commctrl.h>

#include "framework/dialog.h"

CStatusBarCtrl::~CStatusBarCtrl() {
  if (m_hWnd != nullptr && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
}

BOOL CStatusBarCtrl::Create(DWORD dwStyle, const RECT& rect, CDialog* pParentWnd, UINT nID) {
  return Create(dwStyle, rect, pParentWnd != nullptr ? pParentWnd->m_hWnd : nullptr, nID);
}

BOOL CStatusBarCtrl::Create(DWORD dwStyle, const RECT& rect, HWND hParentWnd, UINT nID) {
  if (m_hWnd != nullptr || hParentWnd == nullptr) return FALSE;
  // The status bar class must be registered before the first one is created, whether or not
  // the application switched on the control drawing at start-up.
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);
  m_hWnd = ::CreateWindowExA(0, STATUSCLASSNAMEA, "", dwStyle, rect.left, rect.top,
                             rect.right - rect.left, rect.bottom - rect.top, hParentWnd,
                             reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)),
                             AfxGetInstanceHandle(), nullptr);
  return m_hWnd != nullptr;
}

void CStatusBarCtrl::SetSimple(BOOL bSimple) { ::SendMessageA(m_hWnd, SB_SIMPLE, bSimple, 0); }

BOOL CStatusBarCtrl::SetText(LPCSTR lpszText, int nPane, int nType) {
  const WPARAM how = static_cast<WPARAM>(nPane | nType);
  return static_cast<BOOL>(
      ::SendMessageA(m_hWnd, SB_SETTEXTA, how, reinterpret_cast<LPARAM>(lpszText)));
}

void CStatusBarCtrl::Invalidate(BOOL bErase) { ::InvalidateRect(m_hWnd, nullptr, bErase); }
