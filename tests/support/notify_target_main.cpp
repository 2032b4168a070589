// A window of "another program" that asks for install progress:
//   notify_target.exe <window title> <log file> <seconds>
// Logs every message 6365 it receives as a line "done total"; ends after <seconds> or
// when "<log file>.stop" appears.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string logPath;

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == 6365) {
    if (FILE* file = std::fopen(logPath.c_str(), "ab")) {
      std::fprintf(file, "%llu %lld\n", static_cast<unsigned long long>(wParam), static_cast<long long>(lParam));
      std::fclose(file);
    }
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 4)
    return 2;
  logPath = argv[2];
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "QxNotifyTarget";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowA("QxNotifyTarget", argv[1], WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                              windowClass.hInstance, nullptr);
  if (!window)
    return 3;
  // The log's existence tells the test that the window can be found.
  if (FILE* file = std::fopen(logPath.c_str(), "ab"))
    std::fclose(file);
  const std::string stop = logPath + ".stop";
  const DWORD end = GetTickCount() + static_cast<DWORD>(std::atoi(argv[3])) * 1000;
  // What was sent before the stop is logged before it ends.
  for (bool stopping = false; !stopping;) {
    stopping = GetTickCount() > end || GetFileAttributesA(stop.c_str()) != INVALID_FILE_ATTRIBUTES;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageA(&message);
    Sleep(10);
  }
  DestroyWindow(window);
  return 0;
}
