#include "pages/ProgressText.h"

#include <algorithm>
#include <cstdio>

const char kReconnectingLine[] = "网络不稳定，正在重新连接…";

int progressPercent(std::int64_t total, std::int64_t done) {
  if (total <= 0)
    return 0;
  // done × 100 would overflow only past 92 PB; the quotient is taken without it anyway.
  const std::int64_t percent = done / total * 100 + done % total * 100 / total;
  return static_cast<int>(std::clamp<std::int64_t>(percent, 0, 100));
}

std::string packageLine(std::int64_t total, double bytesPerSecond, const std::string& version) {
  const std::int64_t hundredths = std::max<std::int64_t>(total, 0) / 10000;
  const long long kilobytes = static_cast<long long>(bytesPerSecond / 1000.0 + 0.5);
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, "%02d", static_cast<int>(hundredths % 100));
  return "游戏包体" + std::to_string(hundredths / 100) + "." + fraction + "M，速度" + std::to_string(kilobytes) +
         "K/s (V" + version + ")  ";
}
