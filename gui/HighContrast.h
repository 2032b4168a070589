#pragma once
// Whether the system's high-contrast mode is on, read once and again whenever the system
// says its settings changed. While it is, texts and the focus mark are drawn in the
// system's colours over its window colour; the skin's pictures stay. UI thread only.
#include <cstdint>

class HighContrast {
public:
  static bool on();
  // Reads the setting again (on WM_SETTINGCHANGE and WM_SYSCOLORCHANGE).
  static void refresh();
  // 0x00BBGGRR.
  static std::uint32_t textColour();
  static std::uint32_t backgroundColour();
};
