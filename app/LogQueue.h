#pragma once
// The support log's bounded queue between the threads that log and the one that writes.
// Portable, so its limits are tested natively.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Any thread pushes without a lock and without waking anyone: the window's thread must
// never wait for the writer, and under Wine every wake-up of another thread is a round
// trip to the server that the window's own messages queue behind. The one writer takes
// what has come at its own pace. A line that finds the queue full, or the file's budget
// spent, is dropped and counted. The budget keeps a reserve for the last lines (the drop
// count, the end).
class LogQueue {
public:
  // Up to `lines` waiting lines; at most `fileBytes` bytes in the file, `used` of which
  // it already holds (a file appended to).
  LogQueue(std::size_t lines, std::uint64_t fileBytes, std::uint64_t used = 0);
  ~LogQueue();
  LogQueue(const LogQueue&) = delete;
  LogQueue& operator=(const LogQueue&) = delete;

  static constexpr std::uint64_t kReserve = 64 * 1024;

  // False when the line was dropped. A `closing` line may use the reserve. A line pushed
  // while close() runs may miss the last batch.
  bool push(std::string line, bool closing = false);

  struct Batch {
    std::vector<std::string> lines;
    std::uint64_t newlyDropped = 0;  // lines dropped since the last batch
    bool closed = false;             // close() was called: the writer ends after this batch
  };
  // The writer only. The lines waiting, in the order they were pushed; when there are
  // none, first sleeps up to `wait` (close() cuts the sleep short).
  Batch take(std::chrono::milliseconds wait);
  // Wakes the writer for the last time.
  void close();
  // A line the writer adds itself (the drop count), out of the reserve: false when even
  // that is spent.
  bool account(const std::string& line);

  std::uint64_t dropped() const;

private:
  struct Node {
    std::string line;
    Node* next = nullptr;
  };
  bool reserve(std::uint64_t bytes, std::uint64_t limit);

  std::atomic<Node*> newest_{nullptr};  // pushed lines, newest first
  std::atomic<std::size_t> waiting_{0};
  std::atomic<std::uint64_t> used_;
  std::atomic<std::uint64_t> dropped_{0};
  std::atomic<bool> closed_{false};
  const std::size_t capacity_;
  const std::uint64_t fileBytes_;
  std::uint64_t reported_ = 0;  // the writer's
  // Only the writer's sleep and close() use these.
  std::mutex sleepLock_;
  std::condition_variable wake_;
};
