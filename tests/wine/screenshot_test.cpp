// Pictures of the real tool's two windows on the virtual desktop, saved for a person to look at:
// <build>/screenshots/main_dialog.png (the demo registry's modem, in normal operation) and
// about_box.png. Each file must read back as a valid PNG of exactly its window's rectangle, with
// a caption, and each control's text drawn where that control shows it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tool_driver.h"
#include "tool_expected.h"
#include "window_capture.h"

#ifndef MODEMCONFIG_SCREENSHOT_DIR
#error "MODEMCONFIG_SCREENSHOT_DIR must name the folder for the screenshots (a Windows path)"
#endif

namespace {

std::string ScreenshotPath(const char* fileName) {
  ::CreateDirectoryA(MODEMCONFIG_SCREENSHOT_DIR, nullptr);  // fails harmlessly if it exists
  return std::string(MODEMCONFIG_SCREENSHOT_DIR) + "\\" + fileName;
}

// ---- Reading a PNG back as a viewer would, for the kind that EncodePng writes: every chunk's
// CRC, the header, the zlib stream of stored deflate blocks with its Adler-32, and each row's
// filter byte. Written apart from the encoder, so that the two cannot share a mistake.

std::uint32_t BigEndianAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
         std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

std::uint32_t BitwiseCrc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// Returns what is wrong with the file, or "" with the image in `picture`.
std::string ReadStoredPng(const std::string& path, Picture& picture) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>()};
  static const std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0) return "no PNG signature";

  std::vector<std::uint8_t> header, zlib;
  bool ended = false;
  for (std::size_t at = 8; !ended;) {
    if (bytes.size() - at < 12) return "a chunk runs off the end of the file";
    const std::uint32_t length = BigEndianAt(bytes, at);
    if (length > bytes.size() - at - 12) return "a chunk runs off the end of the file";
    const std::string type(bytes.begin() + static_cast<std::ptrdiff_t>(at + 4),
                           bytes.begin() + static_cast<std::ptrdiff_t>(at + 8));
    if (BitwiseCrc32(&bytes[at + 4], 4 + length) != BigEndianAt(bytes, at + 8 + length)) {
      return "wrong CRC in chunk " + type;
    }
    const auto data = bytes.begin() + static_cast<std::ptrdiff_t>(at + 8);
    if (type == "IHDR") header.assign(data, data + length);
    if (type == "IDAT") zlib.insert(zlib.end(), data, data + length);
    ended = type == "IEND";
    at += 12 + length;
    if (ended && at != bytes.size()) return "bytes after IEND";
  }
  if (header.size() != 13) return "no 13-byte IHDR";
  const int width = static_cast<int>(BigEndianAt(header, 0));
  const int height = static_cast<int>(BigEndianAt(header, 4));
  if (width <= 0 || height <= 0) return "an empty image";
  if (header[8] != 8 || header[9] != 2 || header[10] != 0 || header[11] != 0 || header[12] != 0) {
    return "not 8-bit RGB without interlace";
  }

  if (zlib.size() < 6 || (zlib[0] & 0x0F) != 8 || (zlib[0] << 8 | zlib[1]) % 31 != 0 ||
      (zlib[1] & 0x20) != 0) {
    return "no valid zlib header";
  }
  std::vector<std::uint8_t> raw;
  std::size_t at = 2;
  for (bool final = false; !final;) {
    if (zlib.size() - at < 5) return "a deflate block runs off the stream";
    final = (zlib[at] & 1) != 0;
    if ((zlib[at] >> 1 & 3) != 0) return "a compressed deflate block (only stored ones are read)";
    const unsigned length = zlib[at + 1] | unsigned{zlib[at + 2]} << 8;
    const unsigned check = zlib[at + 3] | unsigned{zlib[at + 4]} << 8;
    if ((length ^ 0xFFFF) != check) return "a stored block's NLEN is not its LEN's complement";
    at += 5;
    if (zlib.size() - at < length) return "a stored block runs off the stream";
    raw.insert(raw.end(), zlib.begin() + static_cast<std::ptrdiff_t>(at),
               zlib.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  }
  if (zlib.size() - at != 4) return "no Adler-32 right after the last block";
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  if ((b << 16 | a) != BigEndianAt(zlib, at)) return "wrong Adler-32";

  const std::size_t rowSize = 1 + 3 * static_cast<std::size_t>(width);
  if (raw.size() != rowSize * static_cast<std::size_t>(height)) return "wrong image data size";
  picture = {width, height, {}};
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = &raw[rowSize * static_cast<std::size_t>(y)];
    if (row[0] != 0) return "a row filter other than none (not read here)";
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* rgb = row + 1 + 3 * x;
      picture.pixels.push_back(std::uint32_t{rgb[0]} << 16 | std::uint32_t{rgb[1]} << 8 | rgb[2]);
    }
  }
  return "";
}

