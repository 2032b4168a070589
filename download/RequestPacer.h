#pragma once
// When a download's next request starts, and when the running one has been silent too
// long. Portable: the owner tells it the time and does what it decides, so the decisions
// are tested natively.
#include <chrono>
#include <cstdint>
#include <optional>

#include "download/RetrySchedule.h"

// One download's requests, one at a time: the first starts at once; after a transient
// failure the next is due after the retry schedule's wait; a request that receives
// nothing for kQuiet makes the download "quiet" (the window says it is reconnecting), and
// for kStall is given up. Quiet lasts from a failure or that silence to the next byte.
// The owner serialises the calls; it takes no lock.
class RequestPacer {
public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kQuiet{5000};
  static constexpr std::chrono::milliseconds kStall{30000};

  enum class Action {
    kNone,
    kStart,        // send the next request now
    kBecameQuiet,  // the running request has been silent for kQuiet
    kStalled,      // the running request has been silent for kStall: give it up
  };

  explicit RequestPacer(RetrySchedule schedule = RetrySchedule()) : schedule_(std::move(schedule)) {}

  // The first request is due at once.
  void begin(Clock::time_point now);
  // A request was sent; its silence counts from now.
  void sent(Clock::time_point now);
  // Bytes were written: the budget starts afresh and the download is no longer quiet.
  void progressed(Clock::time_point now);
  // The running request ended with a transient fault. True when another is due (at
  // deadline()), and the download is quiet until its bytes come; false when the budget
  // is spent.
  bool failed(Clock::time_point now, std::optional<std::int64_t> retryAfterMs);
  // The running request ended for good.
  void ended() { running_ = false; }

  // What is to be done at `now`.
  Action due(Clock::time_point now);
  // When due() has something to do next; nothing while no request runs or waits.
  std::optional<Clock::time_point> deadline() const;
  bool quiet() const { return quiet_; }

private:
  RetrySchedule schedule_;
  bool waiting_ = false;  // the next request starts at startAt_
  Clock::time_point startAt_{};
  bool running_ = false;
  Clock::time_point lastByteAt_{};  // of the running request: its start until a byte comes
  bool quiet_ = false;
};
