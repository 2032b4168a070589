// Buttons on a real frame window: strip frames by state, alpha hit test, the mouse rules
// (click on release, check box toggling first), minimum click interval, flashing,
// and the hyperlink's hover look and cursor.
#include "tests/gui/ControlsTestSupport.h"

#include <functional>

#include "gui/ImageCache.h"
#include "gui/QxButton.h"
#include "gui/QxCheckBox.h"
#include "gui/QxGUIServiceProvider.h"
#include "gui/QxHyperlink.h"
#include "tests/support/TimerWitness.h"

using namespace controls_test;

namespace {

class ButtonTest : public SharedFrameTest {
protected:
  // Adds a button to the frame at (x, y); the frame owns it.
  template <typename T>
  T* add(T* widget) {
    frame->addChild(widget);
    widget->update();
    return widget;
  }
};

// Records the command and what `read` tells at each click.
struct AtClick : QxActionListener {
  std::function<int()> read;
  std::vector<std::string> commands;
  std::vector<int> seen;
  void actionPerformed(const std::string& command) override {
    commands.push_back(command);
    seen.push_back(read());
  }
};

int frameShown(const QxButton& b) {
  auto sections = itemsOfKind(b, DrawItem::ImageSection);
  return sections.empty() ? -1 : sections[0].srcX / b.width();
}

} // namespace

TEST_F(ButtonTest, StripFrameFollowsStateAndTwoFrameStripFallsBackToFrameZero) {
  auto* custom = add(new QxButton("CustomInstall", "res/btnCustomInstall.png", 300, 300, 87, 15, 2));
  const struct {
    int state, frame;
  } cases[] = {{0, 0}, {1, 1}, {2, 0}, {3, 0}};
  for (const auto& c : cases) {
    custom->setState(c.state);
    EXPECT_EQ(frameShown(*custom), c.frame) << "state " << c.state;
  }
  auto* three = add(new QxButton("b3", "res/btn.png", 10, 300, 89, 30, 3));
  three->setState(2);
  EXPECT_EQ(frameShown(*three), 2);
  three->setState(3);
  EXPECT_EQ(frameShown(*three), 0);
}

TEST_F(ButtonTest, AlphaHitTestIgnoresTransparentPixels) {
  // Frame 0 of the minimise strip is transparent except for its glyph.
  auto* b = add(new QxButton("glyph", "res/btmin.png", 100, 200, 32, 19, 3));
  Recorder recorder;
  b->setAction("glyph", &recorder);
  ASSERT_EQ(ImageCache::instance().getPixel("res/btmin.png", 2, 2) >> 24, 0u);
  ASSERT_NE(ImageCache::instance().getPixel("res/btmin.png", 16, 10) >> 24, 0u);

  EXPECT_FALSE(b->hitTest(2, 2));
  EXPECT_TRUE(b->hitTest(16, 10));
  click(hwnd, 102, 202);
  EXPECT_TRUE(recorder.commands.empty());
  EXPECT_EQ(b->state(), 0);

  b->setAlphaHitTest(false);
  EXPECT_TRUE(b->hitTest(2, 2));
  EXPECT_FALSE(b->hitTest(32, 2));
  EXPECT_FALSE(b->hitTest(-1, 2));
  click(hwnd, 102, 202);
  EXPECT_EQ(recorder.commands, std::vector<std::string>{"glyph"});
}

TEST_F(ButtonTest, MouseRulesHoverPressAndClickOnRelease) {
  auto* b = add(new QxButton("b", "res/btn.png", 200, 300, 89, 30, 3));
  b->setAlphaHitTest(false);
  AtClick probe;
  probe.read = [&] { return b->state(); };
  b->setAction("cmd", &probe);

  moveTo(hwnd, 210, 310);
  EXPECT_EQ(b->state(), 1);
  SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, point(210, 310));
  EXPECT_EQ(b->state(), 2);
  EXPECT_TRUE(probe.seen.empty());
  // Moving while pressed keeps the pressed look.
  moveTo(hwnd, 211, 311);
  EXPECT_EQ(b->state(), 2);
  SendMessageA(hwnd, WM_LBUTTONUP, 0, point(211, 311));
  EXPECT_EQ(probe.seen, std::vector<int>{1}) << "the hover look is back before the click";
  // Leaving the button returns it to normal.
  moveTo(hwnd, 20, 300);
  EXPECT_EQ(b->state(), 0);

  // A release without a press on the button does nothing. (That no mouse rule leaves the
  // disabled state is WelcomePageTest.UncheckingTheLicenceDisablesBothInstallButtons's.)
  moveTo(hwnd, 210, 310);
  SendMessageA(hwnd, WM_LBUTTONUP, 0, point(210, 310));
  EXPECT_EQ(probe.seen.size(), 1u);
}

