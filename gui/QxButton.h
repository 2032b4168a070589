#pragma once
// An image button: its look is one frame of a horizontal strip chosen by its state, and a
// click (on release) goes to its action listener with its command. Derived controls
// (check box, hyperlink, text button) share the states and mouse rules. UI thread only.
#include <memory>
#include <string>

#include "gui/QxWidget.h"

class QxActionListener;

class QxButton : public QxWidget {
public:
  enum State : int { Normal = 0, Hover = 1, Pressed = 2, Disabled = 3 };

  // A strip of `frameCount` frames, each the button's own size; `imageName` may be null
  // (no strip).
  QxButton(std::string name, const char* imageName, int x, int y, int width, int height,
           int frameCount);
  ~QxButton() override;

  // The listener is not owned.
  virtual void setAction(const std::string& command, QxActionListener* listener);
  // Disabled (3) stays until a caller sets another state: no mouse rule leaves it.
  virtual void setState(int state);
  virtual void performClick();
  // On: a point hits only where the current frame's pixel is not fully transparent.
  virtual void setAlphaHitTest(bool enabled);
  // After a click the button is disabled for this many milliseconds (0: never).
  virtual void setMinClickInterval(int ms);
  // Alternates frames A and B every 600 ms until stopFlash (or a click, if asked).
  virtual void startFlash(int frameA, int frameB, bool stopOnClick);
  virtual void stopFlash();
  virtual void setText(const std::string& text);
  virtual std::string getText();
  // Off keeps Tab from stopping here (the frame's own buttons: Escape closes, the
  // taskbar minimises).
  void setTabStop(bool enabled);

  int state() const;
  bool isFlashing() const;
  const std::string& actionCommand() const;

  // QxWidget
  void paint() override;
  bool onMouse(int type, int x, int y, unsigned keys) override;
  bool hitTest(int x, int y) override;
  // Space and Enter press the button while down and click it on release, as a mouse
  // button does; a release whose press this button never saw is not a click.
  bool onKey(int type, WPARAM wParam, LPARAM lParam) override;
  void onFocusLost(QxWidget* newFocus) override;
  bool acceptsFocus() override;

protected:
  const std::string& imageName() const;
  int frameCount() const;
  // The host of this widget's tree, null while the tree has no window.
  QxGUIServiceProvider* host();

private:
  struct Impl;
  std::unique_ptr<Impl> buttonImpl_;
};
