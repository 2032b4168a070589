// Named timers on thread timers: restart, stop, ticks queued before a stop, and the pool
// drained on its timer. (Ticks raising "timeout" under the timer's name, again and again,
// are InstallPageTest's carousel's; a listener deleting its timer during the tick is
// EventTest.EventDestroyedByItsOwnListenerEndsTheRaise's, the deleted timer's silence
// TickQueuedBeforeStopOrDestructionIsIgnored's.)
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "gui/AutoReleasePool.h"
#include "gui/QxWidget.h"
#include "gui/Timer.h"
#include "gui/TimerTable.h"
#include "tests/support/MessagePump.h"

using qxtest::pumpUntil;

namespace {

struct Counter : EventListener {
  void onEvent(const char*, const char*, EventArg, EventArg) override { ++calls; }
  int calls = 0;
};

// Takes the next tick out of the queue without delivering it (nothing else is pumped).
bool takeTick(MSG& msg, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(1);
  }
  return true;
}

} // namespace

TEST(TimerTest, RestartKeepsOnlyTheSecondSystemTimer) {
  const size_t before = TimerTable::instance().size();
  Timer timer("carouselTimer");
  timer.start(50);
  const std::uintptr_t first = timer.timerId();
  timer.start(20);
  ASSERT_NE(timer.timerId(), 0u);
  EXPECT_EQ(TimerTable::instance().size(), before + 1);
  EXPECT_EQ(TimerTable::instance().find(timer.timerId()), &timer);
  // The first system timer is gone, whatever identifier the second one got: it was
  // killed before the second was made, so killing it again fails unless the second one
  // reuses its identifier, and then killing the second one leaves nothing to kill.
  KillTimer(nullptr, timer.timerId());
  EXPECT_FALSE(KillTimer(nullptr, first)) << first;
  timer.stop();
  EXPECT_EQ(TimerTable::instance().size(), before);
}

TEST(TimerTest, TickQueuedBeforeStopOrDestructionIsIgnored) {
  Counter counter;
  MSG msg{};
  {
    Timer timer("switchTimer");
    timer.connect(&counter);
    timer.start(5);
    // Take the tick out of the queue without delivering it, then stop the timer.
    ASSERT_TRUE(takeTick(msg, 3000));
    timer.stop();
    DispatchMessageA(&msg);
    EXPECT_EQ(counter.calls, 0);
    timer.start(5);
    ASSERT_TRUE(takeTick(msg, 3000));
  }
  DispatchMessageA(&msg);  // the timer is destroyed
  EXPECT_EQ(counter.calls, 0);
}

// A widget handed to the pool goes, once however often it was handed, when the message
// loop runs again; nobody drains the pool by hand.
TEST(TimerTest, TheAutoReleasePoolDrainsItselfOnItsTimer) {
  struct Pooled : QxWidget {
    explicit Pooled(int& deletions) : QxWidget("pooled"), deletions_(deletions) {}
    ~Pooled() override { ++deletions_; }
    int& deletions_;
  };
  int deletions = 0;
  auto* twice = new Pooled(deletions);
  (new Pooled(deletions))->autorelease();
  twice->autorelease();
  twice->autorelease();
  EXPECT_EQ(AutoReleasePool::instance().pendingCount(), 3u);
  EXPECT_TRUE(pumpUntil([&] { return AutoReleasePool::instance().pendingCount() == 0; }, 10000));
  EXPECT_EQ(deletions, 2);
}
