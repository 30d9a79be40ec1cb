// The main dialog run in-process on the in-memory registry: what it shows after each kind of
// scan, the order of its creation, its status line and icons, and what OK and Cancel do.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "modal_script.h"
#include "platform/memory_registry.h"
#include "tool_driver.h"
#include "ui/modem_config_dlg.h"
#include "ui/resource.h"

namespace {

const std::string kCcs = "SYSTEM\\CurrentControlSet";
const std::string kCs1 = "SYSTEM\\ControlSet001";

// The status texts the dialog must show, as the user reads them.
const std::string kShowsNormal = "Modem is currently configured for normal operation";
const std::string kShowsSecure =
    "Modem is currently configured for secure access of Orvexa Lite, OX20 and OX35";
const std::string kShowsNone = "Could not find a valid modem configuration in the Registry.";

std::optional<PlatformVersion> NoVersion() { return std::nullopt; }
std::optional<PlatformVersion> NtVersion() { return PlatformVersion{kPlatformWin32Nt, 10, 0}; }

// The dialog under test, with a record of what its window looked like when WM_CREATE came.
class CObservedDlg : public CModemConfigDlg {
 public:
  using CModemConfigDlg::CModemConfigDlg;

  bool createSeen = false;
  bool childrenAtCreate = true;
  bool listsAtCreate = false;
  bool statusLineAfterCreate = false;

 protected:
  int OnCreate(LPCREATESTRUCTA lpCreateStruct) {
    createSeen = true;
    childrenAtCreate = ::GetWindow(m_hWnd, GW_CHILD) != nullptr;
    const int result = CModemConfigDlg::OnCreate(lpCreateStruct);
    listsAtCreate = Inventory().HasLists();
    statusLineAfterCreate = GetDlgItem(IDC_STATUS_LINE) != nullptr;
    return result;
  }

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CObservedDlg, CModemConfigDlg)
  ON_WM_CREATE()
END_MESSAGE_MAP()

class ModemDialogTest : public ::testing::Test {
 protected:
  void PlantModem(const std::string& path, const std::string& prefix) {
    registry.SetDword(path, "Tone", 1);
    registry.SetDword(path, "Pulse", 0);
    registry.SetString(path, "DialPrefix", prefix);
  }

  // Runs the dialog with `script`, which ends by cancelling it unless a step ended it.
  INT_PTR Run(CModemConfigDlg& dialog, ModalScript& script) {
    const INT_PTR result = dialog.DoModal();
    EXPECT_EQ(script.Failure(), "");
    return result;
  }

  void TearDown() override {
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
    EXPECT_EQ(registry.BadCloseCount(), 0u);
  }

  MemoryRegistry registry;
};

struct Shown {
  std::string status;
  UINT secure = 99;
  UINT normal = 99;
};

Shown ReadShown(HWND dialog) {
  return {StatusBarText(::GetDlgItem(dialog, IDC_STATUS_LINE)),
          static_cast<UINT>(::IsDlgButtonChecked(dialog, IDC_RADIO_SECURE)),
          static_cast<UINT>(::IsDlgButtonChecked(dialog, IDC_RADIO_NORMAL))};
}

TEST_F(ModemDialogTest, StatusAndPreselectionFollowTheLastKeyFound) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> modems;
    std::string status;
    UINT secure, normal;
  };
  const std::vector<Case> cases = {
      {"all normal",
       {{kCs1 + "\\M1", "D"}, {kCs1 + "\\M2", "d"}},
       kShowsNormal,
       BST_CHECKED,
       BST_UNCHECKED},
      {"last secure",
       {{kCs1 + "\\M1", "D"}, {kCs1 + "\\M2", "A"}},
       kShowsSecure,
       BST_UNCHECKED,
       BST_CHECKED},
      {"none", {}, kShowsNone, BST_UNCHECKED, BST_UNCHECKED},
  };
  for (const Case& c : cases) {
    MemoryRegistry caseRegistry;
    for (const auto& [path, prefix] : c.modems) {
      caseRegistry.SetDword(path, "TONE", 1);
      caseRegistry.SetDword(path, "PULSE", 1);
      caseRegistry.SetString(path, "DIALPREFIX", prefix);
    }
    CModemConfigDlg dialog(caseRegistry, &NoVersion);
    Shown shown;
    ModalScript script([&] { return dialog.m_hWnd; });
    script.Then("read", [&](HWND hDlg) {
      shown = ReadShown(hDlg);
      return true;
    });
    EXPECT_EQ(Run(dialog, script), IDCANCEL) << c.name;
    EXPECT_EQ(shown.status, c.status) << c.name;
    EXPECT_EQ(shown.secure, c.secure) << c.name;
    EXPECT_EQ(shown.normal, c.normal) << c.name;
    EXPECT_TRUE(caseRegistry.Writes().empty()) << c.name;
    EXPECT_EQ(caseRegistry.OpenHandleCount(), 0u) << c.name;
  }
}

