// Entry point of the page tests and the shared fixture's implementation.
#include <gtest/gtest.h>

#include <windows.h>

#include "gui/MessageLoop.h"
#include "gui/QxGUISPWndTestApi.h"
#include "tests/pages/PageTestSupport.h"

namespace pages_test {

namespace {

std::string g_document;
bool fromString(std::string& bytes) {
  bytes = g_document;
  return true;
}

} // namespace

std::string configDocument(const std::string& options, const std::string& extra) {
  return R"({
    "installName": "星海奇遇记",
    "welcomeText": "欢迎安装星海奇遇记！",
    "installFolder": "vantorworlds",
    "userLicense": { "url": "https://127.0.0.1/license.html", "desc": "《星河游戏许可协议》" },
    "options": [)" + options + R"(],
    )" + extra + R"(
    "neededSpace": 1000
  })";
}

void useConfig(const std::string& document) {
  g_document = document;
  InstallManager::setDocumentSource(fromString);
  std::string error;
  ASSERT_TRUE(InstallManager::instance().readConfig(error)) << error;
}

void PageTest::host(QxWidget* page, bool shown) {
  // The display is shared with earlier tests: a pointer they left where this window
  // opens would hover its buttons before any test input.
  SetCursorPos(0, 0);
  frame = new HostFrame();
  // Under the frame's own buttons, as the controller stacks its full-window pages.
  frame->insertChild(page, 0);
  frame->createWindow();
  hwnd = frame->hwnd();
  ASSERT_TRUE(IsWindow(hwnd));
  if (shown)
    frame->show();
  pump.runFor(30);
}

void PageTest::TearDown() {
  delete frame;
  frame = nullptr;
  pump.runFor(10);
}

std::uint32_t PageTest::pixel(int x, int y) const {
  return QxGUISPWndTestApi::backBufferPixel(*frame->window(), x, y) & 0xFFFFFF;
}

std::string windowsPath(const std::string& path) {
  char full[MAX_PATH] = {};
  GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return full;
}

} // namespace pages_test

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  registerWindowClass(GetModuleHandleA(nullptr));
  return RUN_ALL_TESTS();
}
