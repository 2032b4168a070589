// Stands in for the installed game: writes "started.txt" next to itself with its own
// path, its working folder and its command line, one per line, then ends.
#include <windows.h>

#include <string>

int main() {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  char folder[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, folder);
  std::string record = std::string(self) + "\n" + folder + "\n" + GetCommandLineA() + "\n";
  std::string marker = self;
  marker = marker.substr(0, marker.find_last_of('\\') + 1) + "started.txt";
  HANDLE file = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 1;
  DWORD written = 0;
  WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(file);
  return 0;
}
