// terminate.exe <file name> <exit code>: ends every process whose program file has that
// name the way a task manager does, with TerminateProcess and the given code. A Unix
// signal would not do: Wine reports a process killed that way as having ended with 0.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: terminate <file name> <exit code>\n");
    return 2;
  }
  const UINT code = static_cast<UINT>(std::strtoul(argv[2], nullptr, 10));
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return 1;
  int ended = 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (_stricmp(entry.szExeFile, argv[1]) != 0)
      continue;
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
    if (process && TerminateProcess(process, code))
      ++ended;
    if (process)
      CloseHandle(process);
  }
  CloseHandle(snapshot);
  std::printf("ended %d\n", ended);
  return ended > 0 ? 0 : 1;
}
