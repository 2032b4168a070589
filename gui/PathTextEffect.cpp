#include "gui/PathTextEffect.h"

#include "gui/ImageCache.h"

struct PathTextEffect::Impl {
  std::unique_ptr<Gdiplus::Bitmap> image;
  bool enabled = false;
  std::wstring text;
  float width = 0.0f;
  float height = 0.0f;
  float startX = 0.0f;
  float layoutY = 0.0f;
  float scale = 1.0f;
  float spacingFactor = 0.0f;
  float extraSpacing = 0.0f;
  float emSize = 0.0f;
  INT style = Gdiplus::FontStyleRegular;
  const Gdiplus::FontFamily* family = nullptr;
  std::unique_ptr<Gdiplus::Brush> brush;
  Gdiplus::RectF bounds;

  void render() {
    if (!enabled) return;
    const INT w = INT(width + 0.5f) + 1, h = INT(height + 0.5f) + 1;
    if (!image || INT(image->GetWidth()) != w || INT(image->GetHeight()) != h)
      image = std::make_unique<Gdiplus::Bitmap>(w, h, PixelFormat32bppARGB);
    Gdiplus::Graphics g(image.get());
    g.Clear(Gdiplus::Color(0x00, 0xFF, 0xFF, 0xFF));
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    g.SetPageUnit(Gdiplus::UnitPixel);
    Gdiplus::GraphicsPath path(Gdiplus::FillModeWinding);
    Gdiplus::GraphicsPath glyph;
    // The default format, passed explicitly: not every GDI+ takes null for it.
    Gdiplus::StringFormat format;
    float x = startX;
    for (wchar_t c : text) {
      glyph.Reset();
      glyph.AddString(&c, 1, family, style, emSize, Gdiplus::PointF(x, layoutY), &format);
      Gdiplus::RectF ink;
      glyph.GetBounds(&ink);
      // Put the glyph's left ink edge at x; a glyph without ink adds only the spacing.
      Gdiplus::Matrix shift;
      shift.Translate(x - ink.X, 0.0f);
      glyph.Transform(&shift);
      path.AddPath(&glyph, FALSE);
      x += (spacingFactor + 1.0f) * ink.Width + extraSpacing;
    }
    if (scale != 1.0f) {
      Gdiplus::Matrix stretch;
      stretch.Scale(scale, 1.0f);
      path.Transform(&stretch);
    }
    path.GetBounds(&bounds);
    path.SetFillMode(Gdiplus::FillModeWinding);
    if (brush) {
      g.FillPath(brush.get(), &path);
    } else {
      Gdiplus::SolidBrush black(Gdiplus::Color(0xFF000000));
      g.FillPath(&black, &path);
    }
  }
};

PathTextEffect::PathTextEffect() : impl_(std::make_unique<Impl>()) {
  ImageCache::instance();  // starts GDI+
}

PathTextEffect::~PathTextEffect() = default;

void PathTextEffect::setup(const Gdiplus::FontFamily* family, float width, Gdiplus::ARGB colour,
                           const std::wstring& text, float extraSpacing, float zoom) {
  Impl& d = *impl_;
  d.enabled = false;
  d.text = text;
  d.family = family;
  d.emSize = 26.0f * zoom;
  d.style = Gdiplus::FontStyleRegular;
  d.width = width;
  d.height = 32.0f * zoom;
  d.startX = 0.0f;
  d.layoutY = 0.0f;
  d.scale = 1.0f;
  d.spacingFactor = 0.0f;
  d.extraSpacing = extraSpacing * zoom;
  d.brush = std::make_unique<Gdiplus::SolidBrush>(Gdiplus::Color(colour));
  d.enabled = true;
  d.render();
}

Gdiplus::Bitmap* PathTextEffect::image() const { return impl_->image.get(); }

Gdiplus::RectF PathTextEffect::textBounds() const { return impl_->bounds; }
