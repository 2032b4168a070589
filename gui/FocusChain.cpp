#include "gui/FocusChain.h"

#include <algorithm>

#include "gui/QxWidget.h"

namespace {

struct Placed {
  QxWidget* widget;
  int left, top, bottom;
};

void collect(QxWidget* widget, bool (*wanted)(QxWidget*), std::vector<Placed>& out) {
  if (!widget->isVisible()) return;
  if (wanted(widget)) {
    const POINT at = widget->mapToRoot(0, 0);
    out.push_back(Placed{widget, int(at.x), int(at.y), int(at.y) + widget->height()});
  }
  for (int i = 0; i < widget->childCount(); ++i) collect(widget->child(i), wanted, out);
}

} // namespace

std::vector<QxWidget*> FocusChain::of(QxWidget* root) {
  return readingOrder(root, [](QxWidget* w) { return w->acceptsFocus(); });
}

std::vector<QxWidget*> FocusChain::readingOrder(QxWidget* root, bool (*wanted)(QxWidget*)) {
  std::vector<Placed> placed;
  // The root's own visibility is its window's: a window not yet shown still has an order.
  for (int i = 0; root && i < root->childCount(); ++i) collect(root->child(i), wanted, placed);
  const auto middle = [](const Placed& p) { return (p.top + p.bottom) / 2; };
  std::stable_sort(placed.begin(), placed.end(),
                   [&](const Placed& a, const Placed& b) { return middle(a) < middle(b); });
  // A row is every widget whose middle lies within the first one's height: a label and
  // its check box, or two buttons of slightly different heights, read left to right.
  std::vector<QxWidget*> chain;
  for (size_t start = 0; start < placed.size();) {
    size_t end = start + 1;
    while (end < placed.size() && middle(placed[end]) < placed[start].bottom) ++end;
    std::stable_sort(placed.begin() + long(start), placed.begin() + long(end),
                     [](const Placed& a, const Placed& b) { return a.left < b.left; });
    for (size_t i = start; i < end; ++i) chain.push_back(placed[i].widget);
    start = end;
  }
  return chain;
}

QxWidget* FocusChain::step(QxWidget* root, QxWidget* current, bool backwards) {
  const std::vector<QxWidget*> chain = of(root);
  if (chain.empty()) return nullptr;
  const auto at = std::find(chain.begin(), chain.end(), current);
  const long n = long(chain.size());
  if (at == chain.end()) return backwards ? chain.back() : chain.front();
  const long index = long(at - chain.begin());
  return chain[size_t(((backwards ? index - 1 : index + 1) + n) % n)];
}

bool FocusChain::showing(const QxWidget* widget) {
  if (!widget) return false;
  for (const QxWidget* w = widget; w->parent(); w = w->parent())
    if (!w->isVisible()) return false;
  return true;
}
