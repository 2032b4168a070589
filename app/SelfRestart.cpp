#include "app/SelfRestart.h"

#include <windows.h>
#include <shellapi.h>

#include "app/ArgumentQuoting.h"
#include "app/SingleInstance.h"

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

std::vector<std::wstring> ownArguments() {
  int count = 0;
  LPWSTR* parsed = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> arguments;
  if (!parsed)
    return arguments;
  for (int i = 1; i < count; ++i)
    arguments.emplace_back(parsed[i]);
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
