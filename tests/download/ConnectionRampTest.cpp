// How many connections a download opens, on a time of the test's own: one more while
// the rate grows by a tenth, the newest dropped when it did not, one fewer for good
// after a refusal, never more than allowed.
#include "download/ConnectionRamp.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono;
using Action = ConnectionRamp::Action;

struct Ramp {
  explicit Ramp(int most) : ramp(most) { ramp.begin(now); }
  ConnectionRamp::Clock::time_point now{hours(1)};
  ConnectionRamp ramp;

  // A step of `window` at `rate` bytes per second, received in pieces; what the ramp
  // then decides.
  Action step(double rate, milliseconds window = ConnectionRamp::kLongestWindow) {
    const milliseconds tick(10);
    Action action = Action::kNone;
    for (milliseconds t(0); t < window && action == Action::kNone;) {
      t += tick;
      ramp.received(static_cast<std::int64_t>(rate * 0.01));
      action = ramp.due(now + t);
    }
    now += window;
    return action;
  }
  // The connection just added receives its first byte.
  void connected() { ramp.firstByte(now); }
};

TEST(ConnectionRamp, AddsOneAtATimeWhileEachPaysAndStopsAtTheMost) {
  Ramp r(4);
  EXPECT_EQ(r.ramp.wanted(), 1);
  EXPECT_EQ(r.step(4e6, milliseconds(90)), Action::kNone);  // a window is not over yet
  EXPECT_EQ(r.step(4e6), Action::kAdd);
  EXPECT_EQ(r.ramp.wanted(), 2);
  // Until the added connection receives, nothing more is added.
  EXPECT_EQ(r.step(4e6, seconds(2)), Action::kNone);
  r.connected();
  EXPECT_EQ(r.step(8e6), Action::kAdd);
  r.connected();
  EXPECT_EQ(r.step(12e6), Action::kAdd);
  r.connected();
  EXPECT_EQ(r.step(16e6), Action::kNone);
  EXPECT_EQ(r.ramp.wanted(), 4);
  EXPECT_FALSE(r.ramp.ramping());
}

TEST(ConnectionRamp, ANewestConnectionThatDoesNotRaiseTheRateByATenthIsDropped) {
  Ramp r(8);
  EXPECT_EQ(r.step(50e6), Action::kAdd);
  r.connected();
  EXPECT_EQ(r.step(90e6), Action::kAdd);
  r.connected();
  EXPECT_EQ(r.step(98e6), Action::kDropNewest);  // +9 %: the line is full
  EXPECT_EQ(r.ramp.wanted(), 2);
  EXPECT_EQ(r.step(200e6, seconds(3)), Action::kNone);
  EXPECT_EQ(r.ramp.wanted(), 2);
}

TEST(ConnectionRamp, ARefusalCostsOneConnectionForGood) {
  Ramp r(4);
  r.step(4e6);
  r.connected();
  r.step(8e6);
  EXPECT_EQ(r.ramp.wanted(), 3);
  r.ramp.refused();  // the third was answered 503
  EXPECT_EQ(r.ramp.wanted(), 2);
  EXPECT_FALSE(r.ramp.ramping());
  r.ramp.refused();
  r.ramp.refused();
  EXPECT_EQ(r.ramp.wanted(), 1);
  EXPECT_EQ(r.step(100e6, seconds(3)), Action::kNone);
}

TEST(ConnectionRamp, OneAllowedConnectionNeverAddsAnother) {
  Ramp r(1);
  EXPECT_EQ(r.step(4e6, seconds(2)), Action::kNone);
  EXPECT_EQ(r.ramp.wanted(), 1);
}

} // namespace
