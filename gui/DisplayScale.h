#pragma once
// A window's dots per inch against the 96 its layout is written in. Widgets, pages,
// scripts and the skin keep 96-dpi coordinates; the native window converts at its edge:
// positions and sizes out to the device, mouse positions back in. Edges map one by one
// (never a width on its own), so items that touch at 96 dpi touch at every scale.
#include <windows.h>

class DisplayScale {
public:
  static constexpr int kLayoutDpi = 96;
  // From 150 % on, a branding's "@2x" pictures are the source of the scaled skin.
  static constexpr int kDoubleImageDpi = 144;

  // Per-monitor awareness (v2, else per-monitor, else system-wide) for a process whose
  // manifest was not honoured: before the first window. Loaded by name, since Windows
  // before 10 lacks the newer calls.
  static void declareAwareness();
  // The DPI of the monitor the window is on, as this process sees it; the system's where
  // the system knows no more.
  static int forWindow(HWND window);
  static int system();

  explicit DisplayScale(int dpi = kLayoutDpi) : dpi_(dpi < 24 ? kLayoutDpi : dpi) {}
  int dpi() const { return dpi_; }
  bool unscaled() const { return dpi_ == kLayoutDpi; }
  // A coordinate (or a size from 0) out to the device, rounded to the nearest pixel.
  int toDevice(int value) const { return MulDiv(value, dpi_, kLayoutDpi); }
  RECT toDevice(const RECT& r) const {
    return RECT{toDevice(r.left), toDevice(r.top), toDevice(r.right), toDevice(r.bottom)};
  }
  // A device size back to the layout, rounded: toLayout(toDevice(v)) == v from 96 dpi up.
  int toLayout(int value) const { return MulDiv(value, kLayoutDpi, dpi_); }
  // A device pixel back to the layout pixel it lies in.
  int pointToLayout(int value) const {
    const long long scaled = (long long)value * kLayoutDpi;
    return int(scaled >= 0 ? scaled / dpi_ : -((-scaled + dpi_ - 1) / dpi_));
  }

private:
  int dpi_;
};
