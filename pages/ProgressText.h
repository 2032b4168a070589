#pragma once
// The install page's figures from exact 64-bit byte counts. Portable: the page's texts
// are tested natively with these.
#include <cstdint>
#include <string>

// done × 100 / total, truncated and held within 0 to 100; 0 when total ≤ 0.
int progressPercent(std::int64_t total, std::int64_t done);

// "游戏包体123.45M，速度2500K/s (V1.0.3)  ": the size in hundredths of a megabyte of
// 1,000,000 bytes, truncated; the speed in kilobytes of 1000 bytes a second, rounded.
std::string packageLine(std::int64_t total, double bytesPerSecond, const std::string& version);

// The lower line instead, while the download waits to reconnect.
extern const char kReconnectingLine[];
