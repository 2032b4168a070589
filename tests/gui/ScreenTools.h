#pragma once
// Helpers for tests with real windows: message pumping with bounded waits, Unix tools of
// the X display (screenshots, input) started from the Windows side, and PNG files.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gui/GdiPlus.h"

namespace qxtest {

// Dispatches this thread's messages for `ms` milliseconds.
void pump(DWORD ms);

// Dispatches messages until `done()` or `timeoutMs`; false on timeout.
template <typename F>
bool pumpUntil(F done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    pump(5);
  }
  return true;
}

// Unix path of the folder for pictures tests took (created on demand).
std::string screenshotFolder();
// A Unix path as the Windows side opens it.
std::wstring windowsPath(const std::string& unixPath);

// Runs a /bin/sh command of the X session (no double quotes in it) and waits for it to
// end, at most `timeoutMs`. The display's programs are started directly by Wine; their
// end is seen through a marker file.
bool runUnixCommand(const std::string& shellCommand, DWORD timeoutMs);
// `import -window root` into `unixPng`; false if no picture appeared in time.
bool screenshot(const std::string& unixPng);
// Moves the pointer to screen point (x, y) and clicks the left button (xdotool).
bool clickAt(int x, int y);

std::unique_ptr<Gdiplus::Bitmap> loadPng(const std::string& unixPath);
// Pixels are 0x00RRGGBB (alpha ignored), rows top first.
bool savePng(const std::string& unixPath, const std::vector<std::uint32_t>& pixels, int width,
             int height);
// 0xRRGGBB of a loaded picture, 0xFFFFFFFF outside.
std::uint32_t rgbAt(Gdiplus::Bitmap& bitmap, int x, int y);

// True when each channel of the two 0x..RRGGBB colours differs by at most `tolerance`.
bool colourNear(std::uint32_t a, std::uint32_t b, int tolerance);

} // namespace qxtest
