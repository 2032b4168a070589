// Buttons on a real frame window: strip frames by state, alpha hit test, the mouse rules
// (click on release, check box toggling first), minimum click interval and flashing.
#include "tests/gui/ControlsTestSupport.h"

#include <functional>
#include <tuple>

#include "gui/QxButton.h"
#include "gui/QxCheckBox.h"
#include "tests/support/TimerWitness.h"

using namespace controls_test;

namespace {

using ButtonTest = SharedFrameTest;

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

// The strip frame shown in each of the states 0 to 3; a two-frame strip falls back to
// frame 0 where it has no frame of the state.
TEST_F(ButtonTest, StripFrameFollowsStateAndTwoFrameStripFallsBackToFrameZero) {
  const auto framesByState = [](QxButton* b) {
    std::vector<int> frames;
    for (int state = 0; state < 4; ++state) {
      b->setState(state);
      frames.push_back(frameShown(*b));
    }
    return frames;
  };
  EXPECT_EQ(framesByState(add(new QxButton("CustomInstall", "res/btnCustomInstall.png", 300, 300, 87, 15, 2))),
            (std::vector<int>{0, 1, 0, 0}));
  EXPECT_EQ(framesByState(add(new QxButton("b3", "res/btn.png", 10, 300, 89, 30, 3))), (std::vector<int>{0, 1, 2, 0}));
}

TEST_F(ButtonTest, AlphaHitTestIgnoresTransparentPixels) {
  // Frame 0 of the minimise strip is transparent except for its glyph.
  auto* b = add(new QxButton("glyph", "res/btmin.png", 100, 200, 32, 19, 3));
  Recorder recorder;
  b->setAction("glyph", &recorder);
  // A transparent pixel, the glyph, and two points beside the button.
  const auto hits = [&] {
    return std::vector<bool>{b->hitTest(2, 2), b->hitTest(16, 10), b->hitTest(32, 2), b->hitTest(-1, 2)};
  };
  EXPECT_EQ(hits(), (std::vector<bool>{false, true, false, false}));
  click(hwnd, 102, 202);
  EXPECT_TRUE(recorder.commands.empty());
  EXPECT_EQ(b->state(), 0);

  b->setAlphaHitTest(false);
  EXPECT_EQ(hits(), (std::vector<bool>{true, true, false, false}));
  click(hwnd, 102, 202);
  EXPECT_EQ(recorder.commands, std::vector<std::string>{"glyph"});
}

TEST_F(ButtonTest, MouseRulesHoverPressClickOnReleaseAndTheMinimumInterval) {
  auto* b = add(new QxButton("b", "res/btn.png", 200, 300, 89, 30, 3));
  b->setAlphaHitTest(false);
  AtClick probe;
  probe.read = [&] { return b->state(); };
  b->setAction("cmd", &probe);

  // Hover, press, a move while pressed keeps the pressed look, release, leave; then a
  // release without a press on the button, which does nothing. (That no mouse rule leaves
  // the disabled state is WelcomePageTest.UncheckingTheLicenceDisablesBothInstallButtons's.)
  std::vector<int> states;
  for (auto [message, x, y] : {std::tuple{WM_MOUSEMOVE, 210, 310}, {WM_LBUTTONDOWN, 210, 310}, {WM_MOUSEMOVE, 211, 311},
                               {WM_LBUTTONUP, 211, 311}, {WM_MOUSEMOVE, 20, 300}, {WM_MOUSEMOVE, 210, 310},
                               {WM_LBUTTONUP, 210, 310}}) {
    SendMessageA(hwnd, UINT(message), message == WM_LBUTTONDOWN ? MK_LBUTTON : 0, point(x, y));
    states.push_back(b->state());
  }
  EXPECT_EQ(states, (std::vector<int>{1, 2, 2, 1, 0, 1, 1}));
  EXPECT_EQ(probe.seen, std::vector<int>{1}) << "one click, on release, with the hover look back before it";

  // With a minimum interval, a click disables the button until the interval's timer ends.
  b->setMinClickInterval(150);
  click(hwnd, 210, 310);
  EXPECT_EQ(b->state(), 3);
  click(hwnd, 210, 310);
  EXPECT_EQ(probe.commands.size(), 2u);
  EXPECT_TRUE(pumpUntil([&] { return b->state() == 0; }, 3000));
  click(hwnd, 210, 310);
  EXPECT_EQ(probe.commands.size(), 3u);
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
  EXPECT_EQ(seen, (std::vector<int>{seen[0], 1, 2})) << "the first tick shows frame A";
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

// After a hover and toggles, the box image's bottom row shows what a full repaint shows.
// (That a click toggles the box before its listener hears of it is
// WelcomePageTest.UncheckingTheLicenceDisablesBothInstallButtons's.)
TEST_F(ButtonTest, CheckBoxToggleRepaintsInPlace) {
  auto* box = add(new QxCheckBox(40, 300, "userLicense", "我已阅读并同意"));
  click(hwnd, 45, 305);
  EXPECT_EQ(box->state(), 1);
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
