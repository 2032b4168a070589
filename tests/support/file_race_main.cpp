// file_race <file> <log>: what another program on the machine can do to a file right now.
// Tries to open it for writing, to delete it and to rename it, then to read it, and logs
// one line per try: "<try> <0 or the system's error code>". A try that succeeds is undone
// where it can be (the rename), so the file stays for the program that holds it.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

DWORD outcome(bool ok) { return ok ? 0 : GetLastError(); }

} // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3)
    return 2;
  const std::wstring file = argv[1];
  const std::wstring moved = file + L".moved";
  std::string log;
  auto note = [&log](const char* name, DWORD code) { log += std::string(name) + " " + std::to_string(code) + "\n"; };

  HANDLE writer = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  note("write", outcome(writer != INVALID_HANDLE_VALUE));
  if (writer != INVALID_HANDLE_VALUE)
    CloseHandle(writer);
  const bool renamed = MoveFileW(file.c_str(), moved.c_str());
  note("rename", outcome(renamed));
  if (renamed)
    MoveFileW(moved.c_str(), file.c_str());
  note("delete", outcome(DeleteFileW(file.c_str())));
  HANDLE reader = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  note("read", outcome(reader != INVALID_HANDLE_VALUE));
  if (reader != INVALID_HANDLE_VALUE)
    CloseHandle(reader);

  FILE* out = _wfopen(argv[2], L"wb");
  if (!out)
    return 1;
  std::fwrite(log.data(), 1, log.size(), out);
  std::fclose(out);
  return 0;
}
