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

bool Pump::settle(DWORD timeoutMs) {
  // Posted messages come back in the order they were posted.
  const UINT marker = WM_APP + 0x3FF0;
  static WPARAM serial = 0;
  const WPARAM mine = ++serial;
  PostThreadMessageA(GetCurrentThreadId(), marker, mine, 0);
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      Sleep(1);
      continue;
    }
    if (msg.message == marker && msg.hwnd == nullptr) {
      if (msg.wParam == mine)
        return true;
      continue;
    }
    deliver(msg);
  }
  return false;
}

void dropQueued() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

} // namespace qxtest
