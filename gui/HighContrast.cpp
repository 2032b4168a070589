#include "gui/HighContrast.h"

#include <windows.h>

namespace {

int g_state = -1;  // unknown until first asked

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
  // Wine keeps no such setting (setting it fails, asking says off): a test turns it on
  // where Windows stores it for the user, then tells the windows the colours changed.
  wchar_t flags[16] = {};
  DWORD size = sizeof flags;
  on = on || (RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Accessibility\\HighContrast", L"Flags",
                           RRF_RT_REG_SZ, nullptr, flags, &size) == ERROR_SUCCESS &&
              (_wtoi(flags) & HCF_HIGHCONTRASTON));
#endif
  g_state = on ? 1 : 0;
}

std::uint32_t HighContrast::textColour() { return GetSysColor(COLOR_WINDOWTEXT); }

std::uint32_t HighContrast::backgroundColour() { return GetSysColor(COLOR_WINDOW); }
