#include "gui/AutoReleasePool.h"

#include "gui/QxWidget.h"
#include "gui/Timer.h"

AutoReleasePool& AutoReleasePool::instance() {
  static AutoReleasePool pool;
  return pool;
}

AutoReleasePool::AutoReleasePool() : timer_(std::make_unique<Timer>("timer")) { timer_->connect(this); }

// The pooled widgets are not deleted at process end: their windows and services may
// already be gone by then.
AutoReleasePool::~AutoReleasePool() = default;

void AutoReleasePool::add(QxWidget* widget) {
  pending_.push_back(widget);
  if (!timer_->isActive())
    timer_->start(0);
}

size_t AutoReleasePool::pendingCount() const { return pending_.size(); }

void AutoReleasePool::drain() {
  // Taken out first: a destructor may autorelease further widgets, for the next drain.
  std::vector<QxWidget*> pending;
  pending.swap(pending_);
  for (QxWidget* widget : pending) {
    if (widget->adjustRetainCount(-1) < 1) delete widget;
  }
  if (pending_.empty())
    timer_->stop();
}

void AutoReleasePool::onEvent(const char*, const char*, EventArg, EventArg) { drain(); }
