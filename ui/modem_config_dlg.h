// CModemConfigDlg: the tool's one main dialog. It scans the registry each time it is shown,
// tells in its status line which mode the modems are in, pre-selects the other mode, and on OK
// moves every modem to the chosen mode.
#pragma once

#include <memory>

#include "discovery/modem_inventory.h"
#include "discovery/modem_scan.h"
#include "framework/framework.h"
#include "platform/registry.h"
#include "platform/win32_version.h"
#include "switching/dial_prefix_switch.h"
#include "switching/switch_record.h"

// The three status texts, one for each outcome of a scan.
inline constexpr char kStatusNormal[] = "Modem is currently configured for normal operation";
inline constexpr char kStatusSecure[] =
    "Modem is currently configured for secure access of Orvexa Lite, OX20 and OX35";
inline constexpr char kStatusNotFound[] =
    "Could not find a valid modem configuration in the Registry.";

class CModemConfigDlg : public CDialog {
 public:
  // `registry` is where the scan and the switch read and write (advapi32 in the tool; a test
  // may pass another); it must outlive the dialog. `queryVersion` answers the platform
  // version question after a switch. `audit`, when given, receives the record of every OK
  // that tried to write (the tool records it in the event log); it changes nothing the user
  // sees.
  explicit CModemConfigDlg(RegistryOperations& registry,
                           VersionQuery queryVersion = &QueryPlatformVersion,
                           SwitchAudit audit = {});

  // What the last scans found; read by tests and by the switch.
  [[nodiscard]] const ModemInventory& Inventory() const noexcept { return m_inventory; }

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  // OK: moves the modems to the chosen mode, tells the user, and ends the dialog.
  void OnOK() override;

  // Handlers, in the order of the message map.
  void OnSysCommand(UINT nID, LPARAM lParam);
  void OnDestroy();
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnRadioClicked();
  int OnCreate(LPCREATESTRUCTA lpCreateStruct);
  void OnShowWindow(BOOL bShow, UINT nStatus);

  DECLARE_MESSAGE_MAP()

 private:
  // Adds a separator and the About entry to the window menu.
  void AddAboutMenuItem();
  // Runs a scan and shows its result in the radio buttons and the status line.
  void ScanAndShowMode();
  // The OK operation proper: writes, messages, end of the dialog.
  void ApplySelectedMode();

  RegistryOperations& m_registry;
  VersionQuery m_queryVersion;
  SwitchAudit m_audit;
  HICON m_hIconLarge;  // shared icons: the system frees them
  HICON m_hIconSmall;
  std::unique_ptr<CStatusBarCtrl> m_pStatusLine;
  ModemInventory m_inventory;
  NameBuffer m_nameBuffer{};
};
