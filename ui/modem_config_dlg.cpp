#include "ui/modem_config_dlg.h"

#include <commctrl.h>

#include <utility>

#include "ui/about_box.h"
#include "ui/resource.h"

namespace {

// An icon of the executable at the given size, shared (never destroyed by the caller).
HICON LoadSharedIcon(UINT id, int width, int height) {
  return static_cast<HICON>(::LoadImageA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(id), IMAGE_ICON,
                                         width, height, LR_SHARED));
}

}  // namespace

CModemConfigDlg::CModemConfigDlg(RegistryOperations& registry, VersionQuery queryVersion,
                                 SwitchAudit audit)
    : CDialog(IDD_MODEM_CONFIG),
      m_registry(registry),
      m_queryVersion(queryVersion),
      m_audit(std::move(audit)),
      m_hIconLarge(LoadSharedIcon(IDI_APP_LARGE, ::GetSystemMetrics(SM_CXICON),
                                  ::GetSystemMetrics(SM_CYICON))),
      m_hIconSmall(LoadSharedIcon(IDI_APP_SMALL, ::GetSystemMetrics(SM_CXSMICON),
                                  ::GetSystemMetrics(SM_CYSMICON))) {}

void CModemConfigDlg::DoDataExchange(CDataExchange* pDX) { CDialog::DoDataExchange(pDX); }

BEGIN_MESSAGE_MAP(CModemConfigDlg, CDialog)
  ON_WM_SYSCOMMAND()                               // void OnSysCommand(UINT, LPARAM)
  ON_WM_DESTROY()                                  // void OnDestroy()
  ON_WM_PAINT()                                    // void OnPaint()
  ON_WM_QUERYDRAGICON()                            // HCURSOR OnQueryDragIcon()
  ON_BN_CLICKED(IDC_RADIO_SECURE, OnRadioClicked)  // void OnRadioClicked()
  ON_BN_CLICKED(IDC_RADIO_NORMAL, OnRadioClicked)  // void OnRadioClicked()
  ON_WM_CREATE()                                   // int OnCreate(LPCREATESTRUCTA)
  ON_WM_SHOWWINDOW()                               // void OnShowWindow(BOOL, UINT)
END_MESSAGE_MAP()

// WM_CREATE: the window exists, its controls do not yet. Prepares the inventory's lists and
// the status line along the bottom edge; -1 fails the dialog's creation.
int CModemConfigDlg::OnCreate(LPCREATESTRUCTA lpCreateStruct) {
  m_inventory.CreateLists();
  if (CDialog::OnCreate(lpCreateStruct) == -1) return -1;

  m_pStatusLine = std::make_unique<CStatusBarCtrl>();
  const RECT empty{};
  if (!m_pStatusLine->Create(WS_CHILD | WS_VISIBLE | CCS_BOTTOM, empty, this, IDC_STATUS_LINE)) {
    return -1;
  }
  m_pStatusLine->SetSimple(TRUE);
  return 0;
}

// Dialog initialisation: the About entry of the window menu and the window's two icons.
BOOL CModemConfigDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  AddAboutMenuItem();
  SetIcon(m_hIconLarge, TRUE);
  SetIcon(m_hIconSmall, FALSE);
  return TRUE;  // the system puts the focus on OK, the first tab stop
}

void CModemConfigDlg::AddAboutMenuItem() {
  CMenuHandle systemMenu = GetSystemMenu(FALSE);
  if (!systemMenu) return;
  char text[64] = {};
  if (::LoadStringA(AfxGetInstanceHandle(), IDS_ABOUT_MENU_TEXT, text, sizeof(text)) <= 0) return;
  systemMenu.AppendMenu(MF_SEPARATOR);
  systemMenu.AppendMenu(MF_STRING, ID_SYS_ABOUT, text);
}

// WM_SHOWWINDOW, whether the window is being shown or hidden: a full scan before the window's
// own processing, so the dialog appears with its result in place.
void CModemConfigDlg::OnShowWindow(BOOL bShow, UINT nStatus) {
  ScanAndShowMode();
  CDialog::OnShowWindow(bShow, nStatus);
}

void CModemConfigDlg::ScanAndShowMode() {
  ModemScanner(m_registry, m_inventory, m_nameBuffer).ScanModemSettings();

  // Pre-select the mode the last key found is not in. Checking one button does not clear the
  // other: the user's clicks are what move the check between them.
  const char* status = kStatusNotFound;
  if (m_inventory.modemFound && m_inventory.normalMode) {
    CheckDlgButton(IDC_RADIO_SECURE, BST_CHECKED);
    status = kStatusNormal;
  } else if (m_inventory.modemFound) {
    CheckDlgButton(IDC_RADIO_NORMAL, BST_CHECKED);
    status = kStatusSecure;
  }
  if (m_pStatusLine) {
    m_pStatusLine->SetText(status, SB_SIMPLEID, 0);
    m_pStatusLine->Invalidate(TRUE);
  }
}

// A click on either radio button only moves the buttons' own check marks.
void CModemConfigDlg::OnRadioClicked() {}

void CModemConfigDlg::OnOK() { ApplySelectedMode(); }

void CModemConfigDlg::ApplySelectedMode() {
  std::optional<TargetMode> target;
  if (IsDlgButtonChecked(IDC_RADIO_SECURE) != BST_UNCHECKED) {
    target = TargetMode::kSecureAccess;
  } else if (IsDlgButtonChecked(IDC_RADIO_NORMAL) != BST_UNCHECKED) {
    target = TargetMode::kNormalOperation;
  }
  const SwitchResult result = SwitchModems(m_registry, m_inventory, target, m_queryVersion);
  if (m_audit && target && result.outcome.writesTried > 0) {
    // The record of the writes just made: it can neither undo them nor keep the user from
    // seeing their outcome.
    try {
      m_audit(RecordOfSwitch(m_inventory, *target, result.outcome));
    } catch (...) {
    }
  }
  for (const Notice& notice : result.notices) {
    MessageBox(notice.text.c_str(), notice.caption.c_str(), MB_OK);
  }
  CDialog::OnOK();
}

// WM_PAINT: minimised, the dialog shows its large icon centred in the client area.
void CModemConfigDlg::OnPaint() {
  if (!IsIconic()) {
    CDialog::OnPaint();
    return;
  }
  CPaintDC dc(this);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
  const int cxIcon = ::GetSystemMetrics(SM_CXICON);
  const int cyIcon = ::GetSystemMetrics(SM_CYICON);
  RECT rect;
  GetClientRect(&rect);
  const int x = (rect.right - rect.left - cxIcon + 1) / 2;
  const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
  dc.DrawIcon(x, y, m_hIconLarge);
}

// The icon shown while the minimised window is dragged.
HCURSOR CModemConfigDlg::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(m_hIconLarge); }

void CModemConfigDlg::OnSysCommand(UINT nID, LPARAM lParam) {
  if ((nID & 0xFFF0) == ID_SYS_ABOUT) {
    CAboutBox about;
    about.DoModal();
  } else {
    CDialog::OnSysCommand(nID, lParam);
  }
}

// WM_DESTROY: the status line and the inventory's lists go with the window; the help engine
// is told the application no longer needs its help file.
void CModemConfigDlg::OnDestroy() {
  m_pStatusLine.reset();
  m_inventory.DestroyLists();
  WinHelp(0, HELP_QUIT);
  CDialog::OnDestroy();
}
