// CStatusBarCtrl: owns one status bar common control (a child window).
#pragma once

#include <windows.h>

class CDialog;

class CStatusBarCtrl {
 public:
  CStatusBarCtrl() noexcept = default;
  // Destroys the control if its window still exists.
  ~CStatusBarCtrl();
  CStatusBarCtrl(const CStatusBarCtrl&) = delete;
  CStatusBarCtrl& operator=(const CStatusBarCtrl&) = delete;

  // Creates the control with window styles `dwStyle` (WS_CHILD and CCS_ styles), at `rect` in
  // the parent's client area (the control sizes itself along the parent's edge), with control
  // id `nID`. FALSE, with no window, when the parent is missing, the control already exists or
  // the window cannot be created.
  BOOL Create(DWORD dwStyle, const RECT& rect, CDialog* pParentWnd, UINT nID);
  BOOL Create(DWORD dwStyle, const RECT& rect, HWND hParentWnd, UINT nID);

  // Switches between simple mode (one part, SB_SIMPLE) and the parts.
  void SetSimple(BOOL bSimple = TRUE);

  // Sets the text of part `nPane` (255: the simple part) with drawing type `nType` (0 or
  // SBT_ flags). FALSE when the control refused it.
  BOOL SetText(LPCSTR lpszText, int nPane, int nType);

  // Marks the whole control for repainting, erasing its background first when `bErase`.
  void Invalidate(BOOL bErase = TRUE);

  [[nodiscard]] HWND GetSafeHwnd() const noexcept { return m_hWnd; }

  HWND m_hWnd = nullptr;
};