TEST_F(ModemDialogTest, CreationComesBeforeTheControlsAndBuildsListsAndStatusLine) {
  CObservedDlg dialog(registry, &NoVersion);
  HWND status = nullptr;
  LONG_PTR statusStyle = 0;
  LRESULT simple = 0;
  ModalScript script([&] { return dialog.m_hWnd; });
  script.Then("read", [&](HWND hDlg) {
    status = ::GetDlgItem(hDlg, IDC_STATUS_LINE);
    statusStyle = ::GetWindowLongPtrA(status, GWL_STYLE);
    simple = ::SendMessageA(status, SB_ISSIMPLE, 0, 0);
    return true;
  });
  Run(dialog, script);

  EXPECT_TRUE(dialog.createSeen);
  EXPECT_FALSE(dialog.childrenAtCreate);
  EXPECT_TRUE(dialog.listsAtCreate);
  EXPECT_TRUE(dialog.statusLineAfterCreate);
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(statusStyle & 0x50000003, 0x50000003);
  EXPECT_TRUE(simple);
  EXPECT_FALSE(dialog.Inventory().HasLists());  // freed with the window
}

TEST_F(ModemDialogTest, WindowCarriesTheLargeAndTheSmallIcon) {
  CModemConfigDlg dialog(registry, &NoVersion);
  SIZE big{}, small{};
  ModalScript script([&] { return dialog.m_hWnd; });
  script.Then("read", [&](HWND hDlg) {
    for (auto [which, size] : {std::pair{ICON_BIG, &big}, std::pair{ICON_SMALL, &small}}) {
      const auto icon = reinterpret_cast<HICON>(::SendMessageA(hDlg, WM_GETICON, which, 0));
      ICONINFO info{};
      if (icon == nullptr || !::GetIconInfo(icon, &info)) continue;
      BITMAP bitmap{};
      ::GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
      *size = {bitmap.bmWidth, bitmap.bmHeight};
      if (info.hbmColor) ::DeleteObject(info.hbmColor);
      if (info.hbmMask) ::DeleteObject(info.hbmMask);
    }
    return true;
  });
  Run(dialog, script);
  EXPECT_EQ(big.cx, ::GetSystemMetrics(SM_CXICON));
  EXPECT_EQ(big.cy, ::GetSystemMetrics(SM_CYICON));
  EXPECT_EQ(small.cx, ::GetSystemMetrics(SM_CXSMICON));
  EXPECT_EQ(small.cy, ::GetSystemMetrics(SM_CYSMICON));
}

