#include "gui/Window.h"

namespace simpleGUI {

Window::~Window() {
  if (hwnd_ && IsWindow(hwnd_)) {
    HWND hwnd = hwnd_;
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    if (IsWindow(hwnd)) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  }
  hwnd_ = nullptr;
}

LRESULT Window::windowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

bool Window::preTranslateMessage(MSG*) { return false; }

LRESULT CALLBACK Window::staticWindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                          LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* window = static_cast<Window*>(create->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, LONG_PTR(window));
    if (window) window->hwnd_ = hwnd;
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  auto* window = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!window) return DefWindowProcW(hwnd, message, wParam, lParam);
  LRESULT result = window->windowProc(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    // The handle is dead from here on; the object may outlive it.
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    if (window->hwnd_ == hwnd) window->hwnd_ = nullptr;
  }
  return result;
}

} // namespace simpleGUI
