// The pacer of a download's requests, on a time of the test's own: silence makes the
// download quiet and then gives the request up; a failure waits out the schedule and the
// server's Retry-After; bytes end the quiet and the budget starts afresh.
#include "download/RequestPacer.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono;
using Action = RequestPacer::Action;

struct Paced {
  RequestPacer::Clock::time_point now{hours(1)};
  // No jitter; the schedule's own clock stands still, so only attempts spend the budget.
  RequestPacer pacer{RetrySchedule([] { return std::int64_t{0}; }, [] { return 0.5; })};

  Action at(milliseconds since) { return pacer.due(now + since); }
};

TEST(RequestPacer, ASilentRequestIsQuietAfterFiveSecondsAndGivenUpAfterThirty) {
  Paced p;
  p.pacer.begin(p.now);
  EXPECT_EQ(p.pacer.deadline(), p.now);
  EXPECT_EQ(p.at(milliseconds(0)), Action::kStart);
  p.pacer.sent(p.now);
  EXPECT_EQ(p.pacer.deadline(), p.now + seconds(5));
  EXPECT_EQ(p.at(milliseconds(4999)), Action::kNone);
  EXPECT_EQ(p.at(seconds(5)), Action::kBecameQuiet);
  EXPECT_TRUE(p.pacer.quiet());
  EXPECT_EQ(p.at(seconds(6)), Action::kNone);  // said once
  EXPECT_EQ(p.pacer.deadline(), p.now + seconds(30));
  // A byte moves both marks on and ends the quiet.
  p.pacer.progressed(p.now + seconds(20));
  EXPECT_FALSE(p.pacer.quiet());
  EXPECT_EQ(p.at(seconds(24)), Action::kNone);
  EXPECT_EQ(p.at(seconds(25)), Action::kBecameQuiet);
  EXPECT_EQ(p.at(seconds(50)), Action::kStalled);
  p.pacer.ended();
  EXPECT_EQ(p.pacer.deadline(), std::nullopt);
  EXPECT_EQ(p.at(hours(1)), Action::kNone);
}

TEST(RequestPacer, AFailureWaitsItsTurnAndTheBudgetCountsFailuresWithoutAByte) {
  Paced p;
  p.pacer.begin(p.now);
  p.at(milliseconds(0));
  p.pacer.sent(p.now);
  // The server's Retry-After outweighs the first backoff of 1 s.
  ASSERT_TRUE(p.pacer.failed(p.now, 2000));
  EXPECT_TRUE(p.pacer.quiet());
  EXPECT_EQ(p.pacer.deadline(), p.now + seconds(2));
  EXPECT_EQ(p.at(milliseconds(1999)), Action::kNone);
  EXPECT_EQ(p.at(seconds(2)), Action::kStart);
  p.pacer.sent(p.now + seconds(2));
  // Still quiet until a byte comes: the next silence mark is the stall.
  EXPECT_EQ(p.pacer.deadline(), p.now + seconds(32));
  p.pacer.progressed(p.now + seconds(3));
  // After that byte, eight failures in a row without another spend the budget.
  for (int i = 0; i < 7; ++i) ASSERT_TRUE(p.pacer.failed(p.now, std::nullopt)) << i;
  EXPECT_FALSE(p.pacer.failed(p.now, std::nullopt));
  EXPECT_EQ(p.pacer.deadline(), std::nullopt);
}

} // namespace
