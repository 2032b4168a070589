#include "gui/WindowPicture.h"

#include "gui/GdiPlus.h"
#include "gui/ImageCache.h"
#include "gui/QxGUISPWnd.h"

namespace {

// Prints `window` (whose picture is `width` by `height`) into a new 32-bit top-down DIB
// and copies it into `pixels` at (left, top), clipped to the picture.
void printInto(HWND window, UINT message, LPARAM flags, int width, int height, int left, int top,
               std::vector<std::uint32_t>& pixels, int pictureWidth, int pictureHeight) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!dib || !bits) {
    DeleteDC(dc);
    return;
  }
  HGDIOBJ old = SelectObject(dc, dib);
  SendMessageW(window, message, reinterpret_cast<WPARAM>(dc), flags);
  GdiFlush();
  const auto* printed = static_cast<const std::uint32_t*>(bits);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int px = left + x, py = top + y;
      if (px >= 0 && py >= 0 && px < pictureWidth && py < pictureHeight)
        pixels[size_t(py) * size_t(pictureWidth) + size_t(px)] = printed[size_t(y) * size_t(width) + size_t(x)];
    }
  SelectObject(dc, old);
  DeleteObject(dib);
  DeleteDC(dc);
}

bool pngEncoder(CLSID& clsid) {
  UINT count = 0, size = 0;
  Gdiplus::GetImageEncodersSize(&count, &size);
  if (size == 0)
    return false;
  std::vector<char> buffer(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  Gdiplus::GetImageEncoders(count, size, codecs);
  for (UINT i = 0; i < count; ++i) {
    if (std::wstring(codecs[i].MimeType) == L"image/png") {
      clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

} // namespace

std::vector<std::uint32_t> WindowPicture::capture(HWND window, int width, int height) {
  std::vector<std::uint32_t> pixels(size_t(width) * size_t(height), 0);
  // The window hands out its back buffer; native children are not in it, so each visible
  // one prints itself at its place.
  printInto(window, WM_PRINTCLIENT, PRF_CLIENT, width, height, 0, 0, pixels, width, height);
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!(GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE))
      continue;
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    if (r.right > r.left && r.bottom > r.top)
      printInto(child, WM_PRINT, PRF_CLIENT | PRF_NONCLIENT | PRF_ERASEBKGND | PRF_CHILDREN, r.right - r.left,
                r.bottom - r.top, r.left, r.top, pixels, width, height);
  }
  for (std::uint32_t& p : pixels) {
    const std::uint32_t rgb = p & 0xFFFFFF;
    p = rgb == QxGUISPWnd::kColourKey ? 0 : (rgb | 0xFF000000u);
  }
  return pixels;
}

bool WindowPicture::savePng(const std::vector<std::uint32_t>& pixels, int width, int height,
                            const std::wstring& path) {
  if (pixels.size() != size_t(width) * size_t(height))
    return false;
  ImageCache::instance();  // GDI+ runs while the cache lives
  std::vector<std::uint32_t> copy = pixels;
  Gdiplus::Bitmap bitmap(width, height, width * 4, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(copy.data()));
  CLSID png{};
  return pngEncoder(png) && bitmap.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
}
