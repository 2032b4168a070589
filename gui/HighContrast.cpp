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
  g_state = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof setting, &setting, 0) &&
                    (setting.dwFlags & HCF_HIGHCONTRASTON)
                ? 1
                : 0;
}

std::uint32_t HighContrast::textColour() { return GetSysColor(COLOR_WINDOWTEXT); }

std::uint32_t HighContrast::backgroundColour() { return GetSysColor(COLOR_WINDOW); }
