#include "gui/CommonControls.h"

#include <windows.h>

bool CommonControls::init() {
  // Kept loaded until the process ends: its window classes live as long as the DLL.
  static HMODULE module = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module)
    return false;
  using InitFunction = void(WINAPI*)();
  auto initCommonControls = reinterpret_cast<InitFunction>(GetProcAddress(module, "InitCommonControls"));
  if (initCommonControls)
    initCommonControls();
  return initCommonControls != nullptr;
}
