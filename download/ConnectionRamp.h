#pragma once
// How many connections a download uses at once. It adds them one at a time, and only
// while the total rate still grows by a tenth per added connection; a connection the
// server refuses (429, 503) or closes costs one connection for the rest of the
// download. Portable: the owner tells it the time and the bytes and does what it decides.
#include <chrono>
#include <cstdint>

// The owner serialises the calls; it takes no lock.
class ConnectionRamp {
public:
  using Clock = std::chrono::steady_clock;
  // The rate of each step is measured from the newest connection's first byte, over at
  // least kShortestWindow and kWindowBytes per connection (a slow line needs longer to
  // tell a trend from noise), or at most kLongestWindow.
  static constexpr std::chrono::milliseconds kShortestWindow{100};
  static constexpr std::chrono::milliseconds kLongestWindow{1000};
  static constexpr std::int64_t kWindowBytes = 1 << 20;
  static constexpr double kGrowth = 1.10;

  enum class Action {
    kNone,
    kAdd,         // open one more connection
    kDropNewest,  // the newest connection did not pay: close it
  };

  // At most `most` connections (at least 1).
  explicit ConnectionRamp(int most = 1);

  // Several connections may be used from now on; one is running and receiving.
  void begin(Clock::time_point now);
  // Bytes arrived on any connection.
  void received(std::int64_t bytes) { bytes_ += bytes; }
  // The connection added last received its first byte: its step is measured from now.
  void firstByte(Clock::time_point now);
  // The server refused a connection or closed it: one fewer from now on.
  void refused();
  // What is to be done at `now`; call it whenever bytes arrive.
  Action due(Clock::time_point now);

  // The connections wanted now.
  int wanted() const { return wanted_; }
  bool ramping() const { return state_ == State::kMeasuring || state_ == State::kConnecting; }

private:
  enum class State { kOff, kMeasuring, kConnecting, kSettled };
  int most_;
  int wanted_ = 1;
  State state_ = State::kOff;
  Clock::time_point windowStart_{};
  std::int64_t bytes_ = 0;
  double lastRate_ = 0;  // bytes per second of the step before
  bool secondLook_ = false;
  Clock::time_point secondLookAt_{};
};