TEST_F(ButtonTest, MinimumClickIntervalDisablesUntilTheTimerRunsOut) {
  auto* b = add(new QxButton("b", "res/btn.png", 200, 300, 89, 30, 3));
  b->setAlphaHitTest(false);
  Recorder recorder;
  b->setAction("cmd", &recorder);
  b->setMinClickInterval(150);
  click(hwnd, 210, 310);
  EXPECT_EQ(recorder.commands.size(), 1u);
  EXPECT_EQ(b->state(), 3);
  click(hwnd, 210, 310);
  EXPECT_EQ(recorder.commands.size(), 1u);
  EXPECT_TRUE(pumpUntil([&] { return b->state() == 0; }, 3000));
  click(hwnd, 210, 310);
  EXPECT_EQ(recorder.commands.size(), 2u);
}

TEST_F(ButtonTest, FlashAlternatesFramesAndStopsOnClick) {
  auto* b = add(new QxButton("b", "res/btn.png", 200, 300, 89, 30, 3));
  Recorder recorder;
  b->setAction("cmd", &recorder);
  b->startFlash(1, 2, true);
  EXPECT_TRUE(b->isFlashing());
  std::vector<int> seen;
  EXPECT_TRUE(pumpUntil(
      [&] {
        int f = frameShown(*b);
        if (seen.empty() || seen.back() != f) seen.push_back(f);
        return seen.size() >= 3;
      },
      4000));
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen[1], 1) << "the first tick shows frame A";
  EXPECT_EQ(seen[2], 2);
  b->performClick();
  EXPECT_FALSE(b->isFlashing());
  EXPECT_EQ(frameShown(*b), 0);
  EXPECT_EQ(recorder.commands.size(), 1u);
  // Two ticks of the flash's period: the stopped flash had its chances.
  ASSERT_TRUE(qxtest::waitForTicks(600, 2));
  EXPECT_EQ(frameShown(*b), 0) << "no tick after the flash stopped";

  b->startFlash(1, 2, false);
  b->performClick();
  EXPECT_TRUE(b->isFlashing());
  b->stopFlash();
  EXPECT_FALSE(b->isFlashing());
  EXPECT_EQ(b->state(), 0);
}

TEST_F(ButtonTest, CheckBoxToggleIsVisibleToItsListener) {
  auto* box = add(new QxCheckBox(40, 300, "userLicense", "我已阅读并同意"));
  AtClick reader;
  reader.read = [&] { return int(box->isChecked()); };
  box->setAction("ckbUserLisence", &reader);

  click(hwnd, 45, 305);
  click(hwnd, 45, 305);
  EXPECT_EQ(reader.seen, (std::vector<int>{1, 0}));
  EXPECT_EQ(reader.commands.back(), "ckbUserLisence");
  EXPECT_EQ(box->state(), 1);

  // After hovers and toggles the image's bottom row shows what a full repaint shows.
  const auto bottomRow = [&] {
    std::vector<std::uint32_t> row;
    for (int x = 40; x < 40 + 14; ++x)
      row.push_back(QxGUISPWndTestApi::backBufferPixel(*frame->window(), x, 300 + 13));
    return row;
  };
  for (bool checked : {false, true}) {
    box->setChecked(checked);
    const std::vector<std::uint32_t> shown = bottomRow();
    frame->update();
    EXPECT_EQ(shown, bottomRow()) << "checked " << checked;
  }
}

TEST_F(ButtonTest, HyperlinkHoverUnderlinesInTheHoverColourWithAHandCursor) {
  auto* link = new QxHyperlink("《用户许可协议》");
  add(link);
  auto text = [&] { return itemsOfKind(*link, DrawItem::Text).at(0); };
  EXPECT_FALSE(text().underline);
  moveTo(hwnd, link->x() + 4, link->y() + 3);
  EXPECT_EQ(link->state(), 1);
  EXPECT_EQ(text().colour, link->stateColour(1));
  EXPECT_TRUE(text().underline);

  HCURSOR hand = LoadCursor(nullptr, IDC_HAND);
  SetCursor(LoadCursor(nullptr, IDC_ARROW));
  link->onMouse(QxWidget::CursorQuery, 4, 4, HTCLIENT);
  EXPECT_EQ(GetCursor(), hand);
}

