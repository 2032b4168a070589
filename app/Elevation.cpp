#include "app/Elevation.h"

#include <windows.h>
#include <shellapi.h>

namespace {

using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
using GetTokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);

void shellExecute(const std::string& verb, const std::string& file, const std::string& parameters, int show) {
  ShellExecuteA(nullptr, verb.c_str(), file.c_str(), parameters.c_str(), nullptr, show);
}

bool (*elevationQuery)() = isProcessElevated;
ShellLauncher launcher = shellExecute;

} // namespace

bool isProcessElevated() {
  // Looked up at run time so a system without the token API still starts; every failure
  // on the way counts as elevated.
  HMODULE advapi = LoadLibraryA("Advapi32.dll");
  if (!advapi)
    return true;
  bool elevated = true;
  auto openToken = reinterpret_cast<OpenProcessTokenFn>(GetProcAddress(advapi, "OpenProcessToken"));
  auto tokenInfo = reinterpret_cast<GetTokenInformationFn>(GetProcAddress(advapi, "GetTokenInformation"));
  HANDLE token = nullptr;
  if (openToken && tokenInfo && openToken(GetCurrentProcess(), 0x20008, &token)) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (tokenInfo(token, static_cast<TOKEN_INFORMATION_CLASS>(20), &value, sizeof value, &size))
      elevated = value != 0;
    CloseHandle(token);
  }
  FreeLibrary(advapi);
  return elevated;
}

#ifdef QX_TEST_API
void setElevationSeams(bool (*query)(), ShellLauncher shell) {
  elevationQuery = query ? query : isProcessElevated;
  launcher = shell ? shell : shellExecute;
}
#endif

bool relaunchElevatedIfNeeded(const std::string& commandLineText) {
  if (elevationQuery())
    return false;
  OutputDebugStringA("Not runningAsAdmin. Elevating ...");
  char path[521] = {};
  GetModuleFileNameA(nullptr, path, sizeof path - 1);
  launcher("runas", path, commandLineText, SW_SHOW);
  return true;
}
