// The install page's figures from exact 64-bit counts: percent, the size and speed line
// around 10^9 bytes and past 4 GiB, and the speed over its sample window.
#include "pages/DownloadSpeed.h"
#include "pages/ProgressText.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgressText, PercentOfAnySize) {
  const struct {
    std::int64_t total, done;
    int percent;
  } cases[] = {
      {0, 10, 0},
      {-5, 10, 0},
      {1000, 2000, 100},
      {1000, -1, 0},
      {1050000, 525000, 50},
      {0x7FFFFFFF, 0x7FFFFFFE, 99},
      {5368709120LL, 2147483648LL, 40},
      {5368709120LL, 5368709119LL, 99},
      {5368709120LL, 5368709120LL, 100},
  };
  for (const auto& c : cases) EXPECT_EQ(progressPercent(c.total, c.done), c.percent) << c.total << "/" << c.done;
}

// Sizes in hundredths of 10^6 bytes, truncated; speeds in 10^3 bytes a second, rounded.
// Above 10^9 bytes the counts are still bytes: 1.5 GB reads 1500.00M, not 1.50M.
TEST(ProgressText, SizeAndSpeedLine) {
  const struct {
    std::int64_t total;
    double speed;
    const char* line;
  } cases[] = {
      {999999, 0, "游戏包体0.99M，速度0K/s (V1.0.3)  "},
      {1050000, 499.9, "游戏包体1.05M，速度0K/s (V1.0.3)  "},
      {123456789, 2500000, "游戏包体123.45M，速度2500K/s (V1.0.3)  "},
      {999999999, 999999999, "游戏包体999.99M，速度1000000K/s (V1.0.3)  "},
      {1000000001, 1500, "游戏包体1000.00M，速度2K/s (V1.0.3)  "},
      {1500000000, 3000000, "游戏包体1500.00M，速度3000K/s (V1.0.3)  "},
      {5368709120LL, 316000000, "游戏包体5368.70M，速度316000K/s (V1.0.3)  "},
      {-5, 0, "游戏包体0.00M，速度0K/s (V1.0.3)  "},
  };
  for (const auto& c : cases) EXPECT_EQ(packageLine(c.total, c.speed, "1.0.3"), c.line) << c.total;
}

TEST(DownloadSpeed, OverTheNewestThreeSecondsAtMostOnceASecond) {
  DownloadSpeed speed;
  EXPECT_EQ(speed.sample(0, 10000), 0.0);
  // Samples of one tick give no rate: the previous speed stands.
  EXPECT_EQ(speed.sample(5, 10000), 0.0);
  // The first pair of samples gives a speed at once: 1,250,000 bytes in 0.5 s.
  EXPECT_EQ(speed.sample(1250000, 10500), 2500000.0);
  // Recomputed at most once a second.
  EXPECT_EQ(speed.sample(1400000, 11000), 2500000.0);
  // Under 3 s of samples: the rate over all of them, 2,500,000 bytes in 1.6 s.
  EXPECT_DOUBLE_EQ(speed.sample(2500000, 11600), 2500000 / 1.6);
  // The newest sample at least 3 s old (tick 11000) starts the window.
  EXPECT_EQ(speed.sample(7400000, 14000), 2000000.0);
  // Counts past 4 GiB: 600 MB over the newest window of 3 s.
  EXPECT_EQ(speed.sample(5000000000LL, 20000), (5000000000.0 - 7400000) / 6.0);
  EXPECT_EQ(speed.sample(5600000000LL, 23000), 200000000.0);
}

} // namespace
