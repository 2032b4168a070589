#pragma once
// Helpers for tests with real windows: Unix tools of the X display (screenshots, input)
// started from the Windows side, and reading their PNG files.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gui/GdiPlus.h"
#include "tests/support/MessagePump.h"
#include "tests/support/TestFiles.h"

namespace qxtest {

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
// 0xRRGGBB of a loaded picture, 0xFFFFFFFF outside.
std::uint32_t rgbAt(Gdiplus::Bitmap& bitmap, int x, int y);

} // namespace qxtest
