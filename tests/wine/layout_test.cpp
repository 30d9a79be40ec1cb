// The main dialog and the About box as they come up: every control where its template puts
// it, with its text and styles, and the status line along the bottom edge.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modal_script.h"
#include "platform/memory_registry.h"
#include "ui/about_box.h"
#include "ui/modem_config_dlg.h"
#include "ui/resource.h"

namespace {

std::optional<PlatformVersion> NoVersion() { return std::nullopt; }

struct ControlSpec {
  int id;
  const char* className;
  const char* text;
  DWORD style;
  RECT units;  // left, top, width, height in dialog units (converted below)
};

// Checks every control of `dialog` against `wanted`: pixel rectangle equal to the template's
// rectangle mapped through the dialog's own base units, class, text and styles.
void ExpectControls(HWND dialog, const std::vector<ControlSpec>& wanted) {
  for (const ControlSpec& want : wanted) {
    SCOPED_TRACE(want.text);
    // The dialog manager converts the position and the size each on its own, as here.
    RECT mapped = want.units;
    ASSERT_TRUE(::MapDialogRect(dialog, &mapped));
    const RECT expected{mapped.left, mapped.top, mapped.left + mapped.right,
                        mapped.top + mapped.bottom};

    HWND control = nullptr;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
      // Controls with an id of their own are found by it, the others (-1, which a plain
      // template stores as the word 0xFFFF) by their text.
      if (LOWORD(::GetDlgCtrlID(child)) == LOWORD(want.id) &&
          (want.id != -1 || WindowText(child) == want.text)) {
        control = child;
      }
    }
    ASSERT_NE(control, nullptr);
    RECT actual{};
    ::GetWindowRect(control, &actual);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    if ((want.style & SS_TYPEMASK) != SS_ICON || std::string(want.className) != "Static") {
      EXPECT_EQ(actual.left, expected.left);
      EXPECT_EQ(actual.top, expected.top);
      EXPECT_EQ(actual.right, expected.right);
      EXPECT_EQ(actual.bottom, expected.bottom);
    } else {
      // An icon control takes the size of its icon at the template's position.
      EXPECT_EQ(actual.left, expected.left);
      EXPECT_EQ(actual.top, expected.top);
    }

    char className[32] = {};
    ::GetClassNameA(control, className, sizeof(className));
    EXPECT_STRCASEEQ(className, want.className);
    const auto style = static_cast<DWORD>(::GetWindowLongPtrA(control, GWL_STYLE));
    // A checked auto radio button gains WS_TABSTOP from the dialog manager.
    const DWORD ignored =
        std::string(want.className) == "Button" && (want.style & 0xF) == BS_AUTORADIOBUTTON
            ? WS_TABSTOP
            : 0;
    EXPECT_EQ(style & ~ignored, want.style);
  }
}

TEST(LayoutTest, MainDialogMatchesItsTemplate) {
  MemoryRegistry registry;
  CModemConfigDlg dialog(registry, &NoVersion);
  ModalScript script([&] { return dialog.m_hWnd; });
  script.Then("check", [&](HWND hDlg) {
    EXPECT_EQ(WindowText(hDlg), "Brackwell Modem Configuration Tool");
    const auto style = static_cast<DWORD>(::GetWindowLongPtrA(hDlg, GWL_STYLE));
    const DWORD wanted = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    EXPECT_EQ(style & wanted, wanted);
    EXPECT_TRUE(::GetWindowLongPtrA(hDlg, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    RECT client{};
    ::GetClientRect(hDlg, &client);
    RECT size{0, 0, 336, 58};
    ::MapDialogRect(hDlg, &size);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    const DWORD child = WS_CHILD | WS_VISIBLE;
    ExpectControls(
        hDlg, {
                  {IDOK, "Button", "OK", child | WS_TABSTOP | BS_DEFPUSHBUTTON, {279, 7, 50, 14}},
                  {IDCANCEL, "Button", "Cancel", child | WS_TABSTOP, {279, 23, 50, 14}},
                  {IDC_RADIO_SECURE,
                   "Button",
                   "Configure Modem for Secure Access of Orvexa Lite or Orvexa 35 ",
                   child | BS_AUTORADIOBUTTON,
                   {21, 7, 231, 10}},
                  {IDC_RADIO_NORMAL,
                   "Button",
                   "Configure Modem for Normal Operation",
                   child | BS_AUTORADIOBUTTON,
                   {21, 22, 138, 10}},
              });

    // The status line spans the bottom edge of the client area, below every other control.
    HWND status = ::GetDlgItem(hDlg, IDC_STATUS_LINE);
    EXPECT_STRCASEEQ(WindowText(status).c_str(), "");
    RECT bar{};
    ::GetWindowRect(status, &bar);
    ::MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&bar), 2);
    EXPECT_EQ(bar.left, 0);
    EXPECT_EQ(bar.right, client.right);
    EXPECT_EQ(bar.bottom, client.bottom);
    RECT cancel{279, 23, 50, 14};
    ::MapDialogRect(hDlg, &cancel);
    EXPECT_GE(bar.top, cancel.top + cancel.bottom);

    // The template's font.
    LOGFONTA font{};
    ::GetObjectA(reinterpret_cast<HFONT>(::SendMessageA(hDlg, WM_GETFONT, 0, 0)), sizeof(font),
                 &font);
    EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");
    EXPECT_FALSE(font.lfItalic);
    return true;
  });
  // The script ran its check on the open dialog and then cancelled it.
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(script.Failure(), "");
}

TEST(LayoutTest, AboutBoxMatchesItsTemplate) {
  CAboutBox about;
  ModalScript script([&] { return about.m_hWnd; });
  script.Then("check", [&](HWND hDlg) {
    EXPECT_EQ(WindowText(hDlg), "About Quillon");
    RECT client{};
    ::GetClientRect(hDlg, &client);
    RECT size{0, 0, 235, 42};
    ::MapDialogRect(hDlg, &size);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    const DWORD child = WS_CHILD | WS_VISIBLE;
    ExpectControls(hDlg, {
                             {IDC_ABOUT_ICON, "Static", "", child | SS_ICON, {7, 7, 21, 20}},
                             {-1,
                              "Static",
                              "Quillon Version 1.0",
                              child | WS_GROUP | SS_LEFT | SS_NOPREFIX,
                              {40, 10, 119, 8}},
                             {-1,
                              "Static",
                              "Copyright (C) 2026 Brackwell",
                              child | WS_GROUP | SS_LEFT,
                              {40, 25, 159, 8}},
                             {IDOK,
                              "Button",
                              "OK",
                              child | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON,
                              {178, 7, 50, 14}},
                         });
    // The icon control shows the tool's large icon.
    HWND icon = ::GetDlgItem(hDlg, IDC_ABOUT_ICON);
    EXPECT_NE(::SendMessageA(icon, STM_GETICON, 0, 0), 0);
    return true;
  });
  EXPECT_EQ(about.DoModal(), IDCANCEL);
  EXPECT_EQ(script.Failure(), "");
}

}  // namespace
