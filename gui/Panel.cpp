#include "gui/Panel.h"

Panel::Panel(int y, int width, int height) : QxWidget("Panel") {
  setBounds(0, y, width, height);
}

Panel::~Panel() = default;

bool Panel::hitTest(int x, int y) { return childAt(x, y) != this; }
