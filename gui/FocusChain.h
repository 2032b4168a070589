#pragma once
// The widgets the keyboard reaches, in reading order: top to bottom by rows, left to
// right within a row. A widget is on the chain while it and all its ancestors are
// visible and it accepts the focus. UI thread only.
#include <vector>

class QxWidget;

class FocusChain {
public:
  static std::vector<QxWidget*> of(QxWidget* root);
  // The visible widgets that `wanted` picks, in the same order.
  static std::vector<QxWidget*> readingOrder(QxWidget* root, bool (*wanted)(QxWidget*));
  // The widget after (or before) `current`, wrapping around; the first (or last) when
  // `current` is not on the chain; null when the chain is empty.
  static QxWidget* step(QxWidget* root, QxWidget* current, bool backwards);
  // Whether the widget and every ancestor below the root are visible.
  static bool showing(const QxWidget* widget);
};
