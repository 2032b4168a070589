#include "download/RequestPacer.h"

void RequestPacer::begin(Clock::time_point now) {
  waiting_ = true;
  startAt_ = now;
}

void RequestPacer::sent(Clock::time_point now) {
  waiting_ = false;
  running_ = true;
  lastByteAt_ = now;
}

void RequestPacer::progressed(Clock::time_point now) {
  schedule_.progressed();
  lastByteAt_ = now;
  quiet_ = false;
}

bool RequestPacer::failed(Clock::time_point now, std::optional<std::int64_t> retryAfterMs) {
  running_ = false;
  waiting_ = false;
  const std::optional<std::int64_t> wait = schedule_.failed(retryAfterMs);
  if (!wait)
    return false;
  waiting_ = true;
  startAt_ = now + std::chrono::milliseconds(*wait);
  quiet_ = true;
  return true;
}

RequestPacer::Action RequestPacer::due(Clock::time_point now) {
  if (waiting_) {
    if (now < startAt_)
      return Action::kNone;
    waiting_ = false;
    return Action::kStart;
  }
  if (!running_)
    return Action::kNone;
  if (now - lastByteAt_ >= kStall)
    return Action::kStalled;
  if (now - lastByteAt_ >= kQuiet && !quiet_) {
    quiet_ = true;
    return Action::kBecameQuiet;
  }
  return Action::kNone;
}

std::optional<RequestPacer::Clock::time_point> RequestPacer::deadline() const {
  if (waiting_)
    return startAt_;
  if (running_)
    return lastByteAt_ + (quiet_ ? kStall : kQuiet);
  return std::nullopt;
}
