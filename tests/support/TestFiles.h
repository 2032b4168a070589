#pragma once
// Portable helpers for tests: scratch folders, the screenshot folder, whole-file reads and
// writes, and colour comparison.
#include <algorithm>
#include <cstdlib>
#include <string>

namespace qxtest {

// A fresh, empty folder under the build tree, unique per call; removed by the caller
// when it wants (tests leave it for inspection on failure).
std::string scratchFolder(const std::string& tag);

// <build>/screenshots, created on demand: pictures tests took, kept for people to look at.
std::string screenshotFolder();

std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
// Waits until the file is there and not empty (another process writes it); its content,
// or empty after `timeoutMs`.
std::string waitForFile(const std::string& path, unsigned timeoutMs);

// The largest per-channel difference of two 0x..RRGGBB colours (alpha ignored).
inline int channelDistance(unsigned a, unsigned b) {
  int worst = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    worst = std::max(worst, std::abs(d));
  }
  return worst;
}

// An image's pixel (0xAABBGGRR) as a window's back buffer holds it (0x00RRGGBB).
inline unsigned shownColour(unsigned imagePixel) {
  return ((imagePixel & 0xFF) << 16) | (imagePixel & 0xFF00) | ((imagePixel >> 16) & 0xFF);
}

} // namespace qxtest
