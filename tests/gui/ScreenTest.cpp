// What the user sees on the X display: colour-keyed pixels are transparent and let the
// mouse through to the window below; rounded corners; tooltips of hovered widgets.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <sstream>
#include <vector>

#include "gui/QxGUISPWnd.h"
#include "gui/QxGUISPWndTestApi.h"
#include "tests/gui/Canvas.h"
#include "tests/gui/ScreenTools.h"

using qxtest::Canvas;

namespace {

class ScreenTest : public ::testing::Test {
protected:
  void SetUp() override {
    // The lower window: solid green.
    below = new Canvas("below", kX, kY, kW, kH,
                       [](Canvas& c) { c.addFill(0x00FF00, 0, 0, c.width(), c.height()); });
    belowWnd = std::make_unique<QxGUISPWnd>(nullptr, below, false, false, true, false);
    // The upper window: white, its left half magenta.
    above = new Canvas("above", kX, kY, kW, kH, [](Canvas& c) {
      c.addFill(0xFFFFFF, 0, 0, c.width(), c.height());
      c.addFill(0xFF00FF, 0, 0, c.width() / 2, c.height());
    });
    aboveWnd = std::make_unique<QxGUISPWnd>(nullptr, above, false, false, true, false);
    // Both above whatever else the display shows, the upper one last.
    SetWindowPos(belowWnd->hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetWindowPos(aboveWnd->hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  void TearDown() override {
    aboveWnd.reset();
    belowWnd.reset();
    delete above;
    delete below;
    qxtest::dropQueued();
  }
  struct Point {
    int x, y;
    std::uint32_t rgb;
  };
  // The display maps and paints windows in its own time: screenshots until every point
  // shows its colour, or fails with what the last one showed.
  static ::testing::AssertionResult screenShows(const std::vector<Point>& points) {
    const std::string shot = qxtest::screenshotFolder() + "/ScreenTest.png";
    std::ostringstream seen;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 20000;) {
      qxtest::pump(50);
      if (!qxtest::screenshot(shot)) return ::testing::AssertionFailure() << "no screenshot (import)";
      auto picture = qxtest::loadPng(shot);
      if (!picture) return ::testing::AssertionFailure() << "unreadable screenshot";
      seen.str("");
      bool all = true;
      for (const Point& p : points) {
        const std::uint32_t rgb = qxtest::rgbAt(*picture, p.x, p.y);
        seen << std::hex << " (" << std::dec << p.x << "," << p.y << ")=" << std::hex << rgb;
        all = all && rgb == p.rgb;
      }
      if (all) return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the screen showed" << seen.str();
  }
  // The canvas's first press, or null.
  static const Canvas::Input* pressed(const Canvas& c) {
    for (const auto& m : c.mouse)
      if (m.type == QxWidget::LeftDown) return &m;
    return nullptr;
  }

  static constexpr int kX = 300, kY = 200, kW = 200, kH = 100;
  Canvas* below = nullptr;
  Canvas* above = nullptr;
  std::unique_ptr<QxGUISPWnd> belowWnd, aboveWnd;
};

} // namespace

TEST_F(ScreenTest, MagentaPixelsLetTheMouseThrough) {
  // The colour key at work: the lower window shows through the magenta half only.
  ASSERT_TRUE(screenShows({{kX + 50, kY + 50, 0x00FF00}, {kX + 150, kY + 50, 0xFFFFFF},
                           {kX + kW - 2, kY + kH - 2, 0xFFFFFF}}));
  ASSERT_TRUE(qxtest::clickAt(kX + 50, kY + 50));
  EXPECT_TRUE(qxtest::pumpUntil([&] { return pressed(*below); }, 10000));
  EXPECT_FALSE(pressed(*above));
  ASSERT_TRUE(qxtest::clickAt(kX + 150, kY + 50));
  ASSERT_TRUE(qxtest::pumpUntil([&] { return pressed(*above); }, 10000));
  // Window coordinates of the click.
  EXPECT_EQ((std::vector<int>{pressed(*above)->x, pressed(*above)->y}), (std::vector<int>{150, 50}));
}

TEST_F(ScreenTest, RoundCornersCutTheWindowCorners) {
  aboveWnd->setRoundCorners();
  above->setBuilder([](Canvas& c) { c.addFill(0xFFFFFF, 0, 0, c.width(), c.height()); });
  above->paint();
  above->update();
  // 18 by 18 corner ellipses in the colour key, which MagentaPixelsLetTheMouseThrough shows see-through: the
  // outermost pixels are cut, the edges' middles are not.
  const Point rows[] = {{0, 0, 0xFF00FF}, {1, 1, 0xFF00FF}, {kW - 1, 0, 0xFF00FF}, {kW - 1, kH - 1, 0xFF00FF},
                        {10, 10, 0xFFFFFF}, {kW / 2, 1, 0xFFFFFF}};
  for (const Point& p : rows)
    EXPECT_EQ(QxGUISPWndTestApi::backBufferPixel(*aboveWnd, p.x, p.y) & 0xFFFFFFu, p.rgb) << p.x << "," << p.y;
}

TEST_F(ScreenTest, HoveredWidgetRegistersItsToolTipWithTheWindow) {
  auto* tipped = new Canvas("tipped", 120, 20, 40, 30);
  tipped->setToolTip("hello tip");
  above->addChild(tipped);
  above->dispatchMouse(QxWidget::MouseMove, 130, 30, 0);
  HWND tip = aboveWnd->tooltipWindow();
  ASSERT_TRUE(IsWindow(tip));
  EXPECT_EQ(SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0), 1);
  TOOLINFOA info{};
  info.cbSize = sizeof(info);
  char text[80] = {};
  info.lpszText = text;
  ASSERT_TRUE(SendMessageA(tip, TTM_ENUMTOOLSA, 0, LPARAM(&info)));
  EXPECT_STREQ(text, "hello tip");
  EXPECT_EQ((std::vector<LONG>{info.rect.left, info.rect.top, info.rect.right, info.rect.bottom}),
            (std::vector<LONG>{120, 20, 160, 50}));
  above->dispatchMouse(QxWidget::MouseMove, 10, 10, 0);
  EXPECT_EQ(SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0), 0) << "withdrawn on leave";
}
