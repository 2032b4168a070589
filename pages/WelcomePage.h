#pragma once
// The first wizard page: the character picture, the welcome headline, the one-key and
// custom install buttons and the licence agreement line.
//
// Surface for the controller:
//   WelcomePage(listener, width, height)  sends "btnOneKeyInstall" and "btnCustomInstall"
//                                         to `listener` (not owned).
//   The licence check box ("ckbUserLisence": unchecked disables both install buttons)
//   and the licence link ("linkUserLisence": opens the configured address) are handled
//   by the page itself. The check box becomes a child when the page is added to its
//   parent.
// UI thread only.
#include <memory>

#include "gui/Panel.h"

class QxActionListener;

class WelcomePage : public Panel {
public:
  WelcomePage(QxActionListener* listener, int width, int height);
  ~WelcomePage() override;

  // QxWidget
  void refresh() override;
  // Draws the headline over everything else on the page.
  void onPostPaint(HDC dc, int x, int y, int width, int height) override;

private:
  friend class WelcomePageTestApi;
  struct Impl;
  std::unique_ptr<Impl> pageImpl_;
};
