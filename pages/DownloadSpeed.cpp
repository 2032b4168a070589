#include "pages/DownloadSpeed.h"

#include <cstddef>

namespace {
constexpr unsigned kWindowMs = 3000;
constexpr unsigned kPeriodMs = 1000;
} // namespace

// Keeps the newest sample at least 3 s old and everything after it; tick differences
// are unsigned, so a wrapping tick count keeps working.
double DownloadSpeed::sample(std::int64_t done, unsigned now) {
  samples_.emplace_back(done, now);
  std::size_t oldEnough = samples_.size();
  for (std::size_t i = samples_.size(); i-- > 0;) {
    if (now - samples_[i].second >= kWindowMs) {
      oldEnough = i;
      break;
    }
  }
  if (oldEnough < samples_.size())
    samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(oldEnough));
  if (now - lastComputed_ > kPeriodMs && samples_.size() >= 2) {
    const unsigned span = samples_.back().second - samples_.front().second;
    // Samples of one tick give no rate; the previous speed stands until they differ.
    if (span > 0) {
      lastComputed_ = now;
      speed_ = static_cast<double>(samples_.back().first - samples_.front().first) / (span / 1000.0);
    }
  }
  return speed_;
}
