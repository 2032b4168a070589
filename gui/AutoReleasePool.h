#pragma once
// Keeps widgets handed over with QxWidget::autorelease until the pool is drained: by its
// own timer, which runs while the pool holds anything, so a widget released during an
// event goes once that event is over. UI thread only.
#include <memory>
#include <vector>

#include "gui/EventListener.h"

class QxWidget;
class Timer;

class AutoReleasePool : public EventListener {
public:
  static AutoReleasePool& instance();
  ~AutoReleasePool() override;

  void add(QxWidget* widget);
  size_t pendingCount() const;
  // Deletes each pooled widget whose retain count drops below 1, then empties the pool.
  void drain();

  // EventListener
  void onEvent(const char* eventName, const char* type, EventArg arg1, EventArg arg2) override;

private:
  AutoReleasePool();
  std::unique_ptr<Timer> timer_;
  std::vector<QxWidget*> pending_;
};
