#include "gui/TopLevelRegistry.h"

#include <windows.h>

#include <vector>

#include "gui/QxWidget.h"

namespace {

void CALLBACK purgeTick(HWND, UINT, UINT_PTR, DWORD) { TopLevelRegistry::instance().purge(); }

// The widget purge() is deleting right now; closing it again from its own destruction
// must not queue it a second time.
QxWidget* g_deleting = nullptr;

} // namespace

TopLevelRegistry& TopLevelRegistry::instance() {
  static TopLevelRegistry registry;
  return registry;
}

TopLevelRegistry::TopLevelRegistry() { timerId_ = SetTimer(nullptr, 0, 500, purgeTick); }

TopLevelRegistry::~TopLevelRegistry() {
  if (timerId_) KillTimer(nullptr, timerId_);
  timerId_ = 0;
  purge();
  destroyAll();
}

void TopLevelRegistry::adopt(std::int32_t key, QxWidget* widget) { groups_[key].insert(widget); }

void TopLevelRegistry::close(QxWidget* widget) {
  if (!widget || widget == g_deleting) return;
  widget->setVisible(false);
  for (auto& group : groups_) group.second.erase(widget);
  queue_.insert(widget);
}

void TopLevelRegistry::purge() {
  while (!queue_.empty()) {
    std::set<QxWidget*> queue;
    queue.swap(queue_);
    for (QxWidget* widget : queue) {
      g_deleting = widget;
      delete widget;
      g_deleting = nullptr;
    }
  }
}

void TopLevelRegistry::destroyAll() {
  std::map<std::int32_t, std::set<QxWidget*>> groups;
  groups.swap(groups_);
  for (auto& group : groups) {
    for (QxWidget* widget : group.second) {
      g_deleting = widget;
      delete widget;
      g_deleting = nullptr;
    }
  }
}

size_t TopLevelRegistry::queuedCount() const { return queue_.size(); }

bool TopLevelRegistry::isAdopted(const QxWidget* widget) const {
  for (const auto& group : groups_)
    if (group.second.count(const_cast<QxWidget*>(widget))) return true;
  return false;
}
