#include "gui/DrawItemRenderer.h"

#include "gui/DisplayScale.h"
#include "gui/DrawItem.h"
#include "gui/GbkText.h"
#include "gui/HighContrast.h"
#include "gui/ImageCache.h"

namespace {

RECT intersect(const RECT& a, const RECT& b) {
  RECT r{};
  if (!IntersectRect(&r, &a, &b)) return RECT{};
  return r;
}

bool isEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

// The item's rectangle in device pixels.
RECT deviceRect(const DrawItem& item, int ox, int oy, int width, int height,
                const DisplayScale& scale) {
  return scale.toDevice(RECT{item.x + ox, item.y + oy, item.x + ox + width, item.y + oy + height});
}

void renderImage(HDC dc, const DrawItem& item, int ox, int oy, const RECT& dirty,
                 const DisplayScale& scale) {
  ImageCache& cache = ImageCache::instance();
  int pw = 0, ph = 0;
  if (!cache.getImageSize(item.name, pw, ph)) return;
  const RECT r = deviceRect(item, ox, oy, pw, ph, scale);
  const RECT i = intersect(r, dirty);
  if (isEmpty(i)) return;
  Gdiplus::Graphics g(dc);
  if (EqualRect(&i, &r) && scale.unscaled()) {
    cache.drawImage(g, item.name, r.left, r.top);
  } else {
    // The scaled copy is exactly the rectangle's size: drawn 1:1.
    const int w = i.right - i.left, h = i.bottom - i.top;
    cache.drawImageSection(g, item.name, i.left, i.top, w, h, i.left - r.left, i.top - r.top, w,
                           h, scale.dpi());
  }
}

void renderSection(HDC dc, const DrawItem& item, int ox, int oy, const RECT& dirty,
                   const DisplayScale& scale) {
  const RECT r = deviceRect(item, ox, oy, item.width, item.height, scale);
  const RECT i = intersect(r, dirty);
  if (isEmpty(i)) return;
  const int width = r.right - r.left, height = r.bottom - r.top;
  // The section's edges in the scaled copy map as every other edge does.
  const int srcX = scale.toDevice(item.srcX), srcY = scale.toDevice(item.srcY);
  const int srcWidth = scale.toDevice(item.srcX + item.srcWidth) - srcX;
  const int srcHeight = scale.toDevice(item.srcY + item.srcHeight) - srcY;
  if (width <= 0 || height <= 0 || srcWidth <= 0 || srcHeight <= 0) return;
  const int iw = i.right - i.left, ih = i.bottom - i.top;
  const int sx = (i.left - r.left) * srcWidth / width + srcX;
  const int sy = (i.top - r.top) * srcHeight / height + srcY;
  // A visible sliver may map to less than one source pixel; it still draws one.
  int sw = srcWidth * iw / width;
  int sh = srcHeight * ih / height;
  if (sw == 0) sw = 1;
  if (sh == 0) sh = 1;
  Gdiplus::Graphics g(dc);
  ImageCache::instance().drawImageSection(g, item.name, i.left, i.top, iw, ih, sx, sy, sw, sh,
                                          scale.dpi());
}

void renderFill(HDC dc, const DrawItem& item, int ox, int oy, const RECT& dirty,
                const DisplayScale& scale) {
  const RECT r = deviceRect(item, ox, oy, item.width, item.height, scale);
  const RECT i = intersect(r, dirty);
  if (isEmpty(i)) return;
  HGDIOBJ previous = SelectObject(dc, GetStockObject(DC_BRUSH));
  SetDCBrushColor(dc, item.colour);
  FillRect(dc, &i, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  SelectObject(dc, previous);
}

void renderText(HDC dc, const DrawItem& item, int ox, int oy, const RECT& dirty,
                const DisplayScale& scale) {
  RECT r = deviceRect(item, ox, oy, item.width, item.height, scale);
  if (isEmpty(intersect(r, dirty))) return;
  // The glyphs are rasterised at the device's size, not drawn at 96 dpi and stretched.
  HFONT font = CreateFontW(scale.toDevice(item.size), 0, 0, 0, item.bold ? FW_BOLD : FW_NORMAL, FALSE,
                           item.underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                           VARIABLE_PITCH, gbkToWide(item.face).c_str());
  UINT format = DT_END_ELLIPSIS;
  switch (item.vAlign) {
  case DrawItem::AlignMiddle: format |= DT_SINGLELINE | DT_WORDBREAK | DT_VCENTER; break;
  case DrawItem::AlignBottom: format |= DT_EDITCONTROL | DT_WORDBREAK | DT_BOTTOM; break;
  default: format |= DT_EDITCONTROL | DT_WORDBREAK; break;
  }
  switch (item.hAlign) {
  case DrawItem::AlignCentre: format |= DT_CENTER; break;
  case DrawItem::AlignRight: format |= DT_RIGHT; break;
  default: format |= DT_LEFT; break;
  }
  HGDIOBJ previous = SelectObject(dc, font);
  if (HighContrast::on()) {
    // Whatever the skin's colours, the words stand on the system's own background.
    SetTextColor(dc, HighContrast::textColour());
    SetBkColor(dc, HighContrast::backgroundColour());
    SetBkMode(dc, OPAQUE);
  } else {
    SetTextColor(dc, item.colour);
    SetBkMode(dc, TRANSPARENT);
  }
  const std::wstring text = gbkToWide(item.name);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, format);
  SelectObject(dc, previous);
  DeleteObject(font);
}

} // namespace

void DrawItemRenderer::render(HDC dc, const DrawItem& item, int originX, int originY,
                              const RECT& dirty, const DisplayScale& scale) {
  switch (item.kind) {
  case DrawItem::Image: renderImage(dc, item, originX, originY, dirty, scale); break;
  case DrawItem::ImageSection: renderSection(dc, item, originX, originY, dirty, scale); break;
  case DrawItem::Fill: renderFill(dc, item, originX, originY, dirty, scale); break;
  case DrawItem::Text: renderText(dc, item, originX, originY, dirty, scale); break;
  default: break;
  }
}
