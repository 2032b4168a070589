#include <windows.h>

#include <cstdlib>

#include "app/Startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::vector<std::string> argv;
  for (int i = 0; i < __argc; ++i)
    argv.emplace_back(__argv[i]);
  return runInstaller(argv);
}
