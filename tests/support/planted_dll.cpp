// A DLL named like a system one, for tests that place it beside a program: when it is
// loaded it writes "planted-dll-loaded.txt" beside itself. It exports the functions the
// importing control program names, as stubs that fail.
#include <windows.h>

#include <string>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    std::wstring marker(path, length);
    marker = marker.substr(0, marker.find_last_of(L'\\') + 1) + L"planted-dll-loaded.txt";
    HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
      CloseHandle(file);
  }
  return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI WinHttpCheckPlatform() { return FALSE; }