TEST_F(ModemDialogTest, HidingAndShowingAgainScansAgainAndAppends) {
  PlantModem(kCs1 + "\\M", "A");
  CModemConfigDlg dialog(registry, &NoVersion);
  std::size_t afterShow = 0, afterHideAndShow = 0;
  Shown shown;
  ModalScript script([&] { return dialog.m_hWnd; });
  script.Then("hide and show", [&](HWND hDlg) {
    afterShow = dialog.Inventory().Count();
    ::ShowWindow(hDlg, SW_HIDE);
    ::ShowWindow(hDlg, SW_SHOW);
    afterHideAndShow = dialog.Inventory().Count();
    shown = ReadShown(hDlg);
    return true;
  });
  Run(dialog, script);
  EXPECT_EQ(afterShow, 1u);
  EXPECT_EQ(afterHideAndShow, 3u);
  EXPECT_EQ(shown.status, kShowsSecure);
  EXPECT_EQ(shown.normal, static_cast<UINT>(BST_CHECKED));
}

TEST_F(ModemDialogTest, CancelWritesNothingAndSaysNothing) {
  PlantModem(kCs1 + "\\M", "D");
  CModemConfigDlg dialog(registry, &NtVersion);
  bool messageSeen = false;
  ModalScript script([&] { return dialog.m_hWnd; });
  script.Then("cancel", [&](HWND hDlg) {
    ::PostMessageA(::GetDlgItem(hDlg, IDCANCEL), BM_CLICK, 0, 0);
    return true;
  });
  // Runs only if the dialog is still open after the click, as it would be behind a message.
  script.ThenIfStillOpen("no message", [&](HWND hDlg) {
    messageSeen = FindOwnedDialog(hDlg) != nullptr;
    return true;
  });
  EXPECT_EQ(Run(dialog, script), IDCANCEL);
  EXPECT_FALSE(messageSeen);
  EXPECT_EQ(registry.CallCounts().setValue, 0u);
}

// Presses OK, then OK on the one message box that follows; returns the dialog's result and
// the box's caption and text.
struct OkRun {
  INT_PTR result = 0;
  std::string caption, text;
};

OkRun PressOkAndReadTheMessage(CModemConfigDlg& dialog) {
  OkRun run;
  ModalScript script([&] { return dialog.m_hWnd; });
  script.Then("ok", [&](HWND hDlg) {
    ::PostMessageA(::GetDlgItem(hDlg, IDOK), BM_CLICK, 0, 0);
    return true;
  });
  script.Then("message", [&](HWND hDlg) {
    HWND box = FindOwnedDialog(hDlg);
    if (box == nullptr) return false;
    run.caption = WindowText(box);
    run.text = MessageBoxText(box);
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    return true;
  });
  run.result = dialog.DoModal();
  EXPECT_EQ(script.Failure(), "");
  return run;
}

TEST_F(ModemDialogTest, OkSwitchesTheModemsShowsTheNoticeAndEndsWithOk) {
  PlantModem(kCs1 + "\\M", "D");
  registry.AddAlias(kCcs, kCs1);
  CModemConfigDlg dialog(registry, &NtVersion);
  const OkRun run = PressOkAndReadTheMessage(dialog);
  EXPECT_EQ(run.result, IDOK);
  EXPECT_EQ(run.caption, "Configuration Complete");
  EXPECT_EQ(run.text, "Changes will not take effect until after you have restarted your PC.");
  ASSERT_EQ(registry.Writes().size(), 2u);
  EXPECT_EQ(registry.Writes()[0].path, kCcs + "\\M");
  EXPECT_EQ(registry.Writes()[1].path, kCs1 + "\\M");
  EXPECT_EQ(registry.Writes()[1].text, "A");
}

TEST_F(ModemDialogTest, OkWithNothingFoundShowsTheErrorAndEndsWithOk) {
  CModemConfigDlg dialog(registry, &NtVersion);
  const OkRun run = PressOkAndReadTheMessage(dialog);
  EXPECT_EQ(run.result, IDOK);
  EXPECT_EQ(run.caption, "Error Detected");
  EXPECT_EQ(run.text,
            "A valid modem configuration was not found in the Registry.  Please verify that your "
            "modem is properly installed.\nNote: only modems that use the Hayes AT command set "
            "are supported.");
  EXPECT_EQ(registry.CallCounts().setValue, 0u);
}

