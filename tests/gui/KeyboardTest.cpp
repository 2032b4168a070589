// The keyboard in a hosted tree: Tab order, the focus mark, and presses by key.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "gui/Panel.h"
#include "gui/QxActionListener.h"
#include "gui/QxButton.h"
#include "gui/QxGUISPWnd.h"
#include "gui/QxGUISPWndTestApi.h"
#include "tests/gui/Canvas.h"

namespace {

// Rows as a page lays them out, added out of reading order; a disabled button and one on
// a hidden panel are never reached.
class KeyboardTest : public qxtest::CanvasTest, public QxActionListener {
protected:
  void SetUp() override {
    open(0, 0, 300, 160);
    for (auto [x, y] : {std::pair{200, 100}, {20, 20}, {20, 106}, {100, 20}}) {
      buttons.push_back(new QxButton("b", nullptr, x, y, 40, 24, 1));
      buttons.back()->setAction(std::to_string(buttons.size() - 1), this);
      root->addChild(buttons.back());
    }
    buttons[3]->setState(QxButton::Disabled);
    auto* hidden = new Panel(0, 300, 160);
    root->addChild(hidden);
    hidden->addChild(new QxButton("hidden", nullptr, 100, 60, 40, 24, 1));
    hidden->setVisible(false);
  }
  void actionPerformed(const std::string& command) override { clicks.push_back(command); }
  void key(UINT message, WPARAM key) { SendMessageW(wnd->hwnd(), message, key, 0); }
  // The top-left dot of a focus mark three pixels inside the button.
  bool marked(int i) { return px(buttons[size_t(i)]->x() + 3, buttons[size_t(i)]->y() + 3) != 0xFFFFFF; }

  std::vector<QxButton*> buttons;
  std::vector<std::string> clicks;
};

} // namespace

TEST_F(KeyboardTest, TabGoesThroughTheRowsInReadingOrderWithTheMarkAfterIt) {
  buttons[1]->setFocus();
  buttons[1]->update();
  EXPECT_FALSE(marked(1)) << "no mark before a key moved the focus";
  std::vector<QxWidget*> seen;
  for (int i = 0; i < 3; ++i) {
    key(WM_KEYDOWN, VK_TAB);
    seen.push_back(root->getFocus());
  }
  EXPECT_EQ(seen, (std::vector<QxWidget*>{buttons[2], buttons[0], buttons[1]}));
  EXPECT_EQ((std::vector<bool>{marked(0), marked(1), marked(2)}), (std::vector<bool>{false, true, false}));
}

TEST_F(KeyboardTest, SpaceAndEnterClickTheFocusedButtonOnRelease) {
  key(WM_KEYDOWN, VK_TAB);
  for (WPARAM k : {WPARAM(VK_SPACE), WPARAM(VK_RETURN)}) {
    const size_t before = clicks.size();
    key(WM_KEYDOWN, k);
    key(WM_KEYDOWN, k);  // auto-repeat
    EXPECT_EQ(buttons[1]->state(), QxButton::Pressed);
    EXPECT_EQ(clicks.size(), before);
    key(WM_KEYUP, k);
  }
  // A release whose press went elsewhere (a closed message box) is no click.
  key(WM_KEYUP, VK_RETURN);
  EXPECT_EQ(clicks, (std::vector<std::string>{"1", "1"}));
}
