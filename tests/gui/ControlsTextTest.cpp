// Text widgets on a real frame window: the native edit control of the text box (place,
// size, font, visibility, text, focus by a click on its frame), the drawn frame, and the
// text field's sizing rules.
#include "tests/gui/ControlsTestSupport.h"

#include "gui/Panel.h"
#include "gui/QxGUIServiceProvider.h"
#include "gui/QxTextBox.h"
#include "gui/QxTextField.h"

using namespace controls_test;

namespace {

// A page holding a path box, as the option page does (whose test checks that hiding the
// page hides the box's edit control).
class TextBoxTest : public SharedFrameTest {
protected:
  void SetUp() override {
    SharedFrameTest::SetUp();
    page = add(new Panel(0, 660, 480));
    box = new QxTextBox(page, "D:\\游戏\\Vantor");
    settle();
  }

  Panel* page = nullptr;
  QxTextBox* box = nullptr;
};

} // namespace

TEST_F(TextBoxTest, EditControlFollowsTheBoxAndItsPage) {
  HWND edit = box->editWindow();
  ASSERT_TRUE(IsWindow(edit));
  EXPECT_EQ(GetParent(edit), hwnd);
  // Moving the page moves the control with it (window coordinates), inside the drawn frame.
  page->setBounds(10, 20, 660, 480);
  box->setBounds(131, 189, 312, 26);
  // The edit control's rectangle in the frame window's client coordinates.
  RECT r{};
  GetWindowRect(edit, &r);
  MapWindowPoints(HWND_DESKTOP, hwnd, reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ((std::vector<LONG>{r.left, r.top}), (std::vector<LONG>{10 + 131 + 7, 20 + 189 + 7}));

  // A second attach keeps the one control.
  box->refresh();
  EXPECT_EQ(box->editWindow(), edit);
}

// (What the user types reaches getText in the ANSI code page in
// OptionPageTest.PathCheckWarnsAndGovernsTheNextButton.)
TEST_F(TextBoxTest, TextGoesThroughTheEditControlInTheAnsiCodePage) {
  box->setText("E:\\新建文件夹");
  EXPECT_EQ(box->getText(), "E:\\新建文件夹");
  wchar_t wide[64] = {};
  GetWindowTextW(box->editWindow(), wide, 64);
  EXPECT_EQ(std::wstring(wide), L"E:\\新建文件夹");
  box->setText("");
  EXPECT_EQ(box->getText(), "");
}

TEST_F(TextBoxTest, ClickOnTheFrameFocusesTheEditControl) {
  HWND edit = box->editWindow();
  SetForegroundWindow(hwnd);
  SetFocus(hwnd);
  ASSERT_NE(GetFocus(), edit);
  // The 7-pixel margin around the control belongs to the drawn frame.
  SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, point(131 + 2, 189 + 2));
  EXPECT_EQ(GetFocus(), edit);
  SetFocus(hwnd);
  SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, point(131 + 311, 189 + 25));
  EXPECT_EQ(GetFocus(), edit);
}

using TextFieldTest = SharedFrameTest;

TEST_F(TextFieldTest, SizesItselfOnlyWhenAsked) {
  auto* field = new QxTextField("所需磁盘空间：1000 MB", 131, 229, 0, 20, 12, 0x999999,
                                DrawItem::AlignLeft, DrawItem::AlignTop, "simsun");
  frame->addChild(field);
  // Built with width 0: construction leaves auto sizing off, attaching keeps the 0 width.
  field->onAttach(frame->window());
  field->refresh();
  const auto size = [&] { return std::vector<int>{field->width(), field->height()}; };
  EXPECT_EQ(size(), (std::vector<int>{0, 20}));

  int w = 65535, h = 65535;
  frame->window()->measureText("所需磁盘空间：1000 MB", "simsun", 12, false, false, false, w, h);
  field->setText(field->text(), true, false);
  EXPECT_EQ(size(), (std::vector<int>{w, h}));
  // The flags stay for the next refresh.
  field->refresh();
  EXPECT_EQ(size(), (std::vector<int>{w, h}));
  EXPECT_EQ(itemsOfKind(*field, DrawItem::Text).at(0).width, w);

  field->setText("x", false, false);
  EXPECT_EQ(field->width(), 0);
}
