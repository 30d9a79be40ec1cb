// The About entry of the main dialog's window menu and the system commands that open the box.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "modal_script.h"
#include "platform/memory_registry.h"
#include "ui/modem_config_dlg.h"
#include "ui/resource.h"

namespace {

std::optional<PlatformVersion> NoVersion() { return std::nullopt; }

struct MenuItem {
  UINT type = 0;
  UINT id = 0;
  std::string text;
};

MenuItem ReadMenuItem(HMENU menu, int position) {
  char text[128] = {};
  MENUITEMINFOA info{};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
  info.dwTypeData = text;
  info.cch = sizeof(text);
  ::GetMenuItemInfoA(menu, static_cast<UINT>(position), TRUE, &info);
  return {info.fType, info.wID, text};
}

TEST(AboutBoxTest, WindowMenuEndsWithASeparatorAndTheAboutItem) {
  MemoryRegistry registry;
  CModemConfigDlg dialog(registry, &NoVersion);
  MenuItem separator, about;
  ModalScript script([&] { return dialog.m_hWnd; });
  script.Then("read menu", [&](HWND hDlg) {
    HMENU menu = ::GetSystemMenu(hDlg, FALSE);
    const int count = ::GetMenuItemCount(menu);
    if (count >= 2) {
      separator = ReadMenuItem(menu, count - 2);
      about = ReadMenuItem(menu, count - 1);
    }
    return true;
  });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(script.Failure(), "");
  EXPECT_TRUE(separator.type & MFT_SEPARATOR);
  EXPECT_EQ(about.type & MFT_SEPARATOR, 0u);
  EXPECT_EQ(about.id, static_cast<UINT>(ID_SYS_ABOUT));
  EXPECT_EQ(about.text, "&About Quillon...");
}

// Posts system command `command` to the main dialog and reports whether an About box came up;
// closes it if it did. Afterwards the radio buttons and status line are as before.
class SystemCommandTest : public ::testing::TestWithParam<std::pair<WPARAM, bool>> {};

TEST_P(SystemCommandTest, OpensTheAboutBoxForItsOwnCommandsOnly) {
  const auto [command, opens] = GetParam();
  MemoryRegistry registry;
  registry.SetDword("SYSTEM\\ControlSet001\\M", "TONE", 1);
  registry.SetDword("SYSTEM\\ControlSet001\\M", "PULSE", 1);
  registry.SetString("SYSTEM\\ControlSet001\\M", "DIALPREFIX", "A");
  CModemConfigDlg dialog(registry, &NoVersion);
  // As in the tool, the main dialog is the application's main window, which owns the box.
  CWinApp app;
  app.m_pMainWnd = &dialog;

  std::string before, after, aboutCaption;
  UINT normalAfter = 0;
  std::size_t recordsBefore = 0, recordsAfter = 0;
  int waited = 0;
  ModalScript script([&] { return dialog.m_hWnd; });
  script.Then("command", [&](HWND hDlg) {
    before = StatusBarText(::GetDlgItem(hDlg, IDC_STATUS_LINE));
    recordsBefore = dialog.Inventory().Count();
    ::PostMessageA(hDlg, WM_SYSCOMMAND, command, 0);
    return true;
  });
  script.Then("about box?", [&](HWND hDlg) {
    HWND box = FindOwnedDialog(hDlg);
    if (box == nullptr) return ++waited > 20;  // give a box time to appear
    aboutCaption = WindowText(box);
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    return true;
  });
  script.Then("after", [&](HWND hDlg) {
    if (FindOwnedDialog(hDlg) != nullptr || !::IsWindowEnabled(hDlg)) return false;
    after = StatusBarText(::GetDlgItem(hDlg, IDC_STATUS_LINE));
    normalAfter = ::IsDlgButtonChecked(hDlg, IDC_RADIO_NORMAL);
    recordsAfter = dialog.Inventory().Count();
    return true;
  });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(script.Failure(), "");
  EXPECT_EQ(aboutCaption, opens ? "About Quillon" : "");
  EXPECT_EQ(after, before);
  EXPECT_EQ(after, "Modem is currently configured for secure access of Orvexa Lite, OX20 and OX35");
  EXPECT_EQ(normalAfter, static_cast<UINT>(BST_CHECKED));
  EXPECT_EQ(recordsAfter, recordsBefore);
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Commands, SystemCommandTest,
                         ::testing::Values(std::pair<WPARAM, bool>{0x10, true},
                                           std::pair<WPARAM, bool>{0x1F, true},
                                           std::pair<WPARAM, bool>{0x20, false}));

}  // namespace
