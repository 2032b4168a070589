#pragma once
// Shared by the page tests: a frame window built the way the controller builds its own
// (pages added before the window exists, WM_COMMAND handed to the option page), the
// test configuration, mouse input as the system sends it, and screenshots of the window's
// back buffer.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/InstallManager.h"
#include "tests/support/ActionRecorder.h"
#include "gui/QxGUISPWnd.h"
#include "gui/QxWidget.h"
#include "gui/StandardWidget.h"
#include "pages/OptionPage.h"
#include "tests/support/MessagePump.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowInput.h"

namespace pages_test {

// A configuration with the test's texts; `options` is the JSON array body, `extra` more keys.
std::string configDocument(const std::string& options, const std::string& extra = "");
// Makes the install manager read `document`; fails the test when it is not accepted.
void useConfig(const std::string& document);

using qxtest::Pump;

using Recorder = qxtest::ActionRecorder;

// The frame of the controller, reduced to what the pages need of it.
class HostFrame : public StandardWidget {
public:
  HostFrame() : StandardWidget("页面测试") {}
  OptionPage* optionPage = nullptr;

  LRESULT onWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override {
    if (message == WM_COMMAND && optionPage)
      optionPage->onEditNotify(HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    return StandardWidget::onWindowMessage(message, wParam, lParam, handled);
  }
};

// Hosts one page: the page is added first, then the window is made and shown.
class PageTest : public ::testing::Test {
protected:
  void TearDown() override;
  // Takes ownership of the page. The window is drawn either way; only a shown one has
  // visible child windows (and costs seconds to hide again without a window manager).
  void host(QxWidget* page, bool shown = false);
  void click(int x, int y) { qxtest::click(hwnd, x, y); }
  // Window pixel as 0x00RRGGBB.
  std::uint32_t pixel(int x, int y) const;

  HostFrame* frame = nullptr;
  HWND hwnd = nullptr;
  Pump pump;
};

// A Windows path ("Z:\\...") for a path of the build tree.
std::string windowsPath(const std::string& path);
using qxtest::channelDistance;
using qxtest::waitForFile;

} // namespace pages_test
