#include "download/DeadlineThread.h"

#include <cassert>

DeadlineThread::DeadlineThread(Wake wake, void* context) : wake_(wake), context_(context) {
  thread_ = std::thread(&DeadlineThread::run, this);
}

DeadlineThread::~DeadlineThread() {
  assert(std::this_thread::get_id() != thread_.get_id() && "a deadline thread cannot end itself");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void DeadlineThread::wakeAt(Clock::time_point when) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = true;
    deadline_ = when;
  }
  changed_.notify_all();
}

void DeadlineThread::cancel() {
  std::lock_guard<std::mutex> lock(mutex_);
  armed_ = false;
}

void DeadlineThread::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (!armed_) {
      changed_.wait(lock);
      continue;
    }
    if (Clock::now() < deadline_) {
      changed_.wait_until(lock, deadline_);
      continue;  // woken early, or the deadline moved: look again
    }
    armed_ = false;
    lock.unlock();
    wake_(context_);
    lock.lock();
  }
}
