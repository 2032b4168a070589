#pragma once
// A widget the mouse passes through, to its parent and to the widgets below it (the
// frame's border overlay). UI thread only.
#include <string>

#include "gui/QxWidget.h"

class NoMouseWidget : public QxWidget {
public:
  explicit NoMouseWidget(std::string name);

  // QxWidget
  bool hitTest(int x, int y) override;
};
