#pragma once
// What a widget tree may ask of the native window hosting its root. UI thread only.
#include <cstdint>
#include <string>

#include "gui/QxWidget.h"

class QxGUIServiceProvider {
public:
  virtual ~QxGUIServiceProvider() = default;
  virtual void setRoot(QxWidget* widget) = 0;
  virtual void detachRoot() = 0;
  // Repaints the rectangle (window coordinates) at once, walking the tree from `widget`.
  virtual void invalidateRect(int x, int y, int width, int height, QxWidget* widget) = 0;
  // The same over the whole tree, for a widget that changes often over what lies under it
  // (a fade): what is painted before `layer` is kept from the last paint that reached it,
  // and only `layer` and what is painted after it are drawn again. The picture is the one
  // a full repaint makes.
  virtual void repaintAbove(int x, int y, int width, int height, QxWidget* layer) {
    invalidateRect(x, y, width, height, layer->root());
  }
  // Window coordinates in, screen coordinates out.
  virtual void clientToScreen(int& x, int& y) = 0;
  virtual void setWindowBounds(int x, int y, int width, int height) = 0;
  // False and 0 by 0 when the image does not exist.
  virtual bool getImageSize(const std::string& imageName, int& width, int& height) = 0;
  // 0xAABBGGRR; 0xFFFFFFFF for a missing image, 0xFF000000 for an unreadable pixel.
  virtual std::uint32_t getPixel(const std::string& imageName, int x, int y) = 0;
  virtual void showWindow(bool visible) = 0;
  // width and height come in as the layout limits and go out as the measured size.
  virtual void measureText(const std::string& text, const std::string& fontFace, int size,
                           bool bold, bool centred, bool singleLine, int& width,
                           int& height) = 0;
  // "arrow", "hand" or "ibeam"; anything else (or null) changes nothing.
  virtual void setCursor(const char* cursorName) = 0;
  virtual void setCapture(QxWidget* widget) = 0;
  virtual void releaseCapture() = 0;
  // The tree's focused widget changed from the first (may be null) to the second; the
  // window repaints both and tells assistive technology.
  virtual void focusChanged(QxWidget*, QxWidget*) {}
  // A widget's state, value or visibility changed (an EVENT_OBJECT_* code).
  virtual void accessibilityEvent(unsigned, QxWidget*) {}
  // Between true and false, repaints reach the screen together, in one copy: every copy
  // to a window costs far more than the drawing behind it.
  virtual void holdBlits(bool) {}
  // The window's dots per inch; the tree's coordinates are always at 96. Widgets that
  // draw into the device context themselves, or own native windows, scale by it.
  virtual int dpi() const { return 96; }
};
