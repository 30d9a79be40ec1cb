// Pictures of windows as they show on the screen, saved as PNG files a person can open.
//
// A window of another process is copied from the screen itself (a screen device context), so
// the picture holds what the user sees: caption, frame and icon as the window system drew them
// (under Wine that needs the virtual desktop of wine-run's desktop configuration), and whatever
// lies on top of the window at that moment.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// An image in 24-bit colour: `pixels` holds width * height values 0xRRGGBB, row by row from the
// top.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  [[nodiscard]] bool Empty() const { return pixels.empty(); }
  [[nodiscard]] std::uint32_t At(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
  bool operator==(const Picture&) const = default;
};

// The screen's pixels inside `rect` (screen coordinates); an empty picture if the rectangle is
// empty or the copy fails.
Picture CaptureScreenRect(const RECT& rect);

// The screen's pixels inside the window's rectangle (GetWindowRect).
Picture CaptureWindow(HWND window);

// Waits until the window has handled what is queued for it and its picture on the screen has
// stopped changing (two captures 100 ms apart agree), and returns that picture; an empty one if
// it did not settle within `timeoutMs`.
Picture CaptureSettledWindow(HWND window, DWORD timeoutMs = 3000);

// The picture as a PNG file: 8-bit RGB, not interlaced, its image data in stored (uncompressed)
// deflate blocks, which every PNG reader accepts.
std::vector<std::uint8_t> EncodePng(const Picture& picture);

// Writes EncodePng(picture) to `path`; returns what went wrong, or "".
[[nodiscard]] std::string WritePng(const std::string& path, const Picture& picture);
