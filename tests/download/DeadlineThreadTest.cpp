// The deadline thread: a wake never comes early, a new deadline replaces the old one, a
// cancelled one never fires, the callback can re-arm it, and destruction does not wait
// for a deadline far off.
#include "download/DeadlineThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono;
using Clock = DeadlineThread::Clock;

struct Counter {
  std::atomic<int> wakes{0};
  std::atomic<int> rearmUntil{0};
  Clock::time_point lastWake{};
  DeadlineThread* thread = nullptr;

  static void wake(void* context) {
    auto* self = static_cast<Counter*>(context);
    self->lastWake = Clock::now();
    if (++self->wakes < self->rearmUntil) self->thread->wakeAfter(milliseconds(5));
  }
  // Waits, bounded, until `count` wakes have come.
  bool waitFor(int count) {
    const auto deadline = Clock::now() + seconds(5);
    while (wakes < count && Clock::now() < deadline) std::this_thread::sleep_for(milliseconds(2));
    return wakes >= count;
  }
};

// Returns once another thread's deadline `after` from now has woken it: by then the
// thread under test has had its chance to fire whatever it still held.
void witness(milliseconds after) {
  Counter other;
  DeadlineThread thread(&Counter::wake, &other);
  thread.wakeAfter(after);
  ASSERT_TRUE(other.waitFor(1));
}

TEST(DeadlineThread, WakesOnceNotBeforeTheDeadline) {
  Counter counter;
  DeadlineThread thread(&Counter::wake, &counter);
  const auto when = Clock::now() + milliseconds(60);
  thread.wakeAt(when);
  ASSERT_TRUE(counter.waitFor(1));
  EXPECT_GE(counter.lastWake, when);
  witness(milliseconds(100));
  EXPECT_EQ(counter.wakes, 1);
}

TEST(DeadlineThread, ANewDeadlineReplacesTheOldAndACancelledOneNeverFires) {
  Counter counter;
  DeadlineThread thread(&Counter::wake, &counter);
  thread.wakeAfter(milliseconds(20));
  const auto later = Clock::now() + milliseconds(150);
  thread.wakeAt(later);
  ASSERT_TRUE(counter.waitFor(1));
  EXPECT_GE(counter.lastWake, later);

  thread.wakeAfter(milliseconds(20));
  thread.cancel();
  witness(milliseconds(150));
  EXPECT_EQ(counter.wakes, 1);
}

TEST(DeadlineThread, TheCallbackSetsTheNextDeadline) {
  Counter counter;
  counter.rearmUntil = 4;
  DeadlineThread thread(&Counter::wake, &counter);
  counter.thread = &thread;
  thread.wakeAfter(milliseconds(1));
  ASSERT_TRUE(counter.waitFor(4));
  witness(milliseconds(60));
  EXPECT_EQ(counter.wakes, 4);
}

TEST(DeadlineThread, DestructionDoesNotWaitForAFarDeadline) {
  Counter counter;
  const auto start = Clock::now();
  {
    DeadlineThread thread(&Counter::wake, &counter);
    thread.wakeAfter(hours(1));
  }
  EXPECT_LT(Clock::now() - start, seconds(30));
  EXPECT_EQ(counter.wakes, 0);
}

} // namespace
