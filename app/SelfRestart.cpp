#include "app/SelfRestart.h"

#include <windows.h>
#include <shellapi.h>

#include "app/ArgumentQuoting.h"
#include "app/SingleInstance.h"
#include "app/UserLauncher.h"

namespace {

bool createProcess(const std::wstring& commandLine, DWORD flags, PROCESS_INFORMATION& process) {
  std::wstring buffer = commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  return CreateProcessW(nullptr, &buffer[0], nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup, &process);
}

bool createProcess(const std::wstring& commandLine) {
  PROCESS_INFORMATION process{};
  if (!createProcess(commandLine, 0, process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// With the unelevated copy waiting, the new copy keeps the pipe to it: made suspended, it
// runs only once that copy has agreed to serve it (it cannot open a process this one
// does not hold). Refused, it never runs.
bool startKeepingChannel(const std::wstring& command) {
  const std::string& channel = UserLauncher::adopted();
  if (channel.empty())
    return false;
  const std::string option = UserLauncher::kOption;
  PROCESS_INFORMATION process{};
  if (!createProcess(command + L" " + std::wstring(option.begin(), option.end()) + L" " +
                         quoteArgument(std::wstring(channel.begin(), channel.end())),
                     CREATE_SUSPENDED, process))
    return false;
  const bool kept = UserLauncher::handOver(process.dwProcessId);
  if (kept)
    ResumeThread(process.hThread);
  else
    TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return kept;
}

ProcessStarter starter = static_cast<ProcessStarter>(createProcess);

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
  if (starter == static_cast<ProcessStarter>(createProcess) && startKeepingChannel(command))
    return true;
  return starter(command);
}

void setProcessStarter(ProcessStarter replacement) {
  starter = replacement ? replacement : static_cast<ProcessStarter>(createProcess);
}
