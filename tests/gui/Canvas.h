#pragma once
// A root widget for window tests: its paint() runs a given builder of the draw list, and
// it records the mouse and key events and window calls it receives. CanvasTest hosts one
// in a window of its own.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/QxGUISPWnd.h"
#include "gui/QxGUISPWndTestApi.h"
#include "gui/QxWidget.h"
#include "tests/support/MessagePump.h"

namespace qxtest {

class Canvas : public QxWidget {
public:
  struct Input {
    int type, x, y;
  };

  Canvas(const std::string& name, int x, int y, int width, int height,
         std::function<void(Canvas&)> build = nullptr)
      : QxWidget(name), build_(std::move(build)) {
    setBounds(x, y, width, height);
    paint();
  }

  void setBuilder(std::function<void(Canvas&)> build) { build_ = std::move(build); }

  void paint() override {
    clearItems();
    if (build_) build_(*this);
  }
  bool onMouse(int type, int x, int y, unsigned keys) override {
    if (type != MouseEnter && type != CursorQuery) mouse.push_back({type, x, y});
    return QxWidget::onMouse(type, x, y, keys);
  }
  bool onKey(int type, WPARAM wParam, LPARAM) override {
    keys.push_back({type, int(wParam)});
    return true;
  }
  void onDestroy() override { ++destroys; }

  std::vector<Input> mouse;
  std::vector<std::pair<int, int>> keys;  // type and key
  int destroys = 0;

private:
  std::function<void(Canvas&)> build_;
};

inline void whiteCanvas(Canvas& c) { c.addFill(0xFFFFFF, 0, 0, c.width(), c.height()); }

class CanvasTest : public ::testing::Test {
protected:
  void open(int x, int y, int w, int h, std::function<void(Canvas&)> build = whiteCanvas) {
    root = new Canvas("canvas-test", x, y, w, h, std::move(build));
    // Unmapped: messages and the back buffer work the same, and the display stays out of it.
    root->setVisible(false);
    wnd = std::make_unique<QxGUISPWnd>(nullptr, root, false, false, true, false);
  }
  void TearDown() override {
    wnd.reset();
    delete root;
    root = nullptr;
    dropQueued();
  }
  // 0xRRGGBB of the back buffer.
  std::uint32_t px(int x, int y) const {
    return QxGUISPWndTestApi::backBufferPixel(*wnd, x, y) & 0xFFFFFFu;
  }
  Canvas* root = nullptr;
  std::unique_ptr<QxGUISPWnd> wnd;
};

} // namespace qxtest
