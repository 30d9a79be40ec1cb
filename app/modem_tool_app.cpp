#include "app/modem_tool_app.h"

#include "platform/win32_event_log.h"
#include "platform/win32_registry.h"
#include "ui/modem_config_dlg.h"

// The one application object, constructed before the process entry runs.
CModemToolApp theApp;

BEGIN_MESSAGE_MAP(CModemToolApp, CWinApp)
  ON_COMMAND(ID_HELP, CWinApp::OnHelp)  // void OnHelp()
END_MESSAGE_MAP()

BOOL CModemToolApp::InitInstance() {
  Enable3dControls();

  Win32Registry registry;
  {
    // Every OK that writes leaves an event in the Application log.
    CModemConfigDlg dialog(registry, &QueryPlatformVersion, [](const SwitchRecord& record) {
      ReportSwitchEvent("ModemConfig.exe", record, &SystemStatusText);
    });
    m_pMainWnd = &dialog;
    dialog.DoModal();  // OK, Cancel or failure: the tool ends either way
    m_pMainWnd = nullptr;
  }
  return FALSE;
}
