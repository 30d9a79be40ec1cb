// Resource identifiers of the tool, in numbered blocks. Included by the .rc script and by C++.
#pragma once

// Dialog templates.
#define IDD_ABOUT_INFO 100
#define IDD_MODEM_CONFIG 102

// Strings. (String and control identifiers live in separate name spaces: IDS_ABOUT_MENU_TEXT and
// IDC_STATUS_LINE share the number 101 without meeting.)
#define IDS_ABOUT_MENU_TEXT 101

// Icons.
#define IDI_APP_LARGE 130
#define IDI_APP_SMALL 131

// Controls.
#define IDC_STATUS_LINE 101
#define IDC_ABOUT_ICON 130
#define IDC_RADIO_SECURE 1000
#define IDC_RADIO_NORMAL 1001

// System menu commands. The system reserves the low four bits of a system command, so an
// application's own command must leave them clear.
#define ID_SYS_ABOUT 0x0010

#ifdef __cplusplus
static_assert((ID_SYS_ABOUT & 0x000F) == 0, "system commands keep their low four bits clear");
static_assert(ID_SYS_ABOUT < 0xF000, "application system commands lie below the system's own");
#endif
