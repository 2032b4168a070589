#include "script/SocketDelayResumer.h"

#include "gui/TimerTable.h"
#include "script/LuaScript.h"

SocketDelayResumer& SocketDelayResumer::instance() {
  // The timer table first, so that it outlives a pending resume at process exit.
  TimerTable::instance();
  static SocketDelayResumer resumer;
  return resumer;
}

SocketDelayResumer::SocketDelayResumer() { timer_.connect(this); }

void SocketDelayResumer::schedule(unsigned milliseconds) { timer_.start(milliseconds); }

void SocketDelayResumer::cancel() { timer_.stop(); }

bool SocketDelayResumer::isPending() const { return timer_.isActive(); }

void SocketDelayResumer::onEvent(const char*, const char*, EventArg, EventArg) {
  // Stopped first, so each schedule resumes once.
  timer_.stop();
  LuaScript::instance().resumeMainCoroutine();
}
