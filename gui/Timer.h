#pragma once
// A named periodic timer on a thread timer of the UI thread; each tick raises the timer's
// event with type "timeout", 0, 0. UI thread only.
#include <cstdint>
#include <memory>
#include <string>

#include "gui/Event.h"

class Timer : public Event {
public:
  explicit Timer(std::string name);
  ~Timer();

  // Restarts a running timer: the old system timer is killed, a new one is made.
  void start(unsigned intervalMs);
  void stop();
  bool isActive() const;
  // The system timer identifier, 0 when stopped.
  std::uintptr_t timerId() const;

private:
  struct Impl;
  std::unique_ptr<Impl> timerImpl_;
};
