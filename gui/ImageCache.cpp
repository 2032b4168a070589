#include "gui/ImageCache.h"

#include <algorithm>
#include <string>
#include <vector>

#include "gui/DisplayScale.h"
#include "gui/ResourceModule.h"

namespace {

// Quality settings by scale: unscaled draws switch smoothing off, only shrinking pays for
// bicubic filtering, opaque pictures overwrite instead of blending.
void drawPicture(Gdiplus::Graphics& g, const LoadedPicture& picture, int dstX, int dstY,
                 int dstWidth, int dstHeight, int srcX, int srcY, int srcWidth, int srcHeight) {
  g.SetCompositingMode(picture.hasAlpha ? Gdiplus::CompositingModeSourceOver
                                        : Gdiplus::CompositingModeSourceCopy);
  if (dstWidth == srcWidth && dstHeight == srcHeight) {
    g.SetInterpolationMode(Gdiplus::InterpolationModeDefault);
    g.SetSmoothingMode(Gdiplus::SmoothingModeNone);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeNone);
    g.SetCompositingQuality(Gdiplus::CompositingQualityHighSpeed);
  } else if (dstWidth < srcWidth || dstHeight < srcHeight) {
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    g.SetSmoothingMode(Gdiplus::SmoothingModeDefault);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeDefault);
    g.SetCompositingQuality(Gdiplus::CompositingQualityDefault);
  } else {
    g.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
    g.SetSmoothingMode(Gdiplus::SmoothingModeHighSpeed);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    g.SetCompositingQuality(Gdiplus::CompositingQualityHighSpeed);
  }
  g.DrawImage(picture.bitmap.get(), Gdiplus::Rect(dstX, dstY, dstWidth, dstHeight), srcX, srcY,
              srcWidth, srcHeight, Gdiplus::UnitPixel);
}

// The resource's bytes, or empty when the module carries no such image.
std::vector<char> loadResource(const std::string& name) {
  HMODULE module = ResourceModule::get();
  HRSRC info = FindResourceA(module, name.c_str(), MAKEINTRESOURCEA(ImageCache::kResourceType));
  if (!info) return {};
  HGLOBAL data = LoadResource(module, info);
  DWORD size = SizeofResource(module, info);
  const char* bytes = data ? static_cast<const char*>(LockResource(data)) : nullptr;
  if (!bytes || size == 0) return {};
  return std::vector<char>(bytes, bytes + size);
}

std::shared_ptr<LoadedPicture> decodePicture(const char* data, size_t size) {
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return nullptr;
  ULONG written = 0;
  HRESULT hr = stream->Write(data, ULONG(size), &written);
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  std::shared_ptr<LoadedPicture> picture;
  if (SUCCEEDED(hr) && written == size) {
    Gdiplus::Bitmap source(stream);
    if (source.GetLastStatus() == Gdiplus::Ok) {
      const int width = int(source.GetWidth()), height = int(source.GetHeight());
      const Gdiplus::PixelFormat format = source.GetPixelFormat();
      auto made = std::make_shared<LoadedPicture>();
      made->bitmap = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppPARGB);
      made->width = width;
      made->height = height;
      made->hasAlpha = (format & (PixelFormatAlpha | PixelFormatPAlpha)) != 0;
      if (width > 0 && height > 0 && made->bitmap->GetLastStatus() == Gdiplus::Ok) {
        Gdiplus::Graphics g(made->bitmap.get());
        g.Clear(Gdiplus::Color(0x00, 0xFF, 0xFF, 0xFF));
        g.SetPageUnit(Gdiplus::UnitPixel);
        g.DrawImage(&source, Gdiplus::Rect(0, 0, width, height), 0, 0, width, height,
                    Gdiplus::UnitPixel);
        picture = std::move(made);
      }
    }
  }
  stream->Release();
  return picture;
}

// `source` resampled to width by height. The edges mirror the picture instead of fading
// into transparency, so a scaled background has no dark rim.
std::shared_ptr<LoadedPicture> resample(const LoadedPicture& source, int width, int height,
                                        bool hasAlpha) {
  auto made = std::make_shared<LoadedPicture>();
  made->bitmap = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppPARGB);
  made->width = width;
  made->height = height;
  made->hasAlpha = hasAlpha;
  if (width <= 0 || height <= 0 || made->bitmap->GetLastStatus() != Gdiplus::Ok) return nullptr;
  Gdiplus::Graphics g(made->bitmap.get());
  g.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
  g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
  Gdiplus::ImageAttributes edges;
  edges.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
  g.DrawImage(source.bitmap.get(), Gdiplus::Rect(0, 0, width, height), 0, 0, source.width,
              source.height, Gdiplus::UnitPixel, &edges);
  return made;
}

} // namespace

std::string ImageCache::doubleSizeName(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  const size_t slash = name.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + "@2X";
  return name.substr(0, dot) + "@2X" + name.substr(dot);
}

