// The keyboard in a hosted tree: Tab order, the focus mark, and presses by key.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "gui/FocusChain.h"
#include "gui/Panel.h"
#include "gui/QxActionListener.h"
#include "gui/QxButton.h"
#include "gui/QxGUISPWnd.h"
#include "gui/QxGUISPWndTestApi.h"
#include "tests/gui/Canvas.h"
#include "tests/gui/ScreenTools.h"

namespace {

struct Clicks : QxActionListener {
  void actionPerformed(const std::string& command) override { commands.push_back(command); }
  std::vector<std::string> commands;
};

// Rows as a page lays them out, added out of reading order; a disabled button and one on
// a hidden panel are never reached.
class KeyboardTest : public ::testing::Test {
protected:
  void SetUp() override {
    root = new qxtest::Canvas("keyboard-test", 0, 0, 300, 160,
                              [](qxtest::Canvas& c) { c.addFill(0xFFFFFF, 0, 0, c.width(), c.height()); });
    root->setVisible(false);
    lowerRight = add("lowerRight", 200, 100);
    upperLeft = add("upperLeft", 20, 20);
    lowerLeft = add("lowerLeft", 20, 106);
    add("disabled", 100, 20)->setState(QxButton::Disabled);
    auto* hidden = new Panel(0, 300, 160);
    root->addChild(hidden);
    hidden->addChild(new QxButton("hidden", nullptr, 100, 60, 40, 24, 1));
    hidden->setVisible(false);
    wnd = std::make_unique<QxGUISPWnd>(nullptr, root, false, false, true, false);
  }
  void TearDown() override {
    wnd.reset();
    delete root;
    qxtest::dropQueued();
  }
  QxButton* add(const char* name, int x, int y) {
    auto* button = new QxButton(name, nullptr, x, y, 40, 24, 1);
    button->setAction(name, &clicks);
    root->addChild(button);
    return button;
  }
  void key(UINT message, WPARAM key) { SendMessageW(wnd->hwnd(), message, key, 0); }
  // The top-left dot of a focus mark three pixels inside the button.
  bool marked(QxButton* b) {
    return (QxGUISPWndTestApi::backBufferPixel(*wnd, b->x() + 3, b->y() + 3) & 0xFFFFFF) != 0xFFFFFF;
  }

  qxtest::Canvas* root = nullptr;
  std::unique_ptr<QxGUISPWnd> wnd;
  Clicks clicks;
  QxButton* upperLeft = nullptr;
  QxButton* lowerLeft = nullptr;
  QxButton* lowerRight = nullptr;
};

} // namespace

TEST_F(KeyboardTest, TabGoesThroughTheRowsInReadingOrderAndWraps) {
  std::vector<QxWidget*> seen;
  for (int i = 0; i < 4; ++i) {
    key(WM_KEYDOWN, VK_TAB);
    seen.push_back(root->getFocus());
  }
  EXPECT_EQ(seen, (std::vector<QxWidget*>{upperLeft, lowerLeft, lowerRight, upperLeft}));
  EXPECT_EQ(FocusChain::step(root, upperLeft, true), lowerRight);
  EXPECT_EQ(FocusChain::step(root, nullptr, true), lowerRight);
}

TEST_F(KeyboardTest, TheFocusMarkShowsOnlyOnceAKeyMovedTheFocus) {
  upperLeft->setFocus();
  upperLeft->update();
  EXPECT_FALSE(marked(upperLeft));
  key(WM_KEYDOWN, VK_TAB);
  EXPECT_TRUE(marked(lowerLeft));
  EXPECT_FALSE(marked(upperLeft));
  key(WM_KEYDOWN, VK_TAB);
  EXPECT_TRUE(marked(lowerRight));
  EXPECT_FALSE(marked(lowerLeft));
}

TEST_F(KeyboardTest, SpaceAndEnterClickTheFocusedButtonOnRelease) {
  key(WM_KEYDOWN, VK_TAB);
  size_t clicked = 0;
  for (WPARAM k : {WPARAM(VK_SPACE), WPARAM(VK_RETURN)}) {
    key(WM_KEYDOWN, k);
    key(WM_KEYDOWN, k);  // auto-repeat
    EXPECT_EQ(upperLeft->state(), QxButton::Pressed);
    EXPECT_EQ(clicks.commands.size(), clicked++);
    key(WM_KEYUP, k);
  }
  // A release whose press went elsewhere (a closed message box) is no click.
  key(WM_KEYUP, VK_RETURN);
  EXPECT_EQ(clicks.commands, (std::vector<std::string>{"upperLeft", "upperLeft"}));
  EXPECT_EQ(upperLeft->state(), QxButton::Normal);
}
