// The native window host under Wine: back buffer, message translation, text measurement
// and the message loop.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "gui/MessageLoop.h"
#include "gui/QxGUISPWnd.h"
#include "gui/QxGUISPWndTestApi.h"
#include "gui/QxPopUp.h"
#include "gui/TopLevelRegistry.h"
#include "tests/gui/Canvas.h"
#include "tests/gui/ScreenTools.h"

using qxtest::Canvas;
using WindowTest = qxtest::CanvasTest;

TEST_F(WindowTest, WindowAndBackBufferFollowTheRootsBounds) {
  open(0, 0, 200, 100);
  root->setBounds(40, 30, 640, 480);
  int w = 0, h = 0;
  QxGUISPWndTestApi::backBufferSize(*wnd, w, h);
  EXPECT_GE(w, 640);
  EXPECT_GE(h, 480);
  RECT r{};
  GetWindowRect(wnd->hwnd(), &r);
  EXPECT_EQ((std::vector<LONG>{r.left, r.top, r.right - r.left, r.bottom - r.top}),
            (std::vector<LONG>{40, 30, 640, 480}));
  // The new size was painted at once: the root's fill reaches the bottom-right pixel.
  EXPECT_EQ(QxGUISPWndTestApi::backBufferPixel(*wnd, 639, 479) & 0xFFFFFFu, 0xFFFFFFu);
}

// The leave ends the hover, and a move after it starts a new one.
TEST_F(WindowTest, ButtonWheelMoveLeaveAndKeyMessagesReachTheTree) {
  open(0, 0, 200, 100);
  HWND hwnd = wnd->hwnd();
  const struct {
    UINT message;
    WPARAM wParam;
    int type;
  } rows[] = {{WM_MOUSEMOVE, 0, QxWidget::MouseMove},
              {WM_LBUTTONDOWN, MK_LBUTTON, QxWidget::LeftDown}, {WM_LBUTTONUP, 0, QxWidget::LeftUp},
              {WM_LBUTTONDBLCLK, 0, QxWidget::LeftDoubleClick}, {WM_RBUTTONDOWN, 0, QxWidget::RightDown},
              {WM_RBUTTONUP, 0, QxWidget::RightUp}, {WM_MOUSEWHEEL, MAKEWPARAM(0, 0), QxWidget::WheelDown},
              {WM_MOUSEWHEEL, MAKEWPARAM(0, 120), QxWidget::WheelUp},
              {WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-120)), QxWidget::WheelDown},
              {WM_MOUSELEAVE, 0, QxWidget::MouseLeave}, {WM_MOUSEMOVE, 0, QxWidget::MouseMove}};
  for (const auto& row : rows) {
    root->mouse.clear();
    SendMessageA(hwnd, row.message, row.wParam, MAKELPARAM(row.type + 10, row.type + 20));
    ASSERT_FALSE(root->mouse.empty()) << row.message;
    EXPECT_EQ(root->mouse[0].type, row.type) << row.message;
    if (row.message != WM_MOUSEWHEEL && row.message != WM_MOUSELEAVE) {
      EXPECT_EQ((std::vector<int>{root->mouse[0].x, root->mouse[0].y}), (std::vector<int>{row.type + 10, row.type + 20}));
    }
    EXPECT_EQ(QxWidget::hoveredWidget(), row.type == QxWidget::MouseLeave ? nullptr : root) << row.message;
  }
  SendMessageA(hwnd, WM_KEYDOWN, VK_RETURN, 0);
  SendMessageA(hwnd, WM_CHAR, 'q', 0);
  SendMessageA(hwnd, WM_KEYUP, VK_RETURN, 0);
  ASSERT_EQ(root->keys.size(), 3u);
  EXPECT_EQ(root->keys[0].type, QxWidget::KeyDown);
  EXPECT_EQ(root->keys[1].type, QxWidget::KeyChar);
  EXPECT_EQ(root->keys[1].x, 'q');
  EXPECT_EQ(root->keys[2].type, QxWidget::KeyUp);
}

