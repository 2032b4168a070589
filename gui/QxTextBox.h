#pragma once
// A single-line text input: a native EDIT control placed over the layered window (it is a
// real child window, so it does not follow the drawn widgets: it is shown and hidden with
// this widget), framed by drawn items. UI thread only.
#include <windows.h>

#include <memory>
#include <string>

#include "gui/QxWidget.h"

class QxTextBox : public QxWidget {
public:
  // Appends itself to `parent`, always at (131, 189), 312 by 26.
  QxTextBox(QxWidget* parent, const std::string& text);
  ~QxTextBox() override;

  // Both work on the edit control; without one they do nothing and read as empty.
  virtual void setText(const std::string& text);
  virtual std::string getText();

  // Null until the tree is attached to a window.
  HWND editWindow() const;

  // QxWidget
  void setBounds(int x, int y, int width, int height) override;
  void setVisible(bool visible) override;
  void refresh() override;
  bool onMouse(int type, int x, int y, unsigned keys) override;
  void onAttach(QxGUIServiceProvider* provider) override;
  bool acceptsFocus() override;
  // The edit control: its caret is the focus mark.
  HWND focusWindow() override;

private:
  struct Impl;
  std::unique_ptr<Impl> boxImpl_;
};
