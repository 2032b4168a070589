// embed_payload.exe <installer> <payload>: replaces the package carried by a copy of an
// installer (resource "SETUP.EXE" of type 1056, neutral language) with the payload file,
// for the embedded-payload memory benchmark. Ends with 0 on success.
#include <windows.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: embed_payload <installer> <payload>\n");
    return 2;
  }
  HANDLE file = CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  LARGE_INTEGER size{};
  if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size) || size.QuadPart > 0x7FFFFFFF)
    return 1;
  std::vector<char> data(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  const bool read = ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &got, nullptr) && got == data.size();
  CloseHandle(file);
  if (!read)
    return 1;
  HANDLE update = BeginUpdateResourceA(argv[1], FALSE);
  if (!update)
    return 1;
  if (!UpdateResourceA(update, MAKEINTRESOURCEA(1056), "SETUP.EXE", MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                       data.data(), static_cast<DWORD>(data.size()))) {
    EndUpdateResourceA(update, TRUE);
    return 1;
  }
  return EndUpdateResourceA(update, FALSE) ? 0 : 1;
}
