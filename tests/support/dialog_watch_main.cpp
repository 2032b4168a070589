// Answers the message boxes of the programs a test runs, and logs them, for tests driven
// from the Linux side:  dialog_watch.exe <log file> <answer id> <seconds> <program name>
// (boxes of processes whose program file name contains <program name>).
// Each box becomes one line "caption<TAB>text" (ANSI code page, line ends in the text
// written as \n); the log is made once the watching begins. Ends after <seconds> or
// when "<log file>.stop" appears.
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
  const std::string flush = log + ".flush";
  qxtest::DialogWatcher watcher(std::atoi(argv[2]), argv[4]);
  const DWORD end = GetTickCount() + static_cast<DWORD>(std::atoi(argv[3])) * 1000;
  // The log's existence tells the test that boxes are watched from now on.
  if (FILE* file = std::fopen(log.c_str(), "ab"))
    std::fclose(file);
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
    // A test asks for every box seen so far by making "<log file>.flush": it goes once
    // they are written.
    DeleteFileA(flush.c_str());
    if (GetFileAttributesA(stop.c_str()) != INVALID_FILE_ATTRIBUTES || GetTickCount() > end)
      return 0;
    Sleep(50);
  }
}
