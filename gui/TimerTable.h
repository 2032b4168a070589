#pragma once
// Process-wide map from system timer identifier to the running Timer; a tick whose
// identifier is not here (stopped or destroyed after it was queued) is dropped.
// UI thread only.
#include <cstdint>
#include <map>

class Timer;

class TimerTable {
public:
  static TimerTable& instance();

  void insert(std::uintptr_t id, Timer* timer);
  void erase(std::uintptr_t id);
  Timer* find(std::uintptr_t id) const;
  size_t size() const;

  // Delivers one tick for `id`; what the system's timer callback calls.
  static void tick(std::uintptr_t id);

private:
  TimerTable() = default;
  std::map<std::uintptr_t, Timer*> timers_;
};
