#include "gui/DisplayScale.h"

namespace {

// DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 and _PER_MONITOR_AWARE, as the system defines them.
const HANDLE kPerMonitorV2 = reinterpret_cast<HANDLE>(-4);
const HANDLE kPerMonitor = reinterpret_cast<HANDLE>(-3);

template <typename Function> Function user32Function(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

} // namespace

void DisplayScale::declareAwareness() {
  using SetContext = BOOL(WINAPI*)(HANDLE);
  using GetContext = HANDLE(WINAPI*)();
  using SameContext = BOOL(WINAPI*)(HANDLE, HANDLE);
  auto set = user32Function<SetContext>("SetProcessDpiAwarenessContext");
  auto get = user32Function<GetContext>("GetThreadDpiAwarenessContext");
  auto same = user32Function<SameContext>("AreDpiAwarenessContextsEqual");
  // A manifest that was honoured already made the process aware; the call then fails.
  if (get && same && (same(get(), kPerMonitorV2) || same(get(), kPerMonitor))) return;
  if (set && (set(kPerMonitorV2) || set(kPerMonitor))) return;
  // Windows 7 and 8: one DPI for every monitor, the system's.
  SetProcessDPIAware();
}

int DisplayScale::system() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : kLayoutDpi;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kLayoutDpi;
}

int DisplayScale::forWindow(HWND window) {
  using ForWindow = UINT(WINAPI*)(HWND);
  static const auto forWindow = user32Function<ForWindow>("GetDpiForWindow");
  const UINT dpi = forWindow && window ? forWindow(window) : 0;
  return dpi ? int(dpi) : system();
}
