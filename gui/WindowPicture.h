#pragma once
// The picture of a toolkit window as a player sees it: the window's back buffer with its
// visible native child windows (the path box's edit control) printed over it, and the
// colour key transparent. Works as well for a window that is never shown. UI thread only.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class WindowPicture {
public:
  // `width` by `height` pixels, rows top first, 0xAARRGGBB; alpha 0 where the colour key
  // lets the desktop through, else 255.
  static std::vector<std::uint32_t> capture(HWND window, int width, int height);
  // Writes the pixels as a PNG file with GDI+'s encoder; false when that failed.
  static bool savePng(const std::vector<std::uint32_t>& pixels, int width, int height, const std::wstring& path);
};
