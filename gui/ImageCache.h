#pragma once
// Process-wide cache of the branding's image resources (type 1056, see ResourceModule), each decoded once with
// GDI+; a missing image is remembered as missing. Its creation starts GDI+ and its
// destruction shuts it down. UI thread only.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "gui/LoadedPicture.h"

class ImageCache {
public:
  static constexpr int kResourceType = 1056;

  static ImageCache& instance();
  ~ImageCache();
  ImageCache(const ImageCache&) = delete;
  ImageCache& operator=(const ImageCache&) = delete;

  // Empty for a missing or undecodable image.
  std::shared_ptr<LoadedPicture> getPicture(const std::string& name);
  // The picture for a window at `dpi`: its 96-dpi size times dpi / 96, resampled once with
  // high-quality interpolation, from the branding's "@2x" picture (same name, "@2X" before
  // the extension) from 150 % on when that one is exactly twice the size.
  std::shared_ptr<LoadedPicture> getPicture(const std::string& name, int dpi);
  // "RES/BG.JPG" -> "RES/BG@2X.JPG".
  static std::string doubleSizeName(const std::string& name);
  bool getImageSize(const std::string& name, int& width, int& height);
  // 0xAABBGGRR; 0xFFFFFFFF when the image is missing, 0xFF000000 when the pixel cannot be
  // read.
  std::uint32_t getPixel(const std::string& name, int x, int y);
  void drawImage(Gdiplus::Graphics& graphics, const std::string& name, int x, int y);
  // Draws only the part of the source inside the picture, at the proportionally reduced
  // destination; the source is the picture for `dpi`, in its own pixels.
  void drawImageSection(Gdiplus::Graphics& graphics, const std::string& name, int dstX,
                        int dstY, int dstWidth, int dstHeight, int srcX, int srcY,
                        int srcWidth, int srcHeight, int dpi = 96);

  // Image bytes decoded as the cache decodes its resources; null when GDI+ cannot read
  // them. Nothing is cached.
  std::shared_ptr<LoadedPicture> decode(const char* data, size_t size);

  // How many resources were decoded so far.
  int decodeCount() const { return decodes_; }

private:
  ImageCache();
  std::map<std::string, std::shared_ptr<LoadedPicture>> pictures_;
  ULONG_PTR token_ = 0;
  int decodes_ = 0;
};
