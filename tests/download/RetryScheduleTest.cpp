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

using Delays = std::vector<std::optional<std::int64_t>>;

Delays failures(RetrySchedule& schedule, int count) {
  Delays out;
  for (int i = 0; i < count; ++i) out.push_back(schedule.failed());
  return out;
}

TEST(RetrySchedule, DoublesFromOneSecondToTheCapAndGivesUpAfterEightAttemptsWithoutProgress) {
  FakeTime t;
  EXPECT_EQ(failures(t.schedule, 8),
            (Delays{1000, 2000, 4000, 8000, 16000, 30000, 30000, std::nullopt}));
}

TEST(RetrySchedule, JitterStaysWithinAQuarterEitherWay) {
  FakeTime t;
  t.random = 0.0;
  EXPECT_EQ(t.schedule.failed(), 750);
  t.random = 0.999999;
  EXPECT_EQ(t.schedule.failed(), 2500);
  for (int i = 0; i < 3; ++i) t.schedule.failed();
  t.random = 0.0;
  EXPECT_EQ(t.schedule.failed(), 22500);  // the cap varies too
}

TEST(RetrySchedule, TenMinutesWithoutANewByteSpendTheBudget) {
  FakeTime t;
  t.nowMs += RetrySchedule::kTimeWithoutProgressMs - 1;
  EXPECT_EQ(t.schedule.failed(), 1000);
  t.nowMs += 1;
  EXPECT_EQ(t.schedule.failed(), std::nullopt);

  FakeTime u;
  u.nowMs += 9 * 60000;
  u.schedule.progressed();
  u.nowMs += 9 * 60000;  // 18 minutes from the start, 9 from the last byte
  EXPECT_EQ(u.schedule.failed(), 1000);
}

TEST(RetrySchedule, RetryAfterIsAFloorUpToFiveMinutes) {
  FakeTime t;
  EXPECT_EQ(t.schedule.failed(2000), 2000);
  EXPECT_EQ(t.schedule.failed(0), 2000);        // the backoff still applies
  EXPECT_EQ(t.schedule.failed(3600000), 300000);
  EXPECT_EQ(t.schedule.failed(-5), 8000);
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
      {"", std::nullopt},
      {"-1", std::nullopt},
      {"1.5", std::nullopt},
      {"soon", std::nullopt},
      {"Sun, 06 Nov 1994 08:49:47 PST", std::nullopt},
      {"Sun, 06 Foo 1994 08:49:47 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 25:49:47 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 08:49:47 GMT trailing", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(RetrySchedule::retryAfterMs(c.value, now), c.ms) << '"' << c.value << '"';
}

} // namespace
