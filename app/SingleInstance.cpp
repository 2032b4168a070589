#include "app/SingleInstance.h"

namespace {
HANDLE mutex = nullptr;
}

bool acquireSingleInstance() {
  mutex = CreateMutexW(nullptr, TRUE, L"星海奇遇记");
  // Read before anything else can overwrite it.
  const DWORD error = GetLastError();
  OutputDebugStringA("after creating mutex");
  if (!mutex) {
    OutputDebugStringA("create mutex failed");
    return true;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    releaseSingleInstance();
    return false;
  }
  return true;
}

void releaseSingleInstance() {
  if (!mutex)
    return;
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  mutex = nullptr;
}
