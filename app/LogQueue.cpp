#include "app/LogQueue.h"

#include <algorithm>

LogQueue::LogQueue(std::size_t lines, std::uint64_t fileBytes, std::uint64_t used)
    : used_(used), capacity_(lines), fileBytes_(fileBytes) {}

LogQueue::~LogQueue() {
  for (Node* node = newest_.exchange(nullptr); node;) {
    Node* next = node->next;
    delete node;
    node = next;
  }
}

bool LogQueue::reserve(std::uint64_t bytes, std::uint64_t limit) {
  std::uint64_t used = used_.load(std::memory_order_relaxed);
  do {
    if (used + bytes > limit)
      return false;
  } while (!used_.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
  return true;
}

bool LogQueue::push(std::string line, bool closing) {
  const std::uint64_t limit = closing ? fileBytes_ : (fileBytes_ > kReserve ? fileBytes_ - kReserve : 0);
  if (closed_.load(std::memory_order_acquire)) {
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  if (waiting_.fetch_add(1, std::memory_order_relaxed) >= capacity_ || !reserve(line.size(), limit)) {
    waiting_.fetch_sub(1, std::memory_order_relaxed);
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  Node* node = new Node{std::move(line), newest_.load(std::memory_order_relaxed)};
  while (!newest_.compare_exchange_weak(node->next, node, std::memory_order_release, std::memory_order_relaxed)) {
  }
  return true;
}

LogQueue::Batch LogQueue::take(std::chrono::milliseconds wait) {
  if (!newest_.load(std::memory_order_acquire) && !closed_.load(std::memory_order_acquire)) {
    std::unique_lock<std::mutex> lock(sleepLock_);
    wake_.wait_for(lock, wait, [&] { return closed_.load(std::memory_order_acquire); });
  }
  Batch batch;
  // Read before the lines, so that every line pushed before close() is in this batch.
  batch.closed = closed_.load(std::memory_order_acquire);
  Node* node = newest_.exchange(nullptr, std::memory_order_acquire);
  while (node) {
    batch.lines.push_back(std::move(node->line));
    Node* next = node->next;
    delete node;
    node = next;
  }
  std::reverse(batch.lines.begin(), batch.lines.end());
  waiting_.fetch_sub(batch.lines.size(), std::memory_order_relaxed);
  const std::uint64_t dropped = dropped_.load(std::memory_order_relaxed);
  batch.newlyDropped = dropped - reported_;
  reported_ = dropped;
  return batch;
}

void LogQueue::close() {
  {
    std::lock_guard<std::mutex> lock(sleepLock_);
    closed_.store(true, std::memory_order_release);
  }
  wake_.notify_all();
}

bool LogQueue::account(const std::string& line) { return reserve(line.size(), fileBytes_); }

std::uint64_t LogQueue::dropped() const { return dropped_.load(std::memory_order_relaxed); }
