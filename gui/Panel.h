#pragma once
// A container that is transparent to the mouse except where one of its visible,
// hit-testable children lies; every wizard page is one. UI thread only.
#include "gui/QxWidget.h"

class Panel : public QxWidget {
public:
  // Placed at (0, y); a panel has no window of its own.
  Panel(int y, int width, int height);
  ~Panel() override;

  // QxWidget
  bool hitTest(int x, int y) override;
};
