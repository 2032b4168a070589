#pragma once
// The native top-level window hosting one widget tree: a borderless layered popup with a
// magenta colour key, an off-screen 32-bit back buffer of the whole window repainted by
// dirty rectangle, and the translation of window messages into widget calls. The tree is
// laid out at 96 dpi; the window is the tree scaled by its monitor's DPI.
// UI thread only.
#include <windows.h>

#include <memory>

#include "gui/QxGUIServiceProvider.h"
#include "gui/Window.h"

class QxWidget;

class QxGUISPWnd : public simpleGUI::Window, public QxGUIServiceProvider {
public:
  // Pixels painted exactly this colour are transparent and let the mouse through.
  static constexpr COLORREF kColourKey = 0xFF00FF;

  QxGUISPWnd(HWND parentWindow, QxWidget* rootWidget, bool resizable, bool maximized,
             bool appWindow, bool noActivate);
  ~QxGUISPWnd() override;

  // 18 by 18 pixel rounded corners.
  void setRoundCorners();
  // Made on first use; owned by the window.
  HWND tooltipWindow();
  QxWidget* root() const;
  // Draws the window for `dpi` from now on (a window shown elsewhere than on a monitor,
  // such as a preview); the monitor's own changes arrive by themselves.
  void setDpi(int dpi);

  // simpleGUI::Window
  LRESULT windowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool preTranslateMessage(MSG* msg) override;

  // QxGUIServiceProvider
  void setRoot(QxWidget* widget) override;
  void detachRoot() override;
  void invalidateRect(int x, int y, int width, int height, QxWidget* widget) override;
  void repaintAbove(int x, int y, int width, int height, QxWidget* layer) override;
  void clientToScreen(int& x, int& y) override;
  void setWindowBounds(int x, int y, int width, int height) override;
  bool getImageSize(const std::string& imageName, int& width, int& height) override;
  std::uint32_t getPixel(const std::string& imageName, int x, int y) override;
  void showWindow(bool visible) override;
  void measureText(const std::string& text, const std::string& fontFace, int size, bool bold,
                   bool centred, bool singleLine, int& width, int& height) override;
  void setCursor(const char* cursorName) override;
  void setCapture(QxWidget* widget) override;
  void releaseCapture() override;
  void focusChanged(QxWidget* from, QxWidget* to) override;
  void accessibilityEvent(unsigned event, QxWidget* widget) override;
  void holdBlits(bool hold) override;
  int dpi() const override;

private:
  friend class QxGUISPWndTestApi;
  // Draws the tree from `widget` into the back buffer inside the rectangle and copies it to
  // the window; with `above`, from the kept picture of what lies under it.
  void paint(int x, int y, int width, int height, QxWidget* widget, QxWidget* above);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
