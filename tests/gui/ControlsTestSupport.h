#pragma once
// Shared by the control tests: a real frame window (StandardWidget with its QxGUISPWnd)
// shared by a suite, and synchronous mouse messages in window coordinates.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "gui/DrawItem.h"
#include "gui/QxActionListener.h"
#include "gui/QxGUISPWnd.h"
#include "gui/QxGUISPWndTestApi.h"
#include "gui/QxWidget.h"
#include "gui/StandardWidget.h"
#include "tests/support/ActionRecorder.h"
#include "tests/support/DialogWatcher.h"
#include "tests/support/MessagePump.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowInput.h"

namespace controls_test {

// Waits until what was posted before it was handled, instead of pumping for a fixed time.
// A destroyed test window posts WM_QUIT, which outlasts that wait and would end the next
// message box at once: after a window goes, the queue is dropped (qxtest::dropQueued).
using qxtest::settle;
using qxtest::pumpUntil;

using Recorder = qxtest::ActionRecorder;

// The run's message-box watcher (GuiTestMain.cpp); it answers IDCANCEL, which changes
// nothing.
extern qxtest::DialogWatcher* g_dialogs;

// Reports the boxes answered since it was made.
class BoxesSince {
public:
  BoxesSince() : start_(g_dialogs->boxes().size()) {}
  qxtest::Boxes boxes() const {
    const qxtest::Boxes all = g_dialogs->boxes();
    return qxtest::Boxes(all.begin() + static_cast<long>(start_), all.end());
  }

private:
  size_t start_;
};

using qxtest::click;
using qxtest::point;

// The widget's items of one kind, in list order.
inline std::vector<DrawItem> itemsOfKind(const QxWidget& w, int kind) {
  std::vector<DrawItem> out;
  for (const DrawItem& item : w.items())
    if (item.kind == kind) out.push_back(item);
  return out;
}

// One frame window for a whole suite of tests that only add widgets to it: each test's
// widgets are deleted after it, and the mouse leaves the window. (Wine under a bare X
// server takes about two seconds to take a window down, so this keeps the run short.)
class SharedFrameTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    shared() = new StandardWidget("控件测试");
    shared()->createWindow();
    settle();
  }

  static void TearDownTestSuite() {
    delete shared();
    shared() = nullptr;
    qxtest::dropQueued();
  }

  void SetUp() override {
    frame = shared();
    ASSERT_NE(frame, nullptr);
    hwnd = frame->hwnd();
    ASSERT_TRUE(IsWindow(hwnd));
    baseChildren = frame->childCount();
  }

  void TearDown() override {
    SendMessageA(hwnd, WM_MOUSELEAVE, 0, 0);
    while (frame->childCount() > baseChildren)
      frame->removeChild(frame->child(frame->childCount() - 1)).reset();
    frame->update();
    settle();
  }

  // Adds a widget to the frame, which owns it, and has it drawn.
  template <typename T>
  T* add(T* widget) {
    frame->addChild(widget);
    widget->update();
    return widget;
  }

  StandardWidget* frame = nullptr;
  HWND hwnd = nullptr;

private:
  static StandardWidget*& shared() {
    static StandardWidget* frame = nullptr;
    return frame;
  }
  int baseChildren = 0;
};

} // namespace controls_test
