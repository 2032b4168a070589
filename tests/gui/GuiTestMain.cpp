// Entry point of the toolkit tests: one window class registration and one message-box
// watcher for the whole run, whose boxes the control tests count (ControlsTestSupport.h).
#include <gtest/gtest.h>

#ifdef _WIN32
#include "gui/MessageLoop.h"
#include "tests/support/DialogWatcher.h"

namespace controls_test {
qxtest::DialogWatcher* g_dialogs = nullptr;
} // namespace controls_test
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  registerWindowClass(GetModuleHandleA(nullptr));
  // Cancel is the answer that changes nothing, so a box no test expected cannot close a
  // window behind the test's back; every box is answered, so none can hang the run.
  qxtest::DialogWatcher watcher(IDCANCEL);
  controls_test::g_dialogs = &watcher;
#endif
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
#ifdef _WIN32
  controls_test::g_dialogs = nullptr;
#endif
  return result;
}
