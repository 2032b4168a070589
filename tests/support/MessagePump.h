#pragma once
// Bounded message pumping for tests with windows, timers or child processes on the test's
// own thread. A quit message is never dispatched: it is kept, so a test can see that the
// code under test asked the program to end, and with which code.
#include <windows.h>

namespace qxtest {

struct Pump {
  bool quit = false;
  int quitCode = -1;

  // Dispatches this thread's messages for `ms` milliseconds, bounded even when the queue
  // never runs dry (a loaded machine handles timer ticks slower than they come).
  void runFor(DWORD ms);
  // Dispatches one queued message, or waits a millisecond when there is none.
  void step();
  // Dispatches messages until `done()`; false when `timeoutMs` passed first. With
  // `kEachMessage` it looks after every single message: a queue that never runs dry still
  // shows each intermediate state.
  static constexpr bool kEachMessage = true;
  template <typename F>
  bool until(F done, DWORD timeoutMs, bool eachMessage = false) {
    const DWORD start = GetTickCount();
    while (!done()) {
      if (GetTickCount() - start > timeoutMs)
        return false;
      if (eachMessage)
        step();
      else
        runFor(5);
    }
    return true;
  }

  // Dispatches until every message posted before the call has been handled: proof that
  // they had their chance, where a test checks that they changed nothing.
  bool settle(DWORD timeoutMs = 10000);

private:
  void deliver(const MSG& msg);
};

// Throws away what is queued without dispatching it: a destroyed window's quit message
// must not end a later test's loop.
void dropQueued();

// For tests that do not care about quit messages.
inline void pump(DWORD ms) { Pump().runFor(ms); }
template <typename F>
bool pumpUntil(F done, DWORD timeoutMs) {
  return Pump().until(done, timeoutMs);
}
inline bool settle() { return Pump().settle(); }

} // namespace qxtest
