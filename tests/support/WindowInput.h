#pragma once
// Mouse input to a test's window, sent synchronously as the system would send it, in the
// window's client coordinates.
#include <windows.h>

namespace qxtest {

inline LPARAM point(int x, int y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

inline void moveTo(HWND hwnd, int x, int y) { SendMessageA(hwnd, WM_MOUSEMOVE, 0, point(x, y)); }

// A press and release at (x, y), after moving there.
inline void click(HWND hwnd, int x, int y) {
  moveTo(hwnd, x, y);
  SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, point(x, y));
  SendMessageA(hwnd, WM_LBUTTONUP, 0, point(x, y));
}

} // namespace qxtest
