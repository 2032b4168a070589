#include "gui/HighContrast.h"

#include <windows.h>

namespace {

int g_state = -1;  // unknown until first asked

#ifdef QX_TEST_HOOKS
// Wine keeps no high-contrast setting (setting it fails, asking says off): a test turns it
// on where Windows stores it for the user, and says so with WM_SETTINGCHANGE.
bool storedOn() {
  wchar_t flags[16] = {};
  DWORD size = sizeof flags;
  return RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Accessibility\\HighContrast", L"Flags", RRF_RT_REG_SZ,
                      nullptr, flags, &size) == ERROR_SUCCESS &&
         (_wtoi(flags) & HCF_HIGHCONTRASTON);
}
#endif

} // namespace

bool HighContrast::on() {
  if (g_state < 0) refresh();
  return g_state == 1;
}

void HighContrast::refresh() {
  HIGHCONTRASTW setting{};
  setting.cbSize = sizeof setting;
  bool on = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof setting, &setting, 0) &&
            (setting.dwFlags & HCF_HIGHCONTRASTON);
#ifdef QX_TEST_HOOKS
  on = on || storedOn();
#endif
  g_state = on ? 1 : 0;
}

std::uint32_t HighContrast::textColour() { return GetSysColor(COLOR_WINDOWTEXT); }

std::uint32_t HighContrast::backgroundColour() { return GetSysColor(COLOR_WINDOW); }
