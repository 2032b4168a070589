#include "app/SelfRestart.h"

#include <windows.h>
#include <shellapi.h>

#include "app/ArgumentQuoting.h"
#include "app/SingleInstance.h"
#include "app/UserLauncher.h"

namespace {

bool createProcess(const std::wstring& commandLine) {
  std::wstring buffer = commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &buffer[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

ProcessStarter starter = createProcess;

} // namespace

void holdOwnProgramFile() {
  static HANDLE held = INVALID_HANDLE_VALUE;
  if (held != INVALID_HANDLE_VALUE)
    return;
  std::wstring path(10240, L'\0');
  path.resize(GetModuleFileNameW(nullptr, &path[0], 10239));
  held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

std::vector<std::wstring> ownArguments() {
  int count = 0;
  LPWSTR* parsed = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> arguments;
  if (!parsed)
    return arguments;
  const std::string option = UserLauncher::kOption;
  const std::wstring channel(option.begin(), option.end());
  for (int i = 1; i < count; ++i) {
    if (parsed[i] == channel && i + 1 < count) {
      ++i;
      continue;
    }
    arguments.emplace_back(parsed[i]);
  }
  LocalFree(parsed);
  return arguments;
}

bool startNewCopy(const std::vector<std::wstring>& arguments) {
  std::wstring path(10240, L'\0');
  path.resize(GetModuleFileNameW(nullptr, &path[0], 10239));
  std::wstring command = quoteArgument(path);
  if (!arguments.empty())
    command += L" " + joinArguments(arguments);
  // Released is not enough: while this copy holds a handle, the lock still exists.
  releaseSingleInstance();
  return starter(command);
}

void setProcessStarter(ProcessStarter replacement) { starter = replacement ? replacement : createProcess; }
