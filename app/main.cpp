#include <windows.h>

#include <cstdlib>

#include "app/Startup.h"
#include "gui/DisplayScale.h"

namespace {

// First of all, before anything can load a DLL: from now on only the system folder is
// searched, so no DLL placed beside the program (a Downloads folder) is loaded with its
// administrator rights. Looked up, because a Windows 7 without its loader update lacks
// it; there at least the current folder leaves the search.
void restrictDllSearchToSystemFolder() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories"));
  if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
    SetDllDirectoryW(L"");
}

} // namespace

// The standard handler for an exception nothing catches prints its type, demangled, to a
// console that a window program does not have; the demangler alone is 46 KB of the
// program. The end is the same without it.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
} // namespace __gnu_cxx

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  restrictDllSearchToSystemFolder();
  DisplayScale::declareAwareness();
  std::vector<std::string> argv;
  for (int i = 0; i < __argc; ++i)
    argv.emplace_back(__argv[i]);
  return runInstaller(argv);
}