// Moved to a monitor of another scale: the window takes the suggested rectangle, moved
// inside the work area, keeps its 96-dpi tree and reads the mouse at the new scale.
TEST_F(WindowTest, DpiChangeTakesTheSuggestedRectangleInsideTheWorkAreaAndScalesTheMouse) {
  open(0, 0, 200, 100);
  HWND hwnd = wnd->hwnd();
  constexpr UINT kDpiChanged = 0x02E0;
  RECT work{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const RECT inside{work.left + 10, work.top + 20, work.left + 410, work.top + 220};
  struct Row {
    int dpi;
    RECT suggested;
    RECT expected;
  } rows[] = {{192, inside, inside},
              {144, {work.right - 100, work.top + 5, work.right + 200, work.top + 155},
               {work.right - 300, work.top + 5, work.right, work.top + 155}}};
  for (const Row& row : rows) {
    RECT suggested = row.suggested;
    SendMessageA(hwnd, kDpiChanged, MAKEWPARAM(row.dpi, row.dpi), reinterpret_cast<LPARAM>(&suggested));
    RECT now{};
    GetWindowRect(hwnd, &now);
    EXPECT_TRUE(EqualRect(&now, &row.expected))
        << row.dpi << ": " << now.left << "," << now.top << " to " << now.right << "," << now.bottom;
    EXPECT_EQ(wnd->dpi(), row.dpi);
    EXPECT_EQ(root->width(), 200);
    root->mouse.clear();
    SendMessageA(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(MulDiv(150, row.dpi, 96), MulDiv(60, row.dpi, 96)));
    ASSERT_EQ(root->mouse.size(), 1u) << row.dpi;
    EXPECT_EQ(root->mouse[0].x, 150) << row.dpi;
    EXPECT_EQ(root->mouse[0].y, 60) << row.dpi;
  }
}

TEST_F(WindowTest, HitTestCloseAndNonClientMessages) {
  open(0, 0, 200, 100);
  HWND hwnd = wnd->hwnd();
  root->hitCode = HTCAPTION;
  EXPECT_EQ(SendMessageA(hwnd, WM_NCHITTEST, 0, MAKELPARAM(5, 5)), HTCAPTION);
  root->hitCode = HTTRANSPARENT;
  EXPECT_EQ(SendMessageA(hwnd, WM_NCHITTEST, 0, MAKELPARAM(5, 5)), HTTRANSPARENT);
  EXPECT_EQ(SendMessageA(hwnd, WM_ERASEBKGND, 0, 0), 1);
  EXPECT_EQ(SendMessageA(hwnd, WM_NCACTIVATE, 0, 0), 1);
  root->allowClose = false;
  SendMessageA(hwnd, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_EQ(root->destroys, 0);
  root->allowClose = true;
  SendMessageA(hwnd, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(root->closes, 2);
  EXPECT_EQ(root->destroys, 1);
  MSG quit{};
  EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(WindowTest, CursorQueryHandledByAnyNamedCursorKeepsTheClassCursorAway) {
  open(0, 0, 200, 100);
  HWND hwnd = wnd->hwnd();
  HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
  HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  // No cursor name: the default processing sets the class cursor.
  SetCursor(wait);
  SendMessageA(hwnd, WM_SETCURSOR, WPARAM(hwnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), arrow);
  root->setCursor("hand");
  SendMessageA(hwnd, WM_SETCURSOR, WPARAM(hwnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_HAND));
  // An unknown name changes nothing but still counts as handled.
  root->setCursor("bogus");
  SetCursor(wait);
  SendMessageA(hwnd, WM_SETCURSOR, WPARAM(hwnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), wait);
}

TEST_F(WindowTest, SecondMeasurementWithTheSameArgumentsCreatesNoFont) {
  open(0, 0, 200, 100);
  const int before = QxGUISPWndTestApi::textMeasurements();
  int w = 300, h = 40;
  wnd->measureText("measure me", "Tahoma", 14, false, false, true, w, h);
  EXPECT_EQ(QxGUISPWndTestApi::textMeasurements(), before + 1);
  EXPECT_GT(w, 20);
  EXPECT_LT(w, 300);
  EXPECT_GT(h, 5);
  int w2 = 300, h2 = 40, w3 = 300, h3 = 40, w4 = 300, h4 = 40;
  wnd->measureText("measure me", "Tahoma", 14, false, false, true, w2, h2);
  EXPECT_EQ(QxGUISPWndTestApi::textMeasurements(), before + 1);
  EXPECT_EQ((std::vector<int>{w2, h2}), (std::vector<int>{w, h}));
  // Bold is another key, and so is another text.
  wnd->measureText("measure me", "Tahoma", 14, true, false, true, w3, h3);
  EXPECT_EQ(QxGUISPWndTestApi::textMeasurements(), before + 2);
  wnd->measureText("measure me measure me", "Tahoma", 14, false, false, true, w4, h4);
  EXPECT_GT(w4, w);
  // Word wrapping within the width limit grows the height.
  int ww = 40, wh = 400;
  wnd->measureText("several words to wrap here", "Tahoma", 14, false, false, false, ww, wh);
  EXPECT_GT(wh, h);
}

namespace {

void CALLBACK safetyQuit(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  PostQuitMessage(99);
}

} // namespace

TEST_F(WindowTest, LoopOffersChildWindowMessagesToTheTopLevelObjectAndReturnsTheQuitCode) {
  open(0, 0, 200, 100);
  // A plain child window of a system class.
  HWND child = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 10, 10, wnd->hwnd(), nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  ASSERT_TRUE(child);
  root->swallow = WM_USER + 5;
  PostMessageA(child, WM_USER + 5, 1, 2);
  PostMessageA(child, WM_USER + 6, 3, 4);
  PostQuitMessage(7);
  UINT_PTR guard = SetTimer(nullptr, 0, 5000, safetyQuit);
  EXPECT_EQ(runMessageLoop(), 7);
  KillTimer(nullptr, guard);
  ASSERT_EQ(root->swallowed.size(), 1u);
  EXPECT_EQ(root->swallowed[0].hwnd, child);
  EXPECT_EQ(root->swallowed[0].wParam, 1u);
}

TEST_F(WindowTest, DestroyingTheWindowObjectEndsTheMessageLoop) {
  open(0, 0, 200, 100);
  HWND hwnd = wnd->hwnd();
  wnd.reset();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(root->provider(), nullptr);
  EXPECT_EQ(root->destroys, 0) << "only the base window procedure answers by then";
  UINT_PTR guard = SetTimer(nullptr, 0, 5000, safetyQuit);
  EXPECT_EQ(runMessageLoop(), 0);
  KillTimer(nullptr, guard);
}

TEST_F(WindowTest, RepaintRequestsDuringARepaintAreDropped) {
  int nested = 0;
  open(0, 0, 100, 50, [&](Canvas& c) { c.addFill(0x0000FF, 0, 0, c.width(), c.height()); });
  struct Nesting : QxWidget {
    explicit Nesting(int& n) : QxWidget("nesting"), count(n) {}
    void onPrePaint(HDC, int, int, int, int) override {
      ++count;
      update();
    }
    int& count;
  };
  auto* child = new Nesting(nested);
  child->setBounds(10, 10, 20, 20);
  root->addChild(child);
  child->update();
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(QxGUISPWndTestApi::backBufferPixel(*wnd, 50, 25) & 0xFFFFFFu, 0xFF0000u);
}

namespace {

class CountedPopUp : public QxPopUp {
public:
  CountedPopUp(int& deletions) : QxPopUp("popup"), deletions_(deletions) {
    setBounds(0, 0, 80, 40);
    setVisible(false);
  }
  ~CountedPopUp() override { ++deletions_; }

private:
  int& deletions_;
};

} // namespace

TEST(PopUpWindowTest, ClosedPopUpIsHiddenAtOnceAndDeletedAtTheNextPurge) {
  int deletions = 0;
  auto* popup = new CountedPopUp(deletions);
  auto wnd = std::make_unique<QxGUISPWnd>(nullptr, popup, false, false, false, true);
  popup->show();
  EXPECT_TRUE(IsWindowVisible(wnd->hwnd()));
  // The user closes the window: it is destroyed, the pop-up closes itself.
  SendMessageA(wnd->hwnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(wnd->hwnd()));
  EXPECT_EQ(deletions, 0);
  EXPECT_FALSE(popup->isVisible());
  EXPECT_EQ(TopLevelRegistry::instance().queuedCount(), 1u);
  popup->close();
  EXPECT_EQ(TopLevelRegistry::instance().queuedCount(), 1u) << "closing twice queues it once";
  // The purge runs on its own timer: nothing but the message loop deletes the pop-up.
  EXPECT_TRUE(qxtest::pumpUntil([&] { return deletions == 1; }, 10000));
  EXPECT_EQ(TopLevelRegistry::instance().queuedCount(), 0u);
  EXPECT_EQ(wnd->root(), nullptr) << "the deleted root detached itself";
  wnd.reset();
  qxtest::dropQueued();
}