std::shared_ptr<LoadedPicture> ImageCache::getPicture(const std::string& name, int dpi) {
  const DisplayScale scale(dpi);
  if (scale.unscaled()) return getPicture(name);
  const std::string key = name + '#' + std::to_string(scale.dpi());
  auto it = pictures_.find(key);
  if (it != pictures_.end()) return it->second;
  std::shared_ptr<LoadedPicture> base = getPicture(name);
  std::shared_ptr<LoadedPicture> scaled;
  if (base) {
    std::shared_ptr<LoadedPicture> source = base;
    if (scale.dpi() >= DisplayScale::kDoubleImageDpi) {
      std::shared_ptr<LoadedPicture> twice = getPicture(doubleSizeName(name));
      if (twice && twice->width == 2 * base->width && twice->height == 2 * base->height)
        source = twice;
    }
    scaled = resample(*source, scale.toDevice(base->width), scale.toDevice(base->height),
                      base->hasAlpha);
  }
  pictures_[key] = scaled;
  return scaled;
}

ImageCache& ImageCache::instance() {
  static ImageCache cache;
  return cache;
}

ImageCache::ImageCache() {
  Gdiplus::GdiplusStartupInput input;
  Gdiplus::GdiplusStartup(&token_, &input, nullptr);
}

std::shared_ptr<LoadedPicture> ImageCache::decode(const char* data, size_t size) {
  return size ? decodePicture(data, size) : nullptr;
}

ImageCache::~ImageCache() {
  pictures_.clear();
  if (token_) Gdiplus::GdiplusShutdown(token_);
}

std::shared_ptr<LoadedPicture> ImageCache::getPicture(const std::string& name) {
  auto it = pictures_.find(name);
  if (it != pictures_.end()) return it->second;
  // Data GDI+ cannot decode counts as missing too, so it is not decoded again per paint.
  std::vector<char> bytes = loadResource(name);
  std::shared_ptr<LoadedPicture> picture = bytes.empty() ? nullptr : decode(bytes.data(), bytes.size());
  if (picture) ++decodes_;
  pictures_[name] = picture;
  return picture;
}

bool ImageCache::getImageSize(const std::string& name, int& width, int& height) {
  std::shared_ptr<LoadedPicture> picture = getPicture(name);
  width = picture ? picture->width : 0;
  height = picture ? picture->height : 0;
  return picture != nullptr;
}

std::uint32_t ImageCache::getPixel(const std::string& name, int x, int y) {
  std::shared_ptr<LoadedPicture> picture = getPicture(name);
  if (!picture) return 0xFFFFFFFFu;
  Gdiplus::Color colour;
  if (x < 0 || y < 0 || x >= picture->width || y >= picture->height ||
      picture->bitmap->GetPixel(x, y, &colour) != Gdiplus::Ok)
    return 0xFF000000u;
  const std::uint32_t argb = colour.GetValue();
  return (argb & 0xFF00FF00u) | ((argb >> 16) & 0xFFu) | ((argb & 0xFFu) << 16);
}

void ImageCache::drawImage(Gdiplus::Graphics& graphics, const std::string& name, int x, int y) {
  std::shared_ptr<LoadedPicture> picture = getPicture(name);
  if (!picture) return;
  drawPicture(graphics, *picture, x, y, picture->width, picture->height, 0, 0, picture->width,
              picture->height);
}

void ImageCache::drawImageSection(Gdiplus::Graphics& graphics, const std::string& name,
                                  int dstX, int dstY, int dstWidth, int dstHeight, int srcX,
                                  int srcY, int srcWidth, int srcHeight, int dpi) {
  std::shared_ptr<LoadedPicture> picture = getPicture(name, dpi);
  if (!picture || srcWidth <= 0 || srcHeight <= 0) return;
  const int clipLeft = std::max(srcX, 0), clipTop = std::max(srcY, 0);
  const int clipRight = std::min(srcX + srcWidth, picture->width);
  const int clipBottom = std::min(srcY + srcHeight, picture->height);
  if (clipRight <= clipLeft || clipBottom <= clipTop) return;
  const int clipWidth = clipRight - clipLeft, clipHeight = clipBottom - clipTop;
  if (clipLeft == srcX && clipTop == srcY && clipWidth == srcWidth && clipHeight == srcHeight) {
    drawPicture(graphics, *picture, dstX, dstY, dstWidth, dstHeight, srcX, srcY, srcWidth,
                srcHeight);
    return;
  }
  const int x = dstX + (clipLeft - srcX) * dstWidth / srcWidth;
  const int y = dstY + (clipTop - srcY) * dstHeight / srcHeight;
  const int w = clipWidth * dstWidth / srcWidth;
  const int h = clipHeight * dstHeight / srcHeight;
  drawPicture(graphics, *picture, x, y, w, h, clipLeft, clipTop, clipWidth, clipHeight);
}
