// The frame and its containers on real windows: cascade placement, caption drag area and
// hit-test codes, the exit confirmation and the disabled close button, minimising, the
// progress bar's fill and the step indicator's labels.
#include "tests/gui/ControlsTestSupport.h"

#include <memory>

#include "gui/ImageCache.h"
#include "gui/Panel.h"
#include "gui/ProgressBar.h"
#include "gui/QxButton.h"
#include "gui/QxTextField.h"
#include "gui/StepsPanel.h"
#include "gui/TopLevelRegistry.h"

using namespace controls_test;

namespace {

POINT windowOrigin(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return {r.left, r.top};
}

} // namespace

// A second frame cascades off the first instead of covering it; once both are gone, the
// next one takes the first one's place again.
TEST(FramePlacementTest, CascadesFromTheFirstAndStartsOverAfterIt) {
  std::vector<std::unique_ptr<StandardWidget>> frames;
  std::vector<POINT> at;
  for (const char* name : {"first", "second"}) {
    frames.emplace_back(new StandardWidget(name))->createWindow();
    at.push_back(windowOrigin(frames.back()->hwnd()));
  }
  EXPECT_TRUE(at[1].x > at[0].x && at[1].y > at[0].y) << at[1].x << "," << at[1].y;
  while (!frames.empty()) frames.pop_back();
  auto* third = new StandardWidget("third");
  third->createWindow();
  const POINT c = windowOrigin(third->hwnd());
  EXPECT_EQ((std::vector<LONG>{c.x, c.y}), (std::vector<LONG>{at[0].x, at[0].y}));
  delete third;
  qxtest::dropQueued();
}

using FrameWidgetTest = SharedFrameTest;

TEST_F(FrameWidgetTest, CaptionDragsOnlyWhereNoChildLiesAndTheBorderKeepsTheSystemsCursor) {
  auto* page = add(new Panel(0, 660, 480));
  auto* button = new QxButton("pageButton", "res/btn.png", 300, 50, 89, 30, 3);
  page->addChild(button);
  button->setAlphaHitTest(false);

  // The same through the window's own hit test (screen coordinates). The minimise button
  // and the page's button are no caption; the frame is not resizable, so its 4-pixel
  // border is client area.
  POINT o = windowOrigin(hwnd);
  const struct {
    int x, y, code;
  } rows[] = {{100, 60, HTCAPTION}, {310, 60, HTCLIENT}, {590, 5, HTCLIENT}, {100, 139, HTCAPTION},
              {100, 140, HTCLIENT}, {1, 300, HTCLIENT}, {1, 60, HTCLIENT}};
  for (const auto& row : rows) {
    EXPECT_EQ(frame->windowHitTest(row.x, row.y), row.code) << row.x << "," << row.y;
    EXPECT_EQ(SendMessageA(hwnd, WM_NCHITTEST, 0, MAKELPARAM(o.x + row.x, o.y + row.y)), row.code);
  }

  // A hidden child no longer blocks the drag.
  button->setVisible(false);
  EXPECT_EQ(frame->windowHitTest(310, 60), HTCAPTION);

  // Cursor queries on the border are left to the system, even over a child with a cursor.
  auto* probe = new QxButton("probe", nullptr, 0, 0, 660, 480, 1);
  page->addChild(probe);
  probe->setCursor("hand");
  SetCursor(LoadCursor(nullptr, IDC_ARROW));
  EXPECT_TRUE(frame->dispatchMouse(QxWidget::CursorQuery, 2, 200, HTCLIENT));
  EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_ARROW));
  EXPECT_TRUE(frame->dispatchMouse(QxWidget::CursorQuery, 200, 200, HTCLIENT));
  EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_HAND));
}

TEST_F(FrameWidgetTest, DisabledCloseNeitherClosesNorAsks) {
  BoxesSince watcher;
  frame->setCloseEnabled(false);
  EXPECT_EQ(frame->closeButton()->state(), 3);
  click(hwnd, 630, 8);
  frame->requestClose();
  SendMessageA(hwnd, WM_CLOSE, 0, 0);
  SendMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_TRUE(settle());
  EXPECT_TRUE(watcher.boxes().empty());
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_EQ(TopLevelRegistry::instance().queuedCount(), 0u);

  frame->setCloseEnabled(true);
  EXPECT_EQ(frame->closeButton()->state(), 0);
}

// The system's close gesture asks the question the close button asks (whose Cancel and OK
// e2e_licence_and_close answers), and the minimise button minimises.
TEST_F(FrameWidgetTest, TheSystemsCloseGestureAsksAndMinimiseMinimises) {
  BoxesSince watcher;
  SendMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(watcher.boxes(), (qxtest::Boxes{{"提示", "真的要退出安装吗？"}}));
  EXPECT_TRUE(IsWindowVisible(hwnd)) << "Cancel keeps the window";
  click(hwnd, 590, 8);
  EXPECT_TRUE(pumpUntil([&] { return frame->isMinimized(); }, 3000));
  ShowWindow(hwnd, SW_RESTORE);  // for the tests after this one
}

TEST_F(FrameWidgetTest, ProgressBarFillsFromTheLeftWithoutOverflow) {
  auto* bar = add(new ProgressBar(431));

  auto barWidth = [&] {
    auto s = itemsOfKind(*bar, DrawItem::ImageSection);
    return s.empty() ? 0 : s[0].width;
  };
  const struct {
    int maximum, value, width;
  } cases[] = {
      {0x7FFFFFFF, 0x40000000, 288}, {100, 0, 0},  {100, 50, 288},  {3, 1, 192},
      {100, 150, 577},               {0, 5, 0},    {100, -5, 0},    {0x7FFFFFFF, 0x7FFFFFFF, 577},
  };
  for (const auto& c : cases) {
    bar->setProgress(c.maximum, c.value);
    EXPECT_EQ(barWidth(), c.width) << c.maximum << " " << c.value;
  }

  // Full (the last row): the bar's last column reached the window in the bar picture's colour.
  std::uint32_t expected = ImageCache::instance().getPixel("res/progress.png", 570, 14);
  std::uint32_t drawn = QxGUISPWndTestApi::backBufferPixel(*frame->window(), 39 + 570, 431 + 14);
  EXPECT_LE(qxtest::channelDistance(drawn, qxtest::shownColour(expected)), 40) << std::hex << drawn;
}

TEST_F(FrameWidgetTest, OneStepLabelIsBoldAndMovesWithTheStep) {
  const std::string steps[3] = {"欢迎", "下载安装", "完成"};
  auto* panel = add(new StepsPanel(steps, 660));
  auto bold = [&] {
    std::vector<int> out;
    for (int i = 0; i < 3; ++i)
      if (itemsOfKind(*panel->label(i), DrawItem::Text).at(0).bold) out.push_back(i);
    return out;
  };
  const struct {
    int move, step;
  } moves[] = {{0, 0}, {1, 1}, {1, 2}, {1, 2}, {-1, 1}, {-5, 0}};
  for (const auto& m : moves) {
    panel->moveStep(m.move);
    EXPECT_EQ(panel->currentStep(), m.step);
    EXPECT_EQ(bold(), std::vector<int>{m.step}) << "after " << m.move;
  }
}
