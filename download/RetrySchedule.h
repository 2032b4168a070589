#pragma once
// When a failed transfer is tried again, and when it is given up. Portable (no system
// headers), so the schedule is tested natively with a clock and a random source of the
// test's own.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The retry schedule of one transfer: a capped exponential backoff with jitter, the
// server's Retry-After honoured up to a cap, and a budget that measures progress rather
// than tries, so a connection that drops every few hundred megabytes still finishes.
// One owner at a time; it takes no lock.
class RetrySchedule {
public:
  using Clock = std::function<std::int64_t()>;  // monotonic milliseconds
  using Random = std::function<double()>;       // uniform in [0, 1)

  static constexpr std::int64_t kFirstDelayMs = 1000;
  static constexpr std::int64_t kMaxDelayMs = 30000;
  static constexpr double kJitter = 0.25;  // each delay varies by up to this share either way
  static constexpr std::int64_t kMaxRetryAfterMs = 5 * 60 * 1000;
  // The budget: this many failed attempts in a row without a new byte, or this long
  // without one.
  static constexpr int kAttemptsWithoutProgress = 8;
  static constexpr std::int64_t kTimeWithoutProgressMs = 10 * 60 * 1000;

  // The owner's clock and random source (the transfer engine's, which has no clock of
  // its own). The time without progress counts from here.
  RetrySchedule(Clock clock, Random random);

  // New bytes arrived: the budget starts afresh and the next delay is the first again.
  void progressed();
  // An attempt failed with a transient fault. Returns the wait before the next attempt
  // in milliseconds, or nothing when the budget is spent. `retryAfterMs` is the server's
  // Retry-After, when it sent one: the wait is never shorter than it (up to the cap).
  std::optional<std::int64_t> failed(std::optional<std::int64_t> retryAfterMs = std::nullopt);
  // Failed attempts since the last progress.
  int failuresInARow() const { return failures_; }

  // Statuses worth another attempt: 408, 429 and every 5xx. Every other 4xx is final.
  static bool transientStatus(int status);
  // A Retry-After value, delay seconds or an HTTP date, as milliseconds from
  // `nowUnixSeconds`; a date in the past gives 0. Nothing when the value is malformed.
  static std::optional<std::int64_t> retryAfterMs(const std::string& value, std::int64_t nowUnixSeconds);

private:
  Clock clock_;
  Random random_;
  std::int64_t lastProgressMs_ = 0;
  int failures_ = 0;
};
