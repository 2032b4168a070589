#pragma once
// Thin object wrapper of a native window of the "SimpleWindow" class: the class's window
// procedure finds the object through the window's user data. UI thread only.
#include <windows.h>

namespace simpleGUI {

class Window {
public:
  Window() = default;
  // Closes a window that still exists; only this base's windowProc answers by then, so
  // the window is destroyed and the quit message is posted.
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Base: WM_DESTROY posts the quit message (code 0); everything else is default.
  virtual LRESULT windowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual bool preTranslateMessage(MSG* msg);

  HWND hwnd() const { return hwnd_; }

  // The procedure of the "SimpleWindow" class.
  static LRESULT CALLBACK staticWindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                           LPARAM lParam);

protected:
  HWND hwnd_ = nullptr;
};

} // namespace simpleGUI
