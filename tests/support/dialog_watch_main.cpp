// Answers the message boxes of the programs a test runs, and logs them, for tests driven
// from the Linux side:  dialog_watch.exe <log file> <answer id> <seconds> <program name>
// (boxes of processes whose program file name contains <program name>).
// Each box becomes one line "caption<TAB>text" (ANSI code page, line ends in the text
// written as \n). Ends after <seconds> or when "<log file>.stop" appears.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/DialogWatcher.h"

int main(int argc, char** argv) {
  if (argc < 5)
    return 2;
  const std::string log = argv[1];
  const std::string stop = log + ".stop";
  qxtest::DialogWatcher watcher(std::atoi(argv[2]), argv[4]);
  const DWORD end = GetTickCount() + static_cast<DWORD>(std::atoi(argv[3])) * 1000;
  size_t written = 0;
  for (;;) {
    const auto boxes = watcher.boxes();
    for (; written < boxes.size(); ++written) {
      std::string text = boxes[written].text;
      for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;)
        text.replace(at, 2, "\\n");
      if (FILE* file = std::fopen(log.c_str(), "ab")) {
        std::fprintf(file, "%s\t%s\n", boxes[written].caption.c_str(), text.c_str());
        std::fclose(file);
      }
    }
    if (GetFileAttributesA(stop.c_str()) != INVALID_FILE_ATTRIBUTES || GetTickCount() > end)
      return 0;
    Sleep(50);
  }
}
