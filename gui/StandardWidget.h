#pragma once
// The skinned main frame: a 660 by 480 window with background picture, border overlay,
// minimise and close buttons, a caption drag area over the top 140 pixels where no child
// lies, resize-border hit testing and an exit confirmation. UI thread only.
#include <windows.h>

#include <memory>
#include <string>

#include "gui/QxPopUp.h"

class QxButton;
class QxGUISPWnd;

class StandardWidget : public QxPopUp {
public:
  // Placed centred on the screen, each further frame 28, 25 from the previous one.
  explicit StandardWidget(const std::string& title);
  ~StandardWidget() override;

  // Makes the native window (replacing an earlier one).
  void createWindow();
  std::string title() const;
  // While disabled neither the close button nor the system's close gesture ends the
  // window, and nothing is asked.
  void setCloseEnabled(bool enabled);
  // Null before createWindow.
  QxGUISPWnd* window() const;
  HWND hwnd() const;
  QxButton* minimizeButton() const;
  QxButton* closeButton() const;

  // Asks "真的要退出安装吗？" and closes the window on OK.
  virtual void requestClose();
  virtual bool isMaximized();
  virtual bool isMinimized();
  virtual void paintBackground();

  // QxPopUp
  void show() override;

  // QxWidget
  void paint() override;
  bool dispatchMouse(int type, int x, int y, unsigned keys) override;
  bool onMouse(int type, int x, int y, unsigned keys) override;
  int windowHitTest(int x, int y) override;
  bool onClose() override;
  LRESULT onWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
  // Escape, in the frame or in a child window such as the path box, is the close button.
  bool preTranslateMessage(MSG* msg) override;

private:
  struct Impl;
  std::unique_ptr<Impl> frameImpl_;
  bool isBorderCursorQuery(int type, int x, int y);
};
