#pragma once
// Visitor of a widget tree walk (QxWidget::accept); the window's painter implements it.
struct DrawItem;
class QxWidget;

class QxWidgetVEIterator {
public:
  virtual ~QxWidgetVEIterator() = default;
  // False skips the widget's items, its children and leave().
  virtual bool enter(QxWidget* widget) = 0;
  virtual void leave(QxWidget* widget) = 0;
  // (x, y) is the widget's origin in window coordinates.
  virtual void visitItem(const DrawItem& item, int x, int y) = 0;
};
