#include "app/Elevation.h"

#include "app/ArgumentQuoting.h"
#include "app/UserLauncher.h"

namespace {

using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
using GetTokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);

BOOL systemShellExecute(SHELLEXECUTEINFOA* info) { return ShellExecuteExA(info); }

bool (*elevationQuery)() = isProcessElevated;
ShellExecuteCall shellExecute = systemShellExecute;

bool elevated() {
#ifdef QX_TEST_HOOKS
  // Under Wine every process is elevated; a test asks for one start without the rights.
  // The variable goes before the re-launch, so the elevated copy does not ask again.
  if (GetEnvironmentVariableA("QX_TEST_NOT_ELEVATED", nullptr, 0) > 0) {
    SetEnvironmentVariableA("QX_TEST_NOT_ELEVATED", nullptr);
    return false;
  }
#endif
  return elevationQuery();
}

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

#ifdef QX_TEST_HOOKS
void setElevationSeams(bool (*query)(), ShellExecuteCall call) {
  elevationQuery = query ? query : isProcessElevated;
  shellExecute = call ? call : systemShellExecute;
}
#endif

bool relaunchElevatedIfNeeded(const std::vector<std::string>& arguments, int& exitCode) {
  if (elevated())
    return false;
  OutputDebugStringA("Not runningAsAdmin. Elevating ...");
  char path[521] = {};
  GetModuleFileNameA(nullptr, path, sizeof path - 1);
  // The elevated copy asks this one, which has the player's own rights, to start the game
  // and the licence page.
  UserLauncher launcher;
  std::vector<std::string> forwarded = arguments;
  if (!launcher.name().empty()) {
    forwarded.push_back(UserLauncher::kOption);
    forwarded.push_back(launcher.name());
  }
  const std::string parameters = joinArguments(forwarded);
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.lpVerb = "runas";
  info.lpFile = path;
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOW;
  // Refused (the player said no) or not started: nothing was installed.
  exitCode = 1;
  if (!shellExecute(&info) || !info.hProcess)
    return true;
  exitCode = static_cast<int>(launcher.serveUntilExit(info.hProcess));
  CloseHandle(info.hProcess);
  return true;
}
