// Entry point of the toolkit tests.
#include <gtest/gtest.h>

#ifdef _WIN32
#include "gui/MessageLoop.h"
#include "tests/support/DialogWatcher.h"
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  registerWindowClass(GetModuleHandleA(nullptr));
  // Any message box a test raises is answered, so no test can hang on one.
  qxtest::DialogWatcher watcher;
#endif
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
