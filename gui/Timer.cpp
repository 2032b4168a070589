#include "gui/Timer.h"

#include <windows.h>

#include "gui/TimerTable.h"

namespace {

void CALLBACK timerProc(HWND, UINT, UINT_PTR id, DWORD) { TimerTable::tick(id); }

} // namespace

struct Timer::Impl {
  Timer* owner = nullptr;
  std::uintptr_t id = 0;
};

TimerTable& TimerTable::instance() {
  // Never destroyed: timers owned by other process-wide objects stop themselves during
  // static destruction, in whatever order that runs.
  static TimerTable* table = new TimerTable;
  return *table;
}

void TimerTable::insert(std::uintptr_t id, Timer* timer) { timers_[id] = timer; }

void TimerTable::erase(std::uintptr_t id) { timers_.erase(id); }

Timer* TimerTable::find(std::uintptr_t id) const {
  auto it = timers_.find(id);
  return it == timers_.end() ? nullptr : it->second;
}

size_t TimerTable::size() const { return timers_.size(); }

void TimerTable::tick(std::uintptr_t id) {
  Timer* timer = instance().find(id);
  if (timer) timer->raise("timeout", 0, 0);
}

Timer::Timer(std::string name) : Event(std::move(name)), timerImpl_(std::make_unique<Impl>()) {
  timerImpl_->owner = this;
}

Timer::~Timer() { stop(); }

void Timer::start(unsigned intervalMs) {
  stop();
  UINT_PTR id = SetTimer(nullptr, 0, intervalMs, timerProc);
  timerImpl_->id = id;
  if (id != 0) TimerTable::instance().insert(id, this);
}

void Timer::stop() {
  if (timerImpl_->id == 0) return;
  TimerTable::instance().erase(timerImpl_->id);
  KillTimer(nullptr, timerImpl_->id);
  timerImpl_->id = 0;
}

bool Timer::isActive() const {
  return timerImpl_->id != 0 && TimerTable::instance().find(timerImpl_->id) == this;
}

std::uintptr_t Timer::timerId() const { return timerImpl_->id; }
