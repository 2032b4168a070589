#pragma once
// The support log's bounded queue between the threads that log and the one that writes.
// Portable, so its limits are tested natively.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

// Shared by every logging thread and the writer under `mutex_`. Pushing never waits for
// the writer: a line that finds the queue full, or the file's budget spent, is dropped
// and counted. The budget keeps a reserve for the last lines (the drop count, the end).
class LogQueue {
public:
  // Up to `lines` waiting lines; at most `fileBytes` bytes in the file, `used` of which
  // it already holds (a file appended to).
  LogQueue(std::size_t lines, std::uint64_t fileBytes, std::uint64_t used = 0);

  static constexpr std::uint64_t kReserve = 64 * 1024;

  // False when the line was dropped. A `closing` line may use the reserve.
  bool push(std::string line, bool closing = false);

  struct Batch {
    std::vector<std::string> lines;
    std::uint64_t newlyDropped = 0;  // lines dropped since the last batch
    bool closed = false;             // close() was called: the writer ends after this batch
  };
  // Waits up to `wait` for lines (or close); the lines waiting, in order.
  Batch take(std::chrono::milliseconds wait);
  // Wakes the writer for the last time.
  void close();
  // A line the writer adds itself (the drop count), out of the reserve: false when even
  // that is spent.
  bool account(const std::string& line);

  std::uint64_t dropped() const;

private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> lines_;
  const std::size_t capacity_;
  const std::uint64_t fileBytes_;
  std::uint64_t used_;
  std::uint64_t dropped_ = 0;
  std::uint64_t reported_ = 0;
  bool closed_ = false;
};
