#pragma once
// The download speed the install page shows: bytes over the newest samples spanning at
// least three seconds, recomputed at most once a second. Portable.
#include <cstdint>
#include <deque>
#include <utility>

class DownloadSpeed {
public:
  // Adds the sample (bytes done, tick in milliseconds) and returns the speed in bytes
  // per second; it stays as it was until a second has passed since the last change.
  double sample(std::int64_t done, unsigned now);

private:
  std::deque<std::pair<std::int64_t, unsigned>> samples_;
  unsigned lastComputed_ = 0;
  double speed_ = 0.0;
};
