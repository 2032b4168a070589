#pragma once
// A thread that wakes its owner when a deadline passes: when a retry is due, or when a
// silent transfer counts as stalled. Portable (std::thread), so it is tested natively.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// The owner keeps one deadline at a time (setting one replaces the last) and is called
// back on this object's own thread once it has passed, with no lock of this class held.
// The callback may set the next deadline. Destruction stops the thread and waits for a
// running callback, so it must not happen inside the callback, nor while the owner holds
// a lock the callback takes.
class DeadlineThread {
public:
  using Clock = std::chrono::steady_clock;
  using Wake = void (*)(void* context);

  DeadlineThread(Wake wake, void* context);
  ~DeadlineThread();
  DeadlineThread(const DeadlineThread&) = delete;
  DeadlineThread& operator=(const DeadlineThread&) = delete;

  void wakeAt(Clock::time_point when);
  void wakeAfter(std::chrono::milliseconds delay) { wakeAt(Clock::now() + delay); }
  // No deadline until the next wakeAt.
  void cancel();

private:
  void run();

  Wake wake_;
  void* context_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool armed_ = false;
  bool stopping_ = false;
  Clock::time_point deadline_{};
  std::thread thread_;
};
