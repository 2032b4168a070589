// The native window host under Wine: back buffer, message translation, text measurement,
// the colour key and tooltips, and the message loop.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cwchar>
#include <memory>
#include <utility>

#include "gui/MessageLoop.h"
#include "gui/QxGUISPWnd.h"
#include "gui/QxGUISPWndTestApi.h"
#include "gui/QxPopUp.h"
#include "gui/TopLevelRegistry.h"
#include "tests/gui/Canvas.h"

using qxtest::Canvas;
using WindowTest = qxtest::CanvasTest;

// Refuses the next frame window (as Wine does now and then under load).
int g_framesToRefuse = 0;
LRESULT CALLBACK refuseFrame(int code, WPARAM wParam, LPARAM lParam) {
  const auto* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam);
  if (code == HCBT_CREATEWND && g_framesToRefuse > 0 && HIWORD(create->lpcs->lpszClass) &&
      std::wcscmp(create->lpcs->lpszClass, L"SimpleWindow") == 0) {
    --g_framesToRefuse;
    return 1;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A frame whose first window was refused has one all the same: every message the
// program posts to it would otherwise be lost.
TEST_F(WindowTest, WindowAndBackBufferFollowTheRootsBounds) {
  g_framesToRefuse = 1;
  HHOOK hook = SetWindowsHookExW(WH_CBT, refuseFrame, nullptr, GetCurrentThreadId());
  open(0, 0, 200, 100);
  UnhookWindowsHookEx(hook);
  EXPECT_EQ(g_framesToRefuse, 0) << "no window was refused";
  ASSERT_TRUE(IsWindow(wnd->hwnd()));
  root->setBounds(40, 30, 640, 480);
  RECT r{};
  GetWindowRect(wnd->hwnd(), &r);
  EXPECT_EQ((std::vector<LONG>{r.left, r.top, r.right - r.left, r.bottom - r.top}),
            (std::vector<LONG>{40, 30, 640, 480}));
  // The back buffer grew and the new size was painted at once: the root's fill reaches the
  // bottom-right pixel (the buffer reads 0 outside itself).
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
  // With nothing focused, keys go to the root.
  for (UINT message : {WM_KEYDOWN, WM_CHAR, WM_KEYUP}) SendMessageA(hwnd, message, 'q', 0);
  EXPECT_EQ(root->keys,
            (std::vector<std::pair<int, int>>{{QxWidget::KeyDown, 'q'}, {QxWidget::KeyChar, 'q'}, {QxWidget::KeyUp, 'q'}}));
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
    EXPECT_EQ((std::vector<int>{root->mouse[0].x, root->mouse[0].y}), (std::vector<int>{150, 60})) << row.dpi;
  }
}

TEST_F(WindowTest, CursorQueryHandledByAnyNamedCursorKeepsTheClassCursorAway) {
  open(0, 0, 200, 100);
  HWND hwnd = wnd->hwnd();
  // Without a cursor name the default processing sets the class cursor; an unknown name
  // changes nothing but still counts as handled. Each row starts from the wait cursor.
  const struct {
    const char* name;
    LPCSTR shown;
  } rows[] = {{nullptr, IDC_ARROW}, {"hand", IDC_HAND}, {"bogus", IDC_WAIT}};
  for (const auto& row : rows) {
    if (row.name) root->setCursor(row.name);
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    SendMessageA(hwnd, WM_SETCURSOR, WPARAM(hwnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, row.shown)) << (row.name ? row.name : "no name");
  }
}

// Bold is another key of the cache of measurements (whose own keys TextSizeCacheTest
// checks); wrapping within the width limit grows the height.
TEST_F(WindowTest, SecondMeasurementWithTheSameArgumentsCreatesNoFont) {
  open(0, 0, 200, 100);
  const int before = QxGUISPWndTestApi::textMeasurements();
  const auto measure = [&](const char* text, bool bold, bool singleLine, int w) {
    int h = singleLine ? 40 : 400;
    wnd->measureText(text, "Tahoma", 14, bold, false, singleLine, w, h);
    return std::vector<int>{w, h, QxGUISPWndTestApi::textMeasurements() - before};
  };
  const std::vector<int> first = measure("measure me", false, true, 300);
  EXPECT_TRUE(first[0] > 20 && first[0] < 300 && first[1] > 5) << first[0] << "x" << first[1];
  EXPECT_EQ(measure("measure me", false, true, 300), first);
  EXPECT_EQ(measure("measure me", true, true, 300)[2], 2);
  EXPECT_GT(measure("measure me measure me", false, true, 300)[0], first[0]);
  EXPECT_GT(measure("several words to wrap here", false, false, 40)[1], first[1]);
}

