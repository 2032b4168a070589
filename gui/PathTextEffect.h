#pragma once
// One line of text rendered as filled glyph outlines into an image of its own, the glyphs
// spaced by their ink width rather than their advance. UI thread only.
#include <memory>
#include <string>

#include "gui/GdiPlus.h"

class PathTextEffect {
public:
  PathTextEffect();
  ~PathTextEffect();
  PathTextEffect(const PathTextEffect&) = delete;
  PathTextEffect& operator=(const PathTextEffect&) = delete;

  // `family` is not owned and must outlive the effect; colour is 0xAARRGGBB. `zoom` draws
  // the glyphs for a device of that many times 96 dpi (width is the device's already).
  void setup(const Gdiplus::FontFamily* family, float width, Gdiplus::ARGB colour,
             const std::wstring& text, float extraSpacing, float zoom = 1.0f);
  // Null before the first setup.
  Gdiplus::Bitmap* image() const;
  // Bounds of the text path last rendered, in image pixels.
  Gdiplus::RectF textBounds() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
