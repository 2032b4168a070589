#include "app/LogLine.h"
#include "app/LogQueue.h"

#include <gtest/gtest.h>

#include <thread>

TEST(LogLine, OneLinePerEventWithMilliseconds) {
  const LogTime t{2026, 1, 2, 3, 4, 5, 7};
  EXPECT_EQ(LogLine::format(t, "download", "retry\r\nin 500 ms\n"), "2026-01-02 03:04:05.007 [download] retry  in 500 ms\n");
  EXPECT_EQ(LogLine::fileName("星海", t), "星海_install_20260102_030405.log");
}

// The newest five of this product stay, and the one being written whatever its stamp;
// other products' logs and look-alikes are never touched.
TEST(LogLine, RotationDeletesOnlyThisProductsOlderLogs) {
  std::vector<std::string> names;
  for (int day = 1; day <= 7; ++day)
    names.push_back("Game_install_2026010" + std::to_string(day) + "_120000.log");
  names.insert(names.end(), {"Other_install_20250101_000000.log", "Game_install_2025.log", "Game_install_20250101_00000x.log",
                             "Game_install_20250101_000000.txt", "Game_install_20250101_000000.log"});
  const std::vector<std::string> expected = {"Game_install_20260102_120000.log", "Game_install_20260101_120000.log",
                                             "Game_install_20250101_000000.log"};
  EXPECT_EQ(LogLine::toDelete("Game", names, "Game_install_20260107_120000.log", 5), expected);
  EXPECT_EQ(LogLine::toDelete("Game", names, "Game_install_20250101_000000.log", 5).size(), 3u);
  EXPECT_EQ(LogLine::toDelete("Game", names, "Game_install_20250101_000000.log", 5).back(),
            "Game_install_20260101_120000.log");
}

// A flood from several threads: nothing waits, the file's budget holds with the drop
// count and the last line in its reserve, and every line kept is whole and in order.
TEST(LogQueue, FloodIsBoundedAndCounted) {
  constexpr std::uint64_t kCap = 200 * 1024;
  LogQueue queue(64, kCap);
  std::uint64_t written = 0, dropped = 0, lines = 0;
  std::thread writer([&] {
    for (;;) {
      LogQueue::Batch batch = queue.take(std::chrono::milliseconds(50));
      for (const std::string& line : batch.lines) {
        written += line.size();
        ++lines;
        EXPECT_EQ(line.size(), 100u);
      }
      dropped += batch.newlyDropped;
      if (batch.closed) {
        EXPECT_TRUE(queue.account(std::string(60, 'd'))) << "the drop count has its reserve";
      }
      if (batch.closed)
        return;
    }
  });
  std::vector<std::thread> loggers;
  for (int t = 0; t < 4; ++t)
    loggers.emplace_back([&] {
      for (int i = 0; i < 20000; ++i)
        queue.push(std::string(99, 'x') + "\n");
    });
  for (std::thread& t : loggers)
    t.join();
  EXPECT_TRUE(queue.push(std::string(99, 'e') + "\n", true)) << "the last line has its reserve";
  EXPECT_FALSE(queue.push(std::string(99, 'x') + "\n")) << "ordinary lines stay out of the reserve";
  queue.close();
  writer.join();
  EXPECT_FALSE(queue.push("late\n", true));
  EXPECT_EQ(lines + dropped, 80001u + 1);
  EXPECT_GT(dropped, 0u);
  EXPECT_LE(written, kCap - LogQueue::kReserve + 100);
  EXPECT_EQ(queue.dropped(), dropped + 1);
}
