#pragma once
// A decoded image in 32-bit premultiplied ARGB, shared between the cache and drawings.
#include <memory>

#include "gui/GdiPlus.h"

struct LoadedPicture {
  std::unique_ptr<Gdiplus::Bitmap> bitmap;
  int width = 0;
  int height = 0;
  // The source format carried alpha: such pictures are blended, others copied.
  bool hasAlpha = false;
};
