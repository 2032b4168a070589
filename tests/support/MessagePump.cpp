#include "tests/support/MessagePump.h"

namespace qxtest {

void Pump::deliver(const MSG& msg) {
  if (msg.message == WM_QUIT) {
    quit = true;
    quitCode = static_cast<int>(msg.wParam);
    return;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void Pump::runFor(DWORD ms) {
  const DWORD start = GetTickCount();
  do {
    MSG msg;
    while (GetTickCount() - start < ms && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
      deliver(msg);
    Sleep(1);
  } while (GetTickCount() - start < ms);
}

void Pump::step() {
  MSG msg;
  if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
    deliver(msg);
  else
    Sleep(1);
}

void dropQueued() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

} // namespace qxtest
