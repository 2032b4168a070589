#pragma once
// A provider that records what a widget tree asks of its window, for tests without one.
#include <string>
#include <vector>

#include "gui/QxGUIServiceProvider.h"
#include "gui/QxWidget.h"
#include "gui/QxWidgetTestApi.h"

namespace qxtest {

class FakeProvider : public QxGUIServiceProvider {
public:
  struct Invalidation {
    int x, y, width, height;
    QxWidget* widget;
  };

  // Hosts `root` the way a native window does.
  void host(QxWidget* widget) { QxWidgetTestApi::host(widget, this); }

  void setRoot(QxWidget* widget) override { root = widget; }
  void detachRoot() override { root = nullptr; ++detaches; }
  void invalidateRect(int x, int y, int width, int height, QxWidget* widget) override {
    invalidations.push_back({x, y, width, height, widget});
  }
  void clientToScreen(int&, int&) override {}
  void setWindowBounds(int x, int y, int width, int height) override {
    windowBounds.push_back({x, y, width, height, nullptr});
  }
  bool getImageSize(const std::string&, int& width, int& height) override {
    width = height = 0;
    return false;
  }
  std::uint32_t getPixel(const std::string&, int, int) override { return 0xFFFFFFFFu; }
  void showWindow(bool visible) override { shown.push_back(visible); }
  void measureText(const std::string&, const std::string&, int, bool, bool, bool, int&,
                   int&) override {}
  void setCursor(const char*) override {}
  void setCapture(QxWidget* widget) override { captures.push_back(widget); }
  void releaseCapture() override { ++releases; }

  QxWidget* root = nullptr;
  int detaches = 0;
  int releases = 0;
  std::vector<Invalidation> invalidations;
  std::vector<Invalidation> windowBounds;
  std::vector<bool> shown;
  std::vector<QxWidget*> captures;
};

} // namespace qxtest
