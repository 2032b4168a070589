#include "tests/support/MessagePump.h"

namespace qxtest {

void Pump::runFor(DWORD ms) {
  const DWORD start = GetTickCount();
  do {
    MSG msg;
    while (GetTickCount() - start < ms && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;
        quitCode = static_cast<int>(msg.wParam);
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(1);
  } while (GetTickCount() - start < ms);
}

void Pump::step() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    Sleep(1);
    return;
  }
  if (msg.message == WM_QUIT) {
    quit = true;
    quitCode = static_cast<int>(msg.wParam);
    return;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void dropQueued() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

} // namespace qxtest
