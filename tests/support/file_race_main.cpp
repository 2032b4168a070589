// file_race <file> <log>: what another program can do to a file right now. Logs one line
// per try, "<try> <0 or the system's error code>": open for writing, rename (undone when
// it worked), delete, open for reading.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3)
    return 2;
  const std::wstring file = argv[1], moved = file + L".moved";
  std::string log;
  auto note = [&log](const char* name, bool ok) {
    log += std::string(name) + " " + std::to_string(ok ? 0 : GetLastError()) + "\n";
  };
  const DWORD anyone = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE writer = CreateFileW(file.c_str(), GENERIC_WRITE, anyone, nullptr, OPEN_EXISTING, 0, nullptr);
  note("write", writer != INVALID_HANDLE_VALUE);
  const bool renamed = MoveFileW(file.c_str(), moved.c_str());
  note("rename", renamed);
  if (renamed)
    MoveFileW(moved.c_str(), file.c_str());
  note("delete", DeleteFileW(file.c_str()));
  HANDLE reader = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  note("read", reader != INVALID_HANDLE_VALUE);
  for (HANDLE handle : {writer, reader})
    if (handle != INVALID_HANDLE_VALUE)
      CloseHandle(handle);
  FILE* out = _wfopen(argv[2], L"wb");
  return out && std::fwrite(log.data(), 1, log.size(), out) == log.size() && std::fclose(out) == 0 ? 0 : 1;
}
