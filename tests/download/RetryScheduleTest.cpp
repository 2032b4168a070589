// The retry schedule with a clock and a random source of the test's own: backoff and its
// cap, jitter bounds, Retry-After, the progress budget, and which statuses are retried.
#include "download/RetrySchedule.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

struct FakeTime {
  std::int64_t nowMs = 5000;
  double random = 0.5;  // no jitter
  RetrySchedule schedule{[this] { return nowMs; }, [this] { return random; }};
};

// Failures in a row on one schedule, each after `laterMs` (and a new byte when
// `progressed`), with its random draw and Retry-After (-1: none), and the delay it gives.
struct Failure {
  std::optional<std::int64_t> delay;
  double random = 0.5;
  std::int64_t retryAfter = -1;
  std::int64_t laterMs = 0;
  bool progressed = false;
};

TEST(RetrySchedule, BackoffJitterRetryAfterAndTheBudget) {
  const std::int64_t budget = RetrySchedule::kTimeWithoutProgressMs;
  const std::vector<Failure> schedules[] = {
      // Doubles from a second to the cap; gives up after eight attempts without progress.
      {{1000}, {2000}, {4000}, {8000}, {16000}, {30000}, {30000}, {std::nullopt}},
      // Jitter stays within a quarter either way, also on the cap.
      {{750, 0.0}, {2500, 0.999999}, {4000}, {8000}, {16000}, {22500, 0.0}},
      // Retry-After is a floor up to five minutes; the backoff still applies.
      {{2000, 0.5, 2000}, {2000, 0.5, 0}, {300000, 0.5, 3600000}, {8000, 0.5, -5}},
      // Ten minutes without a new byte spend the budget.
      {{1000, 0.5, -1, budget - 1}, {std::nullopt, 0.5, -1, 1}},
      // 18 minutes from the start, 9 from the last byte.
      {{1000, 0.5, -1, 9 * 60000, true}, {2000, 0.5, -1, 9 * 60000}},
  };
  for (const auto& failures : schedules) {
    FakeTime t;
    for (const Failure& f : failures) {
      SCOPED_TRACE(testing::Message() << (&failures - schedules) << "/" << (&f - failures.data()));
      t.nowMs += f.laterMs;
      if (f.progressed)
        t.schedule.progressed();
      t.random = f.random;
      EXPECT_EQ(f.retryAfter == -1 ? t.schedule.failed() : t.schedule.failed(f.retryAfter), f.delay);
    }
  }
}

TEST(RetrySchedule, TimeoutsThrottlingAndServerErrorsAreTransientOtherClientErrorsFinal) {
  for (int status : {408, 429, 500, 502, 503, 504, 599}) EXPECT_TRUE(RetrySchedule::transientStatus(status)) << status;
  for (int status : {400, 401, 403, 404, 410, 416, 451, 200, 206, 301, 600}) {
    EXPECT_FALSE(RetrySchedule::transientStatus(status)) << status;
  }
}

TEST(RetrySchedule, ReadsRetryAfterAsSecondsOrAnHttpDate) {
  // 1994-11-06 08:49:37 UTC
  const std::int64_t now = 784111777;
  struct Case {
    const char* value;
    std::optional<std::int64_t> ms;
  };
  const Case cases[] = {
      {"2", 2000},
      {" 120 ", 120000},
      {"0", 0},
      {"99999999999999999999999", 86400000},
      {"Sun, 06 Nov 1994 08:49:47 GMT", 10000},
      {"Sunday, 06-Nov-94 08:50:37 GMT", 60000},
      {"Sun Nov  6 08:49:39 1994", 2000},
      {"Sat, 05 Nov 1994 08:49:37 GMT", 0},  // already past
      {"Thu, 01 Jan 2037 00:00:00 GMT", (2114380800 - now) * 1000},
  };
  for (const Case& c : cases) EXPECT_EQ(RetrySchedule::retryAfterMs(c.value, now), c.ms) << '"' << c.value << '"';
  for (const char* bad : {"", "-1", "1.5", "soon", "Sun, 06 Nov 1994 08:49:47 PST", "Sun, 06 Foo 1994 08:49:47 GMT",
                          "Sun, 06 Nov 1994 25:49:47 GMT", "Sun, 06 Nov 1994 08:49:47 GMT trailing"})
    EXPECT_EQ(RetrySchedule::retryAfterMs(bad, now), std::nullopt) << '"' << bad << '"';
}

} // namespace
