#pragma once
// The last wizard page: the finish picture and the button that starts the installed game
// and ends the installer.
//
// Surface for the controller:
//   FinishPage(width, height)   built hidden by the caller (setVisible(false)); shown on
//                               the install manager's completion event.
//   The button "btnFinishInstall" is handled by the page itself: unless the install
//   manager has a window to notify, it starts "Vantor.exe" in the install path (the
//   command quoted, the install path as working folder), then posts the quit message
//   with code 0 to the thread.
// UI thread only.
#include <memory>

#include "gui/Panel.h"

class FinishPage : public Panel {
public:
  FinishPage(int width, int height);
  ~FinishPage() override;

private:
  struct Impl;
  std::unique_ptr<Impl> pageImpl_;
};
