#include "app/LogQueue.h"

LogQueue::LogQueue(std::size_t lines, std::uint64_t fileBytes, std::uint64_t used)
    : capacity_(lines), fileBytes_(fileBytes), used_(used) {}

bool LogQueue::push(std::string line, bool closing) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t limit = closing ? fileBytes_ : (fileBytes_ > kReserve ? fileBytes_ - kReserve : 0);
    if (closed_ || lines_.size() >= capacity_ || used_ + line.size() > limit) {
      ++dropped_;
      return false;
    }
    used_ += line.size();
    lines_.push_back(std::move(line));
  }
  wake_.notify_one();
  return true;
}

LogQueue::Batch LogQueue::take(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, wait, [&] { return !lines_.empty() || closed_; });
  Batch batch;
  batch.lines.assign(std::make_move_iterator(lines_.begin()), std::make_move_iterator(lines_.end()));
  lines_.clear();
  batch.newlyDropped = dropped_ - reported_;
  reported_ = dropped_;
  batch.closed = closed_;
  return batch;
}

void LogQueue::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  wake_.notify_all();
}

bool LogQueue::account(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (used_ + line.size() > fileBytes_)
    return false;
  used_ += line.size();
  return true;
}

std::uint64_t LogQueue::dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}
