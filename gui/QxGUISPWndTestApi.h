#pragma once
// Test-only view of a window's back buffer.
#include <cstdint>

class QxGUISPWnd;

class QxGUISPWndTestApi {
public:
  // Allocated size of the back buffer; 0 by 0 before the first one.
  static void backBufferSize(const QxGUISPWnd& wnd, int& width, int& height);
  // Pixel as 0xAARRGGBB (the DIB's own layout); 0 outside the buffer.
  static std::uint32_t backBufferPixel(const QxGUISPWnd& wnd, int x, int y);
  // How many texts measureText has measured with a new font (cache misses).
  static int textMeasurements();
};
