#include "gui/NoMouseWidget.h"

NoMouseWidget::NoMouseWidget(std::string name) : QxWidget(std::move(name)) {}

bool NoMouseWidget::hitTest(int, int) { return false; }
