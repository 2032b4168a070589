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
    // The colour key at work: the lower window shows through the magenta half only.
    ASSERT_TRUE(screenShows({{kX + 50, kY + 50, 0x00FF00}, {kX + 150, kY + 50, 0xFFFFFF},
                             {kX + kW - 2, kY + kH - 2, 0xFFFFFF}}));
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
  static bool clicked(const Canvas& c) {
    for (const auto& m : c.mouse)
      if (m.type == QxWidget::LeftDown) return true;
    return false;
  }

  static constexpr int kX = 300, kY = 200, kW = 200, kH = 100;
  Canvas* below = nullptr;
  Canvas* above = nullptr;
  std::unique_ptr<QxGUISPWnd> belowWnd, aboveWnd;
};

} // namespace

TEST_F(ScreenTest, MagentaPixelsLetTheMouseThrough) {
  ASSERT_TRUE(qxtest::clickAt(kX + 50, kY + 50));
  EXPECT_TRUE(qxtest::pumpUntil([&] { return clicked(*below); }, 3000));
  EXPECT_FALSE(clicked(*above));
  ASSERT_TRUE(qxtest::clickAt(kX + 150, kY + 50));
  EXPECT_TRUE(qxtest::pumpUntil([&] { return clicked(*above); }, 3000));
  ASSERT_FALSE(above->mouse.empty());
  // Window coordinates of the click.
  for (const auto& m : above->mouse)
    if (m.type == QxWidget::LeftDown) {
      EXPECT_EQ(m.x, 150);
      EXPECT_EQ(m.y, 50);
    }
}

TEST_F(ScreenTest, RoundCornersCutTheWindowCorners) {
  aboveWnd->setRoundCorners();
  above->setBuilder([](Canvas& c) { c.addFill(0xFFFFFF, 0, 0, c.width(), c.height()); });
  above->paint();
  above->update();
  EXPECT_EQ(QxGUISPWndTestApi::backBufferPixel(*aboveWnd, 0, 0) & 0xFFFFFFu, 0xFF00FFu);
  EXPECT_EQ(QxGUISPWndTestApi::backBufferPixel(*aboveWnd, kW - 1, kH - 1) & 0xFFFFFFu, 0xFF00FFu);
  EXPECT_EQ(QxGUISPWndTestApi::backBufferPixel(*aboveWnd, kW - 1, 0) & 0xFFFFFFu, 0xFF00FFu);
  // 18 by 18 corner ellipses: the outermost pixels are cut, the edges' middles are not.
  EXPECT_TRUE(screenShows({{kX + 1, kY + 1, 0x00FF00}, {kX + kW - 1, kY + kH - 1, 0x00FF00},
                           {kX + 10, kY + 10, 0xFFFFFF}, {kX + kW / 2, kY + 1, 0xFFFFFF}}));
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