// ---- What a picture of a window must show.

std::uint32_t SystemColour(int index) {
  const COLORREF colour = ::GetSysColor(index);  // 0x00BBGGRR
  return std::uint32_t{GetRValue(colour)} << 16 | std::uint32_t{GetGValue(colour)} << 8 |
         GetBValue(colour);
}

// Whether any pixel of the picture inside [left, right) x [top, bottom) has one of `colours`.
bool HoldsColour(const Picture& picture, RECT area, const std::set<std::uint32_t>& colours) {
  for (LONG y = std::max(area.top, 0L); y < std::min<LONG>(area.bottom, picture.height); ++y) {
    for (LONG x = std::max(area.left, 0L); x < std::min<LONG>(area.right, picture.width); ++x) {
      if (colours.count(picture.At(x, y))) return true;
    }
  }
  return false;
}

// A control of the window that shows a text: found by its id, or (id -1, a static without an
// id of its own) by its text.
struct TextControl {
  int id;
  const char* text;
};

// Where the text of `control` is drawn, in the picture's coordinates (the picture holds the
// rectangle of `window`): a radio button's text right of its dot, a push button's inside its
// frame, a static's and the status line's inside their rectangles. Empty if not found.
RECT TextArea(HWND window, const TextControl& wanted) {
  HWND control = nullptr;
  for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr && control == nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (LOWORD(::GetDlgCtrlID(child)) == LOWORD(wanted.id) &&
        (wanted.id != -1 || TextOf(child) == wanted.text)) {
      control = child;
    }
  }
  RECT area{};
  RECT windowRect{};
  if (control == nullptr || !::GetWindowRect(control, &area) ||
      !::GetWindowRect(window, &windowRect)) {
    return RECT{};
  }
  ::OffsetRect(&area, -windowRect.left, -windowRect.top);
  char className[32] = {};
  ::GetClassNameA(control, className, sizeof className);
  const auto style = static_cast<DWORD>(::GetWindowLongPtrA(control, GWL_STYLE));
  if (_stricmp(className, "Button") == 0 && (style & BS_TYPEMASK) == BS_AUTORADIOBUTTON) {
    area.left += ::GetSystemMetrics(SM_CXMENUCHECK) + 2;  // past the dot and its circle
  } else if (_stricmp(className, "Static") != 0) {
    ::InflateRect(&area, -4, -4);  // inside a button's frame or the status line's border
  }
  return area;
}

// Captures `window`, writes it to `path` and checks what was written: a PNG of the window's
// size holding exactly the captured pixels, not blank, with a caption above the client area
// (which only a virtual desktop draws here) and text drawn where each of `texts` must show:
// the text colour anywhere else (a radio button's dot, an icon, a frame) proves no text.
void SaveAndCheck(HWND window, const std::string& path, const std::vector<TextControl>& texts) {
  const Picture captured = CaptureSettledWindow(window);
  ASSERT_FALSE(captured.Empty()) << "the window's picture did not settle";
  ASSERT_EQ(WritePng(path, captured), "");

  Picture saved;
  ASSERT_EQ(ReadStoredPng(path, saved), "") << path;
  RECT rect{};
  ASSERT_TRUE(::GetWindowRect(window, &rect));
  EXPECT_EQ(saved.width, rect.right - rect.left);
  EXPECT_EQ(saved.height, rect.bottom - rect.top);
  EXPECT_TRUE(saved == captured) << "the file does not hold the captured pixels";

  const std::set<std::uint32_t> distinct(saved.pixels.begin(), saved.pixels.end());
  EXPECT_GE(distinct.size(), 8u) << "a nearly blank picture";

  // The client area in the picture's coordinates.
  RECT client{};
  ASSERT_TRUE(::GetClientRect(window, &client));
  POINT origin{0, 0};
  ASSERT_TRUE(::ClientToScreen(window, &origin));
  ::OffsetRect(&client, origin.x - rect.left, origin.y - rect.top);
  ASSERT_GT(client.top, 0) << "the window has no caption or frame";

  const RECT captionBand{0, 0, saved.width, client.top};
  EXPECT_TRUE(HoldsColour(
      saved, captionBand,
      {SystemColour(COLOR_ACTIVECAPTION), SystemColour(COLOR_GRADIENTACTIVECAPTION),
       SystemColour(COLOR_INACTIVECAPTION), SystemColour(COLOR_GRADIENTINACTIVECAPTION)}))
      << "no caption drawn above the client area";
  for (const TextControl& text : texts) {
    const RECT area = TextArea(window, text);
    ASSERT_FALSE(::IsRectEmpty(&area)) << "no control for '" << text.text << "'";
    EXPECT_TRUE(HoldsColour(saved, area, {SystemColour(COLOR_BTNTEXT)}))
        << "'" << text.text << "' is not drawn";
  }
}

// ---- The tool's icons as the windows show them. The icon's green and red front lights are
// colours that nothing else on these windows has.

