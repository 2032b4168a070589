// Entry point of the control tests: one window class registration and one message-box
// watcher for the whole run; tests that expect a box set its answer and count its boxes.
#include <gtest/gtest.h>

#include "gui/MessageLoop.h"
#include "tests/gui/ControlsTestSupport.h"

namespace controls_test {
qxtest::DialogWatcher* g_dialogs = nullptr;
} // namespace controls_test

int main(int argc, char** argv) {
  registerWindowClass(GetModuleHandleA(nullptr));
  // Cancel is the answer that changes nothing, so a box no test expected cannot close a
  // window behind the test's back; every box is answered, so none can hang the run.
  qxtest::DialogWatcher watcher(IDCANCEL);
  controls_test::g_dialogs = &watcher;
  testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  controls_test::g_dialogs = nullptr;
  return result;
}
