#include "app/LogLine.h"
#include "app/LogQueue.h"

#include <gtest/gtest.h>

#include <cstdio>
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
  EXPECT_EQ(LogLine::toDelete("Game", names, "Game_install_20250101_000000.log", 5),
            (std::vector<std::string>{"Game_install_20260103_120000.log", "Game_install_20260102_120000.log",
                                      "Game_install_20260101_120000.log"}));
}

// The queue's two limits: a full queue and a spent budget drop the line and count it;
// the last line (and the drop count) still have the reserve.
TEST(LogQueue, FullQueueAndSpentBudgetDropAndCount) {
  const std::string line = std::string(99, 'x') + "\n";
  LogQueue small(2, 1 << 20);
  EXPECT_TRUE(small.push(line));
  EXPECT_TRUE(small.push(line));
  EXPECT_FALSE(small.push(line));
  LogQueue::Batch batch = small.take(std::chrono::milliseconds(0));
  EXPECT_EQ(batch.lines.size(), 2u);
  EXPECT_EQ(batch.newlyDropped, 1u);
  EXPECT_TRUE(small.push(line)) << "taking makes room";

  LogQueue budget(100, LogQueue::kReserve + 250);
  EXPECT_TRUE(budget.push(line));
  EXPECT_TRUE(budget.push(line));
  EXPECT_FALSE(budget.push(line)) << "ordinary lines stay out of the reserve";
  EXPECT_TRUE(budget.account(line)) << "the drop count has the reserve";
  EXPECT_TRUE(budget.push(line, true)) << "the last line has the reserve";
  EXPECT_FALSE(budget.account(std::string(LogQueue::kReserve, 'd')));
  budget.close();
  EXPECT_FALSE(budget.push(line, true)) << "nothing after the end";
  batch = budget.take(std::chrono::milliseconds(0));
  EXPECT_TRUE(batch.closed);
  EXPECT_EQ(batch.lines.size(), 3u);
  EXPECT_EQ(batch.newlyDropped, 2u);
}

// A flood from several threads while the writer takes: no line is lost uncounted, torn
// or out of its thread's order, and the writer sees the end.
TEST(LogQueue, FloodFromSeveralThreadsIsCountedExactly) {
  LogQueue queue(64, 200 * 1024);
  std::uint64_t lines = 0, dropped = 0, misordered = 0;
  std::thread writer([&] {
    int last[4] = {-1, -1, -1, -1};
    for (;;) {
      const LogQueue::Batch batch = queue.take(std::chrono::milliseconds(1));
      for (const std::string& line : batch.lines) {
        lines += line.size() == 100 ? 1 : 1000000;
        const int thread = line[0] - '0', index = std::stoi(line.substr(1, 5));
        misordered += index <= last[thread];
        last[thread] = index;
      }
      dropped += batch.newlyDropped;
      if (batch.closed)
        return;
    }
  });
  std::vector<std::thread> loggers;
  for (int t = 0; t < 4; ++t)
    loggers.emplace_back([&queue, t] {
      for (int i = 0; i < 20000; ++i) {
        char head[16];
        std::snprintf(head, sizeof head, "%d%05d", t, i);
        queue.push(head + std::string(93, 'x') + "\n");
      }
    });
  for (std::thread& t : loggers)
    t.join();
  queue.close();
  writer.join();
  EXPECT_EQ(lines + dropped, 80000u);
  EXPECT_EQ(misordered, 0u);
  EXPECT_LE(lines * 100, 200u * 1024 - LogQueue::kReserve);
  EXPECT_GT(dropped, 0u);
}