const std::set<std::uint32_t> kIconLights = {0x00FF00, 0xFF0000};

// Whether the area holds every colour of `colours`.
bool HoldsEvery(const Picture& picture, RECT area, const std::set<std::uint32_t>& colours) {
  for (std::uint32_t colour : colours) {
    if (!HoldsColour(picture, area, {colour})) return false;
  }
  return true;
}

class ScreenshotTest : public ToolTest {};

// Both icon resources hold many sizes; the windows must still pick the system's: the small one
// in the dialog's caption, within the small icon's width, and the large one in the About box,
// whose icon control takes its icon's size. (The sizes of the icons the dialog carries are
// checked in-process: an icon handle means nothing to another process under Wine.)
TEST_F(ScreenshotTest, WindowsShowTheIconsAtTheSystemSizes) {
  ASSERT_EQ(ImportDemoModem(registry, "D", "D"), "");
  ToolRun tool;
  ASSERT_EQ(tool.Start(), "");

  // The small icon is drawn at the left of the caption.
  const Picture dialog = CaptureSettledWindow(tool.Dialog());
  ASSERT_FALSE(dialog.Empty());
  RECT window{}, client{};
  ASSERT_TRUE(::GetWindowRect(tool.Dialog(), &window));
  ASSERT_TRUE(::GetClientRect(tool.Dialog(), &client));
  POINT origin{0, 0};
  ASSERT_TRUE(::ClientToScreen(tool.Dialog(), &origin));
  const LONG captionBottom = origin.y - window.top;
  const LONG iconRight = origin.x - window.left + ::GetSystemMetrics(SM_CXSMICON) + 4;
  EXPECT_TRUE(HoldsEvery(dialog, {0, 0, iconRight, captionBottom}, kIconLights))
      << "no small icon in the caption";

  // The About box's icon control takes the large icon's size, and shows it.
  tool.PostSysCommand(0x10);
  const HWND about = tool.WaitForOwnedBox(3000);
  ASSERT_NE(about, nullptr) << "no About box owned by the dialog";
  const HWND iconControl = ::GetDlgItem(about, 130);
  ASSERT_NE(iconControl, nullptr);
  RECT iconRect{};
  ASSERT_TRUE(::GetWindowRect(iconControl, &iconRect));
  EXPECT_EQ(iconRect.right - iconRect.left, ::GetSystemMetrics(SM_CXICON));
  EXPECT_EQ(iconRect.bottom - iconRect.top, ::GetSystemMetrics(SM_CYICON));
  const Picture aboutPicture = CaptureSettledWindow(about);
  ASSERT_FALSE(aboutPicture.Empty());
  RECT aboutWindow{};
  ASSERT_TRUE(::GetWindowRect(about, &aboutWindow));
  ::OffsetRect(&iconRect, -aboutWindow.left, -aboutWindow.top);
  EXPECT_TRUE(HoldsEvery(aboutPicture, iconRect, kIconLights)) << "no large icon in the About box";

  ASSERT_TRUE(tool.PressOk(about));
  tool.PostClick(IDCANCEL);
  EXPECT_EQ(tool.WaitForExit(), std::optional<DWORD>(0));
}

TEST_F(ScreenshotTest, SavesTheMainDialogAndTheAboutBoxAsPngs) {
  ASSERT_EQ(ImportDemoModem(registry, "D", "D"), "");
  ToolRun tool;
  ASSERT_EQ(tool.Start(), "");
  // The picture shows the demo modem's state.
  EXPECT_EQ(tool.StatusText(), kStatusNormal);
  EXPECT_EQ(tool.CheckState(kRadioSecure), static_cast<UINT>(BST_CHECKED));

  SaveAndCheck(tool.Dialog(), ScreenshotPath("main_dialog.png"),
               {{IDOK, "OK"},
                {IDCANCEL, "Cancel"},
                {kRadioSecure, "Configure Modem for Secure Access of Orvexa Lite or Orvexa 35"},
                {kRadioNormal, "Configure Modem for Normal Operation"},
                {101, "the status line"}});

  tool.PostSysCommand(0x10);
  const HWND about = tool.WaitForOwnedBox(3000);
  ASSERT_NE(about, nullptr) << "no About box owned by the dialog";
  EXPECT_EQ(TextOf(about), "About Quillon");
  SaveAndCheck(about, ScreenshotPath("about_box.png"),
               {{IDOK, "OK"}, {-1, "Quillon Version 1.0"}, {-1, "Copyright (C) 2026 Brackwell"}});

  ASSERT_TRUE(tool.PressOk(about));
  tool.PostClick(IDCANCEL);
  EXPECT_EQ(tool.WaitForExit(), std::optional<DWORD>(0));
  EXPECT_EQ(ReadMachineValue(kCcsDemoModem, "DialPrefix"), StringValue("D"));
}

}  // namespace
