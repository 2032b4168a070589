#pragma once
// Resumes the update script's main coroutine once after a delay, on the UI thread: the
// script's pacing between steps. One per process, created on first use. UI thread only.
#include "gui/EventListener.h"
#include "gui/Timer.h"

class SocketDelayResumer : public EventListener {
public:
  static SocketDelayResumer& instance();

  // Replaces any pending resume: only one is ever pending.
  void schedule(unsigned milliseconds);
  void cancel();
  bool isPending() const;

  // EventListener
  void onEvent(const char* eventName, const char* type, EventArg arg1, EventArg arg2) override;

private:
  SocketDelayResumer();
  Timer timer_{"timer"};
};
