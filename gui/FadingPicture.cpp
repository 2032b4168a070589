#include "gui/FadingPicture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "gui/GdiPlus.h"
#include "gui/LoadedPicture.h"

FadingPicture::~FadingPicture() { release(); }

void FadingPicture::release() {
  if (dc_) {
    SelectObject(dc_, previous_);
    DeleteDC(dc_);
  }
  if (bitmap_)
    DeleteObject(bitmap_);
  dc_ = nullptr;
  bitmap_ = nullptr;
  previous_ = nullptr;
  key_.clear();
}

bool FadingPicture::hold(const std::string& key, const LoadedPicture& picture) {
  if (dc_ && key == key_)
    return true;
  release();
  if (!picture.bitmap || picture.width <= 0 || picture.height <= 0)
    return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = -picture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (!bitmap || !pixels) {
    if (bitmap)
      DeleteObject(bitmap);
    return false;
  }
  // The blend wants premultiplied pixels, which is what the cache decodes to.
  Gdiplus::BitmapData data{};
  Gdiplus::Rect whole(0, 0, picture.width, picture.height);
  if (picture.bitmap->LockBits(&whole, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &data) !=
      Gdiplus::Ok) {
    DeleteObject(bitmap);
    return false;
  }
  const size_t row = size_t(picture.width) * 4;
  for (int y = 0; y < picture.height; ++y)
    std::memcpy(static_cast<char*>(pixels) + row * y, static_cast<const char*>(data.Scan0) + data.Stride * y,
                row);
  picture.bitmap->UnlockBits(&data);
  dc_ = CreateCompatibleDC(nullptr);
  if (!dc_) {
    DeleteObject(bitmap);
    return false;
  }
  bitmap_ = bitmap;
  previous_ = SelectObject(dc_, bitmap_);
  key_ = key;
  return true;
}

bool FadingPicture::draw(HDC dc, const RECT& target, int sourceX, int sourceY, float strength) const {
  const int width = target.right - target.left;
  const int height = target.bottom - target.top;
  const int level = static_cast<int>(std::lround(std::clamp(strength, 0.0f, 1.0f) * 255.0f));
  if (!dc_ || width <= 0 || height <= 0 || level == 0)
    return false;
  BLENDFUNCTION blend{AC_SRC_OVER, 0, static_cast<BYTE>(level), AC_SRC_ALPHA};
  return GdiAlphaBlend(dc, target.left, target.top, width, height, dc_, sourceX, sourceY, width, height,
                       blend) != FALSE;
}
