#include "window_capture.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>

namespace {

// ---- Device contexts and bitmaps, each released on every path.

class ScreenDc {
 public:
  ScreenDc() : m_dc(::GetDC(nullptr)) {}
  ~ScreenDc() {
    if (m_dc != nullptr) ::ReleaseDC(nullptr, m_dc);
  }
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;
  [[nodiscard]] HDC Get() const { return m_dc; }

 private:
  HDC m_dc;
};

class MemoryDc {
 public:
  explicit MemoryDc(HDC compatibleWith) : m_dc(::CreateCompatibleDC(compatibleWith)) {}
  ~MemoryDc() {
    if (m_dc != nullptr) ::DeleteDC(m_dc);
  }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  [[nodiscard]] HDC Get() const { return m_dc; }

 private:
  HDC m_dc;
};

class OwnedBitmap {
 public:
  explicit OwnedBitmap(HBITMAP bitmap) : m_bitmap(bitmap) {}
  ~OwnedBitmap() {
    if (m_bitmap != nullptr) ::DeleteObject(m_bitmap);
  }
  OwnedBitmap(const OwnedBitmap&) = delete;
  OwnedBitmap& operator=(const OwnedBitmap&) = delete;
  [[nodiscard]] HBITMAP Get() const { return m_bitmap; }

 private:
  HBITMAP m_bitmap;
};

// Selects an object into a device context for one scope.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(::SelectObject(dc, object)) {}
  ~Selection() {
    if (m_previous != nullptr && m_previous != HGDI_ERROR) ::SelectObject(m_dc, m_previous);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  [[nodiscard]] bool Ok() const { return m_previous != nullptr && m_previous != HGDI_ERROR; }

 private:
  HDC m_dc;
  HGDIOBJ m_previous;
};

// ---- PNG pieces.

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::uint32_t Adler32(const std::vector<std::uint8_t>& data) {
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// Appends one chunk: length, type, data, and the CRC of type and data.
void PutChunk(std::vector<std::uint8_t>& out, const char (&type)[5],
              const std::vector<std::uint8_t>& data) {
  PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBigEndian(out, Crc32(out.data() + typeAt, 4 + data.size()));
}

// A zlib stream holding `raw` in stored deflate blocks of at most 65535 bytes each.
std::vector<std::uint8_t> StoredZlib(const std::vector<std::uint8_t>& raw) {
  std::vector<std::uint8_t> out = {0x78, 0x01};  // deflate, 32 KB window; (0x78 << 8 | 1) % 31 == 0
  std::size_t offset = 0;
  do {
    const std::size_t length = std::min<std::size_t>(raw.size() - offset, 65535);
    const bool last = offset + length == raw.size();
    out.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
    const auto len = static_cast<std::uint16_t>(length);
    const auto nlen = static_cast<std::uint16_t>(~len);
    out.insert(out.end(), {static_cast<std::uint8_t>(len), static_cast<std::uint8_t>(len >> 8),
                           static_cast<std::uint8_t>(nlen), static_cast<std::uint8_t>(nlen >> 8)});
    out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(offset),
               raw.begin() + static_cast<std::ptrdiff_t>(offset + length));
    offset += length;
  } while (offset < raw.size());
  PutBigEndian(out, Adler32(raw));
  return out;
}

}  // namespace

Picture CaptureScreenRect(const RECT& rect) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return {};

  const ScreenDc screen;
  if (screen.Get() == nullptr) return {};
  const MemoryDc memory(screen.Get());
  if (memory.Get() == nullptr) return {};
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const OwnedBitmap bitmap(
      ::CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (bitmap.Get() == nullptr || bits == nullptr) return {};
  {
    const Selection selected(memory.Get(), bitmap.Get());
    if (!selected.Ok() || !::BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), rect.left,
                                    rect.top, SRCCOPY | CAPTUREBLT)) {
      return {};
    }
  }
  ::GdiFlush();

  Picture picture{width, height,
                  std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height)};
  // A 32-bit DIB holds each pixel as the bytes B, G, R and one unused: 0x00RRGGBB read as a
  // little-endian word, its top byte cleared here.
  std::memcpy(picture.pixels.data(), bits, picture.pixels.size() * sizeof(std::uint32_t));
  for (std::uint32_t& pixel : picture.pixels) pixel &= 0xFFFFFF;
  return picture;
}

Picture CaptureWindow(HWND window) {
  RECT rect{};
  if (!::GetWindowRect(window, &rect)) return {};
  return CaptureScreenRect(rect);
}

Picture CaptureSettledWindow(HWND window, DWORD timeoutMs) {
  // A round trip through the window's queue: whatever was sent or posted before has been
  // handled, and painting follows as soon as its queue is empty.
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &ignored);
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  Picture last = CaptureWindow(window);
  while (::GetTickCount64() < deadline) {
    ::Sleep(100);
    Picture next = CaptureWindow(window);
    if (!next.Empty() && next == last) return next;
    last = std::move(next);
  }
  return {};
}

std::vector<std::uint8_t> EncodePng(const Picture& picture) {
  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

  std::vector<std::uint8_t> header;
  PutBigEndian(header, static_cast<std::uint32_t>(picture.width));
  PutBigEndian(header, static_cast<std::uint32_t>(picture.height));
  header.insert(header.end(),
                {8, 2, 0, 0, 0});  // 8 bits a sample, RGB, deflate, no filter, no interlace
  PutChunk(png, "IHDR", header);

  // Each row: filter type 0 (none), then R, G, B of each pixel.
  std::vector<std::uint8_t> raw;
  raw.reserve(static_cast<std::size_t>(picture.height) * (1 + 3 * picture.width));
  for (int y = 0; y < picture.height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < picture.width; ++x) {
      const std::uint32_t pixel = picture.At(x, y);
      raw.insert(raw.end(),
                 {static_cast<std::uint8_t>(pixel >> 16), static_cast<std::uint8_t>(pixel >> 8),
                  static_cast<std::uint8_t>(pixel)});
    }
  }
  PutChunk(png, "IDAT", StoredZlib(raw));
  PutChunk(png, "IEND", {});
  return png;
}

std::string WritePng(const std::string& path, const Picture& picture) {
  if (picture.Empty()) return "no picture to write";
  const std::vector<std::uint8_t> png = EncodePng(picture);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  out.close();
  if (!out) return "could not write " + path;
  return "";
}