// OK hands the record of the writes it tried to the audit, once, and only when it wrote; what
// the user sees and what is written stay the same, even when the audit throws.
TEST_F(ModemDialogTest, OkThatWritesHandsItsRecordToTheAuditOnce) {
  struct Case {
    const char* name;
    const char* prefix;  // nullptr: no modem
    bool throws;
    std::size_t records;
    const char* caption;
  };
  const Case cases[] = {
      {"Writes", "D", false, 1, "Configuration Complete"},
      {"AuditThrows", "D", true, 1, "Configuration Complete"},
      {"NoModem", nullptr, false, 0, "Error Detected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    registry.DeleteKey("SYSTEM");
    const std::size_t writesBefore = registry.Writes().size();
    if (c.prefix) PlantModem(kCs1 + "\\M", c.prefix);
    std::vector<SwitchRecord> records;
    CModemConfigDlg dialog(registry, &NtVersion, [&](const SwitchRecord& record) {
      records.push_back(record);
      if (c.throws) throw std::runtime_error("event log full");
    });
    const OkRun run = PressOkAndReadTheMessage(dialog);
    EXPECT_EQ(run.result, IDOK);
    EXPECT_EQ(run.caption, c.caption);
    ASSERT_EQ(records.size(), c.records);
    EXPECT_EQ(registry.Writes().size() - writesBefore, c.records);
    if (c.records == 0) continue;
    EXPECT_EQ(records[0].target, TargetMode::kSecureAccess);
    EXPECT_EQ(records[0].keys,
              (std::vector<SwitchedKey>{{kCs1 + "\\M", "D", "A", regstatus::kSuccess}}));
  }
}

// OK in the mode every modem is in already writes nothing, so there is nothing to record.
TEST_F(ModemDialogTest, OkWithNothingToWriteRecordsNothing) {
  PlantModem(kCs1 + "\\M", "A");
  std::size_t records = 0;
  CModemConfigDlg dialog(registry, &NtVersion, [&](const SwitchRecord&) { ++records; });
  ModalScript script([&] { return dialog.m_hWnd; });
  script.Then("secure", [&](HWND hDlg) {
    ::SendMessageA(::GetDlgItem(hDlg, IDC_RADIO_SECURE), BM_CLICK, 0, 0);
    return true;
  });
  script.Then("ok", [&](HWND hDlg) {
    ::PostMessageA(::GetDlgItem(hDlg, IDOK), BM_CLICK, 0, 0);
    return true;
  });
  EXPECT_EQ(Run(dialog, script), IDOK);
  EXPECT_EQ(records, 0u);
  EXPECT_TRUE(registry.Writes().empty());
}

TEST_F(ModemDialogTest, RadioClicksOnlyMoveTheCheckMark) {
  PlantModem(kCs1 + "\\M", "D");
  CModemConfigDlg dialog(registry, &NoVersion);
  Shown shown;
  ModalScript script([&] { return dialog.m_hWnd; });
  script.Then("click normal", [&](HWND hDlg) {
    ::SendMessageA(::GetDlgItem(hDlg, IDC_RADIO_NORMAL), BM_CLICK, 0, 0);
    shown = ReadShown(hDlg);
    return true;
  });
  Run(dialog, script);
  EXPECT_EQ(shown.secure, static_cast<UINT>(BST_UNCHECKED));
  EXPECT_EQ(shown.normal, static_cast<UINT>(BST_CHECKED));
  EXPECT_EQ(shown.status, kShowsNormal);
  EXPECT_EQ(dialog.Inventory().Count(), 0u);  // lists gone with the window
  EXPECT_EQ(registry.CallCounts().setValue, 0u);
}

}  // namespace
