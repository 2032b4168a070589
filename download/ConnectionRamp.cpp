#include "download/ConnectionRamp.h"

#include <algorithm>

ConnectionRamp::ConnectionRamp(int most) : most_(std::max(most, 1)) {}

void ConnectionRamp::begin(Clock::time_point now) {
  if (state_ != State::kOff)
    return;
  state_ = most_ > 1 ? State::kMeasuring : State::kSettled;
  windowStart_ = now;
  bytes_ = 0;
}

void ConnectionRamp::firstByte(Clock::time_point now) {
  if (state_ != State::kConnecting)
    return;
  state_ = State::kMeasuring;
  windowStart_ = now;
  bytes_ = 0;
  secondLook_ = false;
}

void ConnectionRamp::refused() {
  most_ = std::max(1, wanted_ - 1);
  wanted_ = most_;
  if (state_ != State::kOff)
    state_ = State::kSettled;
}

ConnectionRamp::Action ConnectionRamp::due(Clock::time_point now) {
  if (state_ != State::kMeasuring || now - windowStart_ < kShortestWindow ||
      (bytes_ < wanted_ * kWindowBytes && now - windowStart_ < kLongestWindow))
    return Action::kNone;
  const double seconds = std::chrono::duration<double>(now - windowStart_).count();
  const double rate = static_cast<double>(bytes_) / seconds;
  if (wanted_ > 1 && rate < lastRate_ * kGrowth && !secondLook_) {
    // A short window catches the line's bursts as well as its trend: before a
    // connection goes, the same window is looked at for twice as long.
    secondLook_ = true;
    secondLookAt_ = windowStart_ + 2 * (now - windowStart_);
  }
  if (secondLook_ && now < secondLookAt_)
    return Action::kNone;
  secondLook_ = false;
  if (wanted_ > 1 && rate < lastRate_ * kGrowth) {
    // The server or the line gives no more for one more connection: it only costs them.
    most_ = wanted_ - 1;
    wanted_ = most_;
    state_ = State::kSettled;
    return Action::kDropNewest;
  }
  lastRate_ = rate;
  if (wanted_ >= most_) {
    state_ = State::kSettled;
    return Action::kNone;
  }
  ++wanted_;
  state_ = State::kConnecting;
  return Action::kAdd;
}
