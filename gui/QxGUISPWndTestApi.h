#pragma once
// Test-only view of a window's back buffer.
#include <cstdint>

class QxGUISPWnd;

class QxGUISPWndTestApi {
public:
  // Pixel as 0xAARRGGBB (the DIB's own layout); 0 outside the buffer.
  static std::uint32_t backBufferPixel(const QxGUISPWnd& wnd, int x, int y);
  // How many texts measureText has measured with a new font (cache misses).
  static int textMeasurements();
};
