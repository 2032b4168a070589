#pragma once
// What assistive technology learns of a hosted widget tree: the IAccessible of the
// window's client area, whose children are the visible buttons, check boxes, link, path
// box, progress bar, texts and named pictures in reading order, and the win events that
// announce focus, state, value and visibility changes. oleacc.dll and oleaut32.dll are
// loaded from the system folder on first use: the program imports neither. UI thread only.
#include <windows.h>

#include <memory>

class QxWidget;

class AccessibleFrame {
public:
  // Posted to the window to carry out a default action a client asked for: clients are
  // answered at once, and a click that opens a message box does not hold them.
  static constexpr UINT kActionMessage = 0x16B3;

  AccessibleFrame(HWND window, QxWidget* root);
  // Clients still holding the object get errors from then on.
  ~AccessibleFrame();
  AccessibleFrame(const AccessibleFrame&) = delete;
  AccessibleFrame& operator=(const AccessibleFrame&) = delete;

  void setRoot(QxWidget* root);
  // The answer to WM_GETOBJECT; 0 for objects other than the client area.
  LRESULT answer(WPARAM wParam, LPARAM lParam);
  // Raises `event` (EVENT_OBJECT_*) for the widget, or for the client area when the
  // widget is not one of its children.
  void notify(DWORD event, QxWidget* widget);
  // The message kActionMessage.
  void carryOut(LPARAM token);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