namespace {

void CALLBACK safetyQuit(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  PostQuitMessage(99);
}

} // namespace

TEST_F(WindowTest, DestroyingTheWindowObjectEndsTheMessageLoop) {
  open(0, 0, 200, 100);
  HWND hwnd = wnd->hwnd();
  wnd.reset();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(root->provider(), nullptr);
  EXPECT_EQ(root->destroys, 0) << "only the base window procedure answers by then";
  // A guard ends the loop with 99 if nothing ends it within five seconds.
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

// The window gives the system the colour key its painters use (pixels in it are
// see-through, and the mouse passes them to the window below), and its rounded corners
// are cut in that key: the outermost pixels are, the edges' middles are not.
TEST_F(WindowTest, RoundCornersAreCutInTheSystemsColourKey) {
  open(0, 0, 200, 100);
  COLORREF key = 0;
  DWORD flags = 0;
  ASSERT_TRUE(GetLayeredWindowAttributes(wnd->hwnd(), &key, nullptr, &flags));
  EXPECT_EQ(flags, DWORD(LWA_COLORKEY));
  const std::uint32_t cut = RGB(GetBValue(key), GetGValue(key), GetRValue(key)), white = 0xFFFFFF;
  wnd->setRoundCorners();
  const struct {
    int x, y;
    std::uint32_t rgb;
  } rows[] = {{0, 0, cut}, {1, 1, cut}, {199, 0, cut}, {199, 99, cut}, {10, 10, white}, {100, 1, white}};
  for (const auto& p : rows) EXPECT_EQ(px(p.x, p.y), p.rgb) << p.x << "," << p.y;
}

TEST_F(WindowTest, HoveredWidgetRegistersItsToolTipWithTheWindow) {
  open(0, 0, 200, 100);
  auto* tipped = new Canvas("tipped", 120, 20, 40, 30);
  tipped->setToolTip("hello tip");
  root->addChild(tipped);
  root->dispatchMouse(QxWidget::MouseMove, 130, 30, 0);
  HWND tip = wnd->tooltipWindow();
  ASSERT_EQ(SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0), 1);
  TOOLINFOA info{};
  info.cbSize = sizeof(info);
  char text[80] = {};
  info.lpszText = text;
  ASSERT_TRUE(SendMessageA(tip, TTM_ENUMTOOLSA, 0, LPARAM(&info)));
  EXPECT_STREQ(text, "hello tip");
  EXPECT_EQ((std::vector<LONG>{info.rect.left, info.rect.top, info.rect.right, info.rect.bottom}),
            (std::vector<LONG>{120, 20, 160, 50}));
  root->dispatchMouse(QxWidget::MouseMove, 10, 10, 0);
  EXPECT_EQ(SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0), 0) << "withdrawn on leave";
}

namespace {

struct CountedPopUp : QxPopUp {
  explicit CountedPopUp(int& deletions) : QxPopUp("popup"), deletions(deletions) {
    setBounds(0, 0, 80, 40);
    setVisible(false);
  }
  ~CountedPopUp() override { ++deletions; }
  int& deletions;
};

} // namespace

// At the program's end every group goes, and a top-level that closes itself while being
// deleted is not queued again.
TEST(TopLevelRegistryTest, DestroyAllDeletesEveryGroupAndSelfClosingDoesNotRequeue) {
  struct SelfClosing : CountedPopUp {
    using CountedPopUp::CountedPopUp;
    ~SelfClosing() override { close(); }
  };
  TopLevelRegistry& registry = TopLevelRegistry::instance();
  int deletions = 0;
  registry.adopt(0, new SelfClosing(deletions));
  registry.adopt(1, new CountedPopUp(deletions));
  registry.destroyAll();
  EXPECT_EQ(deletions, 2);
  EXPECT_EQ(registry.queuedCount(), 0u);
}

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
