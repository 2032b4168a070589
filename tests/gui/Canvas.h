#pragma once
// A root widget for window tests: its paint() runs a given builder of the draw list, and
// it records the mouse and key events and window calls it receives.
#include <functional>
#include <string>
#include <vector>

#include "gui/QxWidget.h"

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
    keys.push_back({type, int(wParam), 0});
    return true;
  }
  int windowHitTest(int, int) override { return hitCode; }
  bool onClose() override {
    ++closes;
    return allowClose;
  }
  void onDestroy() override { ++destroys; }
  bool preTranslateMessage(MSG* msg) override {
    if (msg->message != swallow) return false;
    swallowed.push_back(*msg);
    return true;
  }

  std::vector<Input> mouse;
  std::vector<Input> keys;
  int hitCode = HTCLIENT;
  bool allowClose = true;
  int closes = 0;
  int destroys = 0;
  UINT swallow = 0;
  std::vector<MSG> swallowed;

private:
  std::function<void(Canvas&)> build_;
};

} // namespace qxtest
