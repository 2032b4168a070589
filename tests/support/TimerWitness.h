#pragma once
// Proof that the program's timers had their chance, for checks that something did NOT
// happen: a timer of the test's own, started now, ticking `ticks` times.
#include "gui/Timer.h"
#include "tests/support/MessagePump.h"

namespace qxtest {

inline bool waitForTicks(Pump& pump, unsigned periodMs, int ticks = 1) {
  struct Count : EventListener {
    int seen = 0;
    void onEvent(const char*, const char*, EventArg, EventArg) override { ++seen; }
  } count;
  Timer timer("witnessTimer");
  timer.connect(&count);
  timer.start(periodMs);
  return pump.until([&] { return count.seen >= ticks; }, 10000 + periodMs * unsigned(ticks));
}

inline bool waitForTicks(unsigned periodMs, int ticks = 1) {
  Pump pump;
  return waitForTicks(pump, periodMs, ticks);
}

} // namespace qxtest
