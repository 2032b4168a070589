#include "gui/MessageLoop.h"

#include <cstring>

#include "gui/CommonControls.h"
#include "gui/Window.h"

namespace {

HINSTANCE g_instance = nullptr;

HWND topLevelAncestor(HWND hwnd) {
  for (HWND parent = GetParent(hwnd); parent; parent = GetParent(hwnd)) hwnd = parent;
  return hwnd;
}

} // namespace

void registerWindowClass(HINSTANCE instance) {
  g_instance = instance;
  // A Unicode window class: its title and text messages are not squeezed through the
  // system's ANSI code page.
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = simpleGUI::Window::staticWindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(32512));
  wc.hIconSm = wc.hIcon;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = L"SimpleWindow";
  if (!RegisterClassExW(&wc)) MessageBoxW(nullptr, L"RegisterClassEx failed!", L"SimpleWindow", MB_ICONERROR);
  CommonControls::init();
}

HINSTANCE moduleInstance() { return g_instance ? g_instance : GetModuleHandleA(nullptr); }

int runMessageLoop() {
  MSG msg;
  for (;;) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) return -1;
    if (got == 0) return int(msg.wParam);
    if (msg.hwnd) {
      HWND top = topLevelAncestor(msg.hwnd);
      char className[64] = {};
      GetClassNameA(top, className, sizeof(className));
      if (std::strcmp(className, "SimpleWindow") == 0) {
        auto* window = reinterpret_cast<simpleGUI::Window*>(GetWindowLongPtrA(top, GWLP_USERDATA));
        if (window && window->preTranslateMessage(&msg)) continue;
      }
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}
