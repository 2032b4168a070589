// QxGUISPWnd: creation and destruction, the back buffer and its repaint, the service
// provider operations, message translation, text measurement, and the test accessor.
#include "gui/QxGUISPWnd.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "gui/AccessibleFrame.h"
#include "gui/DisplayScale.h"
#include "gui/DrawItemRenderer.h"
#include "gui/FocusChain.h"
#include "gui/GbkText.h"
#include "gui/HighContrast.h"
#include "gui/ImageCache.h"
#include "gui/MessageLoop.h"
#include "gui/QxGUISPWndTestApi.h"
#include "gui/QxWidget.h"
#include "gui/QxWidgetVEIterator.h"
#include "gui/TextSizeCache.h"

namespace {

constexpr UINT kRedrawMessage = 0x16B2;
// How often the frame's window is asked for before the frame goes without one.
constexpr int kCreateAttempts = 5;
#ifndef WM_DPICHANGED
constexpr UINT WM_DPICHANGED = 0x02E0;
#endif
int g_textMeasurements = 0;

// Moved, not resized, into the work area of the monitor it is mostly on.
void keepInWorkArea(RECT& r) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoW(MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &info)) return;
  const RECT& work = info.rcWork;
  int dx = 0, dy = 0;
  if (r.right > work.right) dx = work.right - r.right;
  if (r.left + dx < work.left) dx = work.left - r.left;
  if (r.bottom > work.bottom) dy = work.bottom - r.bottom;
  if (r.top + dy < work.top) dy = work.top - r.top;
  OffsetRect(&r, dx, dy);
}

} // namespace

struct QxGUISPWnd::Impl : QxWidgetVEIterator {
  // Marks the message handlers running on the stack so that they stop touching the
  // object when a widget destroys the window object from inside a handler.
  struct Frame {
    bool destroyed = false;
    Frame* previous = nullptr;
  };

  QxGUISPWnd* owner = nullptr;
  QxWidget* root = nullptr;
  HBITMAP backBuffer = nullptr;
  std::uint32_t* bits = nullptr;  // top-down rows of backWidth pixels
  // The tree is laid out at 96 dpi; the window, its back buffer and its messages are in
  // device pixels, converted here and nowhere else.
  DisplayScale scale;
  int backWidth = 0;
  int backHeight = 0;
  bool trackingMouseLeave = false;
  int cornerWidth = 0;
  int cornerHeight = 0;
  bool inSetRoot = false;
  bool cursorSet = false;
  bool noActivate = false;
  bool painting = false;
  RECT dirty{};        // device pixels
  RECT dirtyLayout{};  // the same area at 96 dpi, for the widgets' own painting hooks
  HDC memoryDc = nullptr;
  HWND toolTip = nullptr;
  QxWidget* captureWidget = nullptr;
  Frame* frames = nullptr;
  // The focus mark shows from the first key that moves the focus on, as the system's
  // own controls do; a mouse-only player never sees it.
  bool focusCue = false;
  std::unique_ptr<AccessibleFrame> accessible;
  // While held, repaints go to the back buffer only and `held` gathers where they were.
  int holdDepth = 0;
  RECT held{};
  // What lies under `layer` (the back buffer as each paint reached it, before the layer
  // drew), valid inside `underValid`: a fade's frame starts from it instead of drawing
  // the background pictures again, which costs far more than copying them.
  QxWidget* layer = nullptr;
  std::vector<std::uint32_t> under;  // rows of backWidth pixels
  RECT underValid{};
  bool paintFromRoot = false;
  bool reachedLayer = false;
  // While set, the walk draws nothing before this widget: `under` holds it.
  QxWidget* skipTo = nullptr;

  HWND hwnd() const { return owner->hwnd(); }

  // The focused widget when the window itself reads its keys and it is on screen.
  QxWidget* markedWidget() const {
    if (!root) return nullptr;
    QxWidget* focus = root->getFocus();
    if (!focus || focus->focusWindow() || !focus->acceptsFocus() || !FocusChain::showing(focus))
      return nullptr;
    return focus;
  }

  static RECT focusMarkRect(QxWidget* widget) {
    const POINT at = widget->mapToRoot(0, 0);
    RECT r{at.x, at.y, at.x + widget->width(), at.y + widget->height()};
    // Inside a button's face; around a line of text, which has no room inside.
    if (widget->width() >= 16 && widget->height() >= 16) InflateRect(&r, -3, -3);
    return r;
  }

  // A dotted rectangle, every other pixel, in the widget's text colour; written into the
  // back buffer inside the repainted area only, which was just drawn afresh.
  void drawFocusMark(const RECT& area) {
    QxWidget* widget = focusCue ? markedWidget() : nullptr;
    if (!widget || !bits) return;
    const RECT r = scale.toDevice(focusMarkRect(widget));
    const std::uint32_t c = HighContrast::on() ? HighContrast::textColour() : widget->focusMarkColour();
    const std::uint32_t pixel = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
    GdiFlush();
    const auto dot = [&](int x, int y) {
      if (((x + y) & 1) || x < area.left || x >= area.right || y < area.top || y >= area.bottom ||
          x < 0 || y < 0 || x >= backWidth || y >= backHeight)
        return;
      bits[size_t(y) * size_t(backWidth) + size_t(x)] = pixel;
    };
    for (int x = r.left; x < r.right; ++x) {
      dot(x, r.top);
      dot(x, r.bottom - 1);
    }
    for (int y = r.top; y < r.bottom; ++y) {
      dot(r.left, y);
      dot(r.right - 1, y);
    }
  }

  void repaintWidget(QxWidget* widget) {
    if (!widget || !root) return;
    const POINT at = widget->mapToRoot(0, 0);
    owner->invalidateRect(at.x, at.y, widget->width(), widget->height(), root);
  }

  // Tab and Shift+Tab: the next widget in reading order takes the focus, and with it the
  // keyboard (its own child window, or this one).
  void moveFocus(bool backwards) {
    const bool cueWasOff = !focusCue;
    focusCue = true;
    QxWidget* next = FocusChain::step(root, root->getFocus(), backwards);
    if (!next) return;
    next->setFocus();
    if (cueWasOff) repaintWidget(next);
    HWND target = next->focusWindow() ? next->focusWindow() : hwnd();
    if (GetFocus() != target) SetFocus(target);
  }

  // Keys the toolkit acts on before the root sees them: focus moves, and the presses of
  // the focused widget. True when taken.
  bool keyboard(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN && wParam == VK_TAB) {
      moveFocus(GetKeyState(VK_SHIFT) < 0);
      return true;
    }
    QxWidget* focus = root->getFocus();
    if (!focus || !FocusChain::showing(focus)) return false;
    return focus->onKey(message == WM_KEYDOWN ? QxWidget::KeyDown : QxWidget::KeyUp, wParam,
                        lParam);
  }

  // QxWidgetVEIterator
  bool enter(QxWidget* widget) override {
    if (skipTo) {
      if (widget != skipTo) {
        // Its ancestors' own pictures are under it, their later children over it.
        for (QxWidget* w = skipTo->parent(); w; w = w->parent())
          if (w == widget) return true;
        return false;
      }
      skipTo = nullptr;
      reachedLayer = true;
    } else if (widget == layer) {
      reachedLayer = true;
      keepUnder();
    }
    const RECT& d = dirtyLayout;
    widget->onPrePaint(memoryDc, d.left, d.top, d.right - d.left, d.bottom - d.top);
    return true;
  }
  void leave(QxWidget* widget) override {
    const RECT& d = dirtyLayout;
    widget->onPostPaint(memoryDc, d.left, d.top, d.right - d.left, d.bottom - d.top);
  }
  void visitItem(const DrawItem& item, int x, int y) override {
    if (!skipTo) DrawItemRenderer::render(memoryDc, item, x, y, dirty, scale);
  }

  static bool contains(const RECT& outer, const RECT& inner) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
  }
  static long area(const RECT& r) { return IsRectEmpty(&r) ? 0 : (r.right - r.left) * (r.bottom - r.top); }

  // Copies the dirty rows between the back buffer and `under` (which is as wide).
  void copyUnder(bool restore) {
    const RECT& d = dirty;
    const int left = std::max(int(d.left), 0), right = std::min(int(d.right), backWidth);
    if (right <= left) return;
    GdiFlush();
    for (int y = std::max(int(d.top), 0); y < std::min(int(d.bottom), backHeight); ++y) {
      std::uint32_t* row = bits + size_t(y) * size_t(backWidth) + size_t(left);
      std::uint32_t* kept = under.data() + size_t(y) * size_t(backWidth) + size_t(left);
      std::memcpy(restore ? row : kept, restore ? kept : row, size_t(right - left) * 4);
    }
  }

  // A paint from the root reached the layer: the back buffer holds what lies under it.
  void keepUnder() {
    if (!paintFromRoot || !bits) {
      reachedLayer = false;
      return;
    }
    under.resize(size_t(backWidth) * size_t(backHeight));
    copyUnder(false);
    // The two areas stay one rectangle when their union is exactly that.
    RECT both{};
    UnionRect(&both, &underValid, &dirty);
    RECT common{};
    IntersectRect(&common, &underValid, &dirty);
    underValid = area(both) == area(underValid) + area(dirty) - area(common) ? both : dirty;
  }

  // Where a window of the layout's (x, y, width, height) goes on screen: its size scaled,
  // its centre where the layout's would be, inside the work area.
  RECT placement(int x, int y, int width, int height) const {
    const int w = scale.toDevice(width), h = scale.toDevice(height);
    RECT r{x - (w - width) / 2, y - (h - height) / 2, 0, 0};
    r.right = r.left + w;
    r.bottom = r.top + h;
    if (!scale.unscaled()) keepInWorkArea(r);
    return r;
  }

  // A new DPI for the window: the suggested rectangle (else the same centre), the tree
  // measured again and repainted at the new scale.
  void changeScale(int dpi, const RECT* suggested) {
    RECT now{};
    GetWindowRect(hwnd(), &now);
    scale = DisplayScale(dpi);
    underValid = RECT{};
    RECT r{};
    if (suggested) {
      r = *suggested;
    } else if (root) {
      const int w = scale.toDevice(root->width()), h = scale.toDevice(root->height());
      r.left = (now.left + now.right - w) / 2;
      r.top = (now.top + now.bottom - h) / 2;
      r.right = r.left + w;
      r.bottom = r.top + h;
    } else {
      r = now;
    }
    keepInWorkArea(r);
    if (root) {
      inSetRoot = true;
      root->onAttach(owner);
      inSetRoot = false;
    }
    SetWindowPos(hwnd(), nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    if (!root) return;
    ensureBackBuffer(scale.toDevice(root->width()), scale.toDevice(root->height()));
    owner->invalidateRect(0, 0, root->width(), root->height(), root);
  }

  // Grows in steps of 32 and never shrinks; always strictly larger than asked.
  void ensureBackBuffer(int width, int height) {
    if (backBuffer && backWidth >= width && backHeight >= height) return;
    const int w = (std::max(width, 0) / 32 + 1) * 32;
    const int h = (std::max(height, 0) / 32 + 1) * 32;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (!bitmap || !pixels) return;
    std::memset(pixels, 0, size_t(w) * size_t(h) * 4);
    if (backBuffer) DeleteObject(backBuffer);
    underValid = RECT{};
    backBuffer = bitmap;
    bits = static_cast<std::uint32_t*>(pixels);
    backWidth = w;
    backHeight = h;
  }

  // Rounded corners: the pixels outside the (0, 0, width + 1, height + 1) rounded rectangle
  // are painted with the colour key after every repaint, so they are transparent and let
  // the mouse through like every other keyed pixel. No window region is used: where a
  // colour-keyed window's shape is made from its pixels, a region disables that shape.
  // A maximized window has square corners.
  void keyOutCorners(HDC dc, const RECT& area) {
    if (cornerWidth < 1 || cornerHeight < 1 || IsZoomed(hwnd())) return;
    RECT client{};
    GetClientRect(hwnd(), &client);
    // During a resize the root already has the new size, the window not yet.
    const int width = root ? scale.toDevice(root->width()) : client.right;
    const int height = root ? scale.toDevice(root->height()) : client.bottom;
    HRGN round = CreateRoundRectRgn(0, 0, width + 1, height + 1, scale.toDevice(cornerWidth),
                                    scale.toDevice(cornerHeight));
    HRGN outside = CreateRectRgnIndirect(&area);
    if (CombineRgn(outside, outside, round, RGN_DIFF) > NULLREGION) {
      HBRUSH key = CreateSolidBrush(kColourKey);
      FillRgn(dc, outside, key);
      DeleteObject(key);
    }
    DeleteObject(outside);
    DeleteObject(round);
  }

  void paintMessage(HDC paintDc) {
    if (!root) return;
    RECT client;
    GetClientRect(hwnd(), &client);
    const int w = client.right - client.left, h = client.bottom - client.top;
    const int layoutWidth = scale.toLayout(w), layoutHeight = scale.toLayout(h);
    const bool sizeDiffers = root->width() != layoutWidth || root->height() != layoutHeight;
    if (!backBuffer || backWidth < w || backHeight < h || sizeDiffers) {
      if (sizeDiffers) {
        inSetRoot = painting = true;
        root->setBounds(client.left, client.top, layoutWidth, layoutHeight);
        inSetRoot = painting = false;
      }
      ensureBackBuffer(w, h);
      owner->invalidateRect(0, 0, layoutWidth, layoutHeight, root);
      return;
    }
    HDC memory = CreateCompatibleDC(paintDc);
    HGDIOBJ previous = SelectObject(memory, backBuffer);
    BitBlt(paintDc, 0, 0, std::min(w, backWidth), std::min(h, backHeight), memory, 0, 0,
           SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
  }

  POINT toLayout(POINT p) const { return POINT{scale.pointToLayout(p.x), scale.pointToLayout(p.y)}; }

  POINT cursorInWindow() const {
    POINT p{};
    GetCursorPos(&p);
    ScreenToClient(hwnd(), &p);
    return toLayout(p);
  }

  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam, bool& handled, Frame& frame) {
    handled = false;
    if (root && (message == WM_KEYDOWN || message == WM_KEYUP) &&
        keyboard(message, wParam, lParam)) {
      handled = true;
      return 0;
    }
    if (root) {
      LRESULT result = root->onWindowMessage(message, wParam, lParam, handled);
      if (handled || frame.destroyed) return result;
    }
    // Client positions of the mouse messages, in the layout's pixels.
    const int x = scale.pointToLayout(GET_X_LPARAM(lParam));
    const int y = scale.pointToLayout(GET_Y_LPARAM(lParam));
    switch (message) {
    case WM_DESTROY:
      if (root) root->onDestroy();
      return 0;
    case WM_SETFOCUS:
      if (root) {
        QxWidget* focus = root->getFocus();
        (focus ? focus : root)->setFocus();
      }
      return 0;
    case WM_KILLFOCUS:
      if (root) {
        if (QxWidget* focus = root->getFocus()) focus->onFocusLost(nullptr);
      }
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd(), &ps);
      paintMessage(dc);
      if (!frame.destroyed) EndPaint(hwnd(), &ps);
      handled = true;
      return 0;
    }
    case WM_PRINTCLIENT:
      // The window's picture as it stands, for whoever draws it elsewhere (a preview of
      // a window that is never shown).
      handled = true;
      if (backBuffer) {
        RECT client{};
        GetClientRect(hwnd(), &client);
        HDC memory = CreateCompatibleDC(reinterpret_cast<HDC>(wParam));
        HGDIOBJ previous = SelectObject(memory, backBuffer);
        BitBlt(reinterpret_cast<HDC>(wParam), 0, 0, std::min(int(client.right), backWidth),
               std::min(int(client.bottom), backHeight), memory, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
      }
      return 0;
    case WM_CLOSE:
      if (root && !root->onClose()) {
        if (!frame.destroyed) handled = true;
      }
      return 0;
    case WM_ERASEBKGND:
      handled = true;
      return 1;
    case WM_SETCURSOR:
      if (!root) return 0;
      {
        cursorSet = false;
        POINT p = cursorInWindow();
        root->dispatchMouse(QxWidget::CursorQuery, p.x, p.y, LOWORD(lParam));
        if (frame.destroyed) return 1;
        handled = cursorSet;
      }
      return 1;
    case WM_GETMINMAXINFO: {
      RECT work{};
      SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMaxSize.x = work.right - work.left;
      info->ptMaxSize.y = work.bottom - work.top;
      info->ptMaxPosition.x = work.left;
      info->ptMaxPosition.y = work.top;
      handled = true;
      return 0;
    }
    case WM_NCCALCSIZE:
      if (wParam) handled = true;
      return 0;
    case WM_NCHITTEST:
      if (!root) return 0;
      {
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(hwnd(), &p);
        p = toLayout(p);
        const int code = root->windowHitTest(p.x, p.y);
        if (frame.destroyed) return HTCLIENT;
        handled = true;
        // Sign-extended, so the negative codes (transparent, error) survive.
        return LRESULT(short(code & 0xFFFF));
      }
    case WM_NCPAINT:
      handled = true;
      return 0;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
      HighContrast::refresh();
      if (root) owner->invalidateRect(0, 0, root->width(), root->height(), root);
      return 0;
    case WM_DPICHANGED:
      changeScale(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      handled = true;
      return 0;
    case WM_GETOBJECT:
      if (accessible) {
        const LRESULT answer = accessible->answer(wParam, lParam);
        handled = answer != 0;
        return answer;
      }
      return 0;
    case AccessibleFrame::kActionMessage:
      if (accessible) accessible->carryOut(lParam);
      handled = true;
      return 0;
    case WM_SYSCOMMAND:
      // Alt+Space and F10 would open a system menu the skin does not draw.
      if ((wParam & 0xFFF0) == SC_KEYMENU) handled = true;
      return 0;
    case WM_NCACTIVATE:
      handled = true;
      if (GetWindowLongA(hwnd(), GWL_STYLE) & WS_THICKFRAME)
        PostMessageA(hwnd(), kRedrawMessage, 0, 0);
      return 1;
    case kRedrawMessage:
      RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ERASENOW);
      return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
      if (root) {
        const int type = message == WM_KEYDOWN ? QxWidget::KeyDown
                         : message == WM_KEYUP ? QxWidget::KeyUp
                                               : QxWidget::KeyChar;
        root->dispatchKey(type, wParam, lParam);
      }
      return 0;
    case WM_MOUSEMOVE:
      if (!root) return 0;
      root->dispatchMouse(QxWidget::MouseMove, x, y, unsigned(wParam));
      if (!frame.destroyed && !trackingMouseLeave) {
        // Only the leave: nothing here uses a hover message, and asking for one after 1 ms
        // made Wine look at the pointer every 10 ms on this thread for as long as it stayed
        // (each time a round trip to the display), where the leave alone looks at the
        // system's hover time.
        TRACKMOUSEEVENT track{};
        track.cbSize = sizeof(track);
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = hwnd();
        track.dwHoverTime = HOVER_DEFAULT;
        TrackMouseEvent(&track);
        trackingMouseLeave = true;
      }
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
      if (root) {
        const int type = message == WM_LBUTTONDOWN   ? QxWidget::LeftDown
                         : message == WM_LBUTTONUP   ? QxWidget::LeftUp
                         : message == WM_LBUTTONDBLCLK ? QxWidget::LeftDoubleClick
                         : message == WM_RBUTTONDOWN ? QxWidget::RightDown
                                                     : QxWidget::RightUp;
        root->dispatchMouse(type, x, y, unsigned(wParam));
      }
      return 0;
    case WM_MOUSEWHEEL:
      if (root) {
        POINT p = cursorInWindow();
        const int delta = GET_WHEEL_DELTA_WPARAM(wParam);
        root->dispatchMouse(delta < 1 ? QxWidget::WheelDown : QxWidget::WheelUp, p.x, p.y,
                            LOWORD(wParam));
      }
      return 0;
    case WM_MOUSELEAVE:
      trackingMouseLeave = false;
      if (root) root->dispatchMouse(QxWidget::MouseLeave, 0, 0, 0);
      return 0;
    default:
      return 0;
    }
  }
};

QxGUISPWnd::QxGUISPWnd(HWND parentWindow, QxWidget* rootWidget, bool resizable, bool maximized,
                       bool appWindow, bool noActivate)
    : impl_(std::make_unique<Impl>()) {
  impl_->owner = this;
  impl_->noActivate = noActivate;
  DWORD style = WS_POPUP | WS_CLIPCHILDREN;
  if (rootWidget->isVisible()) style |= WS_VISIBLE;
  if (appWindow) style |= WS_SYSMENU;
  if (resizable) style |= WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  if (maximized) style |= WS_MAXIMIZE;
  DWORD exStyle = WS_EX_LAYERED | (appWindow ? WS_EX_APPWINDOW : WS_EX_TOOLWINDOW);
  if (noActivate) exStyle |= WS_EX_NOACTIVATE;
  // The system's DPI first; the monitor the window lands on may have another.
  impl_->scale = DisplayScale(DisplayScale::system());
  const RECT at = impl_->placement(rootWidget->x(), rootWidget->y(), rootWidget->width(),
                                   rootWidget->height());
  // Under load the system may refuse a window now and then; a frame that is not there
  // would take every message posted to it into the void, so it is asked for again.
  for (int attempt = 0; !hwnd_ && attempt < kCreateAttempts; ++attempt)
    CreateWindowExW(exStyle, L"SimpleWindow", gbkToWide(rootWidget->name()).c_str(), style, at.left,
                    at.top, at.right - at.left, at.bottom - at.top, parentWindow,
                    nullptr, moduleInstance(), static_cast<simpleGUI::Window*>(this));
  const int monitorDpi = DisplayScale::forWindow(hwnd_);
  impl_->accessible = std::make_unique<AccessibleFrame>(hwnd_, rootWidget);
  if (QxGUIServiceProvider* previous = rootWidget->provider()) previous->detachRoot();
  rootWidget->setProvider(this);
  setRoot(rootWidget);
  rootWidget->onAttach(this);
  SetLayeredWindowAttributes(hwnd_, kColourKey, 255, LWA_COLORKEY);
  if (monitorDpi != impl_->scale.dpi()) impl_->changeScale(monitorDpi, nullptr);
}

QxGUISPWnd::~QxGUISPWnd() {
  for (Impl::Frame* f = impl_->frames; f; f = f->previous) f->destroyed = true;
  if (QxWidget* root = impl_->root) {
    if (QxGUIServiceProvider* provider = root->provider()) provider->detachRoot();
    root->setProvider(nullptr);
    root->QxWidget::onAttach(nullptr);
  }
  impl_->root = nullptr;
  impl_->accessible.reset();
  if (impl_->backBuffer) DeleteObject(impl_->backBuffer);
  impl_->backBuffer = nullptr;
  impl_->bits = nullptr;
}

void QxGUISPWnd::setRoundCorners() {
  impl_->cornerWidth = impl_->cornerHeight = 18;
  if (impl_->root) invalidateRect(0, 0, impl_->root->width(), impl_->root->height(), impl_->root);
}

void QxGUISPWnd::setDpi(int dpi) {
  if (dpi != impl_->scale.dpi()) impl_->changeScale(dpi, nullptr);
}

int QxGUISPWnd::dpi() const { return impl_->scale.dpi(); }

HWND QxGUISPWnd::tooltipWindow() {
  if (!impl_->toolTip) {
    impl_->toolTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                     WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                     moduleInstance(), nullptr);
    SetWindowPos(impl_->toolTip, HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  }
  return impl_->toolTip;
}

QxWidget* QxGUISPWnd::root() const { return impl_->root; }

LRESULT QxGUISPWnd::windowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  Impl::Frame frame;
  frame.previous = impl_->frames;
  impl_->frames = &frame;
  bool handled = false;
  HWND hwnd = hwnd_;
  LRESULT result = impl_->handle(message, wParam, lParam, handled, frame);
  if (frame.destroyed) {
    // The object is gone; only the window (if any) remains.
    if (handled) return result;
    if (message == WM_DESTROY) {
      PostQuitMessage(0);
      return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  impl_->frames = frame.previous;
  if (handled) return result;
  return simpleGUI::Window::windowProc(message, wParam, lParam);
}

bool QxGUISPWnd::preTranslateMessage(MSG* msg) {
  // Tab in a child window (the path box) moves on as it does in the frame.
  if (impl_->root && msg->message == WM_KEYDOWN && msg->wParam == VK_TAB && msg->hwnd != hwnd_ &&
      IsChild(hwnd_, msg->hwnd)) {
    impl_->moveFocus(GetKeyState(VK_SHIFT) < 0);
    return true;
  }
  return impl_->root ? impl_->root->preTranslateMessage(msg) : false;
}

void QxGUISPWnd::setRoot(QxWidget* widget) {
  impl_->root = widget;
  if (impl_->accessible) impl_->accessible->setRoot(widget);
  if (!widget) return;
  RECT client{};
  GetClientRect(hwnd_, &client);
  impl_->inSetRoot = impl_->painting = true;
  widget->setBounds(client.left, client.top, impl_->scale.toLayout(client.right - client.left),
                    impl_->scale.toLayout(client.bottom - client.top));
  // A root already at the client rectangle did not reach setWindowBounds: give it its
  // buffer and draw list here, or nothing could paint before the first WM_PAINT.
  if (!impl_->backBuffer) {
    widget->paint();
    impl_->ensureBackBuffer(client.right - client.left, client.bottom - client.top);
  }
  impl_->painting = false;
  invalidateRect(0, 0, widget->width(), widget->height(), widget);
  impl_->inSetRoot = false;
}

void QxGUISPWnd::detachRoot() {
  impl_->root = nullptr;
  if (impl_->accessible) impl_->accessible->setRoot(nullptr);
}

void QxGUISPWnd::invalidateRect(int x, int y, int width, int height, QxWidget* widget) {
  paint(x, y, width, height, widget, nullptr);
}

void QxGUISPWnd::repaintAbove(int x, int y, int width, int height, QxWidget* layer) {
  Impl& d = *impl_;
  if (!layer || !d.root) return;
  if (layer != d.layer) {
    d.layer = layer;
    d.underValid = RECT{};
  }
  bool reached = layer->root() == d.root;
  for (QxWidget* w = layer; reached && w != d.root; w = w->parent()) reached = w->isVisible();
  const RECT area = d.scale.toDevice(RECT{x, y, x + width, y + height});
  // The first frame, or one after a change under the layer that it did not see, draws all.
  paint(x, y, width, height, d.root, reached && Impl::contains(d.underValid, area) ? layer : nullptr);
}

void QxGUISPWnd::paint(int x, int y, int width, int height, QxWidget* widget, QxWidget* above) {
  if (impl_->painting || !impl_->backBuffer || !widget) return;
  Impl& m = *impl_;
  m.painting = true;
  HDC windowDc = GetDC(hwnd_);
  HDC memory = CreateCompatibleDC(windowDc);
  HGDIOBJ previous = SelectObject(memory, m.backBuffer);
  m.dirtyLayout = RECT{x, y, x + width, y + height};
  m.dirty = m.scale.toDevice(m.dirtyLayout);
  m.memoryDc = memory;
  const RECT& d = m.dirty;
  HRGN clip = CreateRectRgnIndirect(&d);
  SelectClipRgn(memory, clip);
  const POINT origin = widget->mapToRoot(0, 0);
  m.paintFromRoot = widget == m.root;
  m.reachedLayer = false;
  if (above) {
    m.copyUnder(true);
    m.skipTo = above;
  }
  widget->accept(impl_.get(), origin.x, origin.y);
  if (m.skipTo) {
    // The layer was not reached after all: everything is drawn.
    m.skipTo = nullptr;
    m.underValid = RECT{};
    widget->accept(impl_.get(), origin.x, origin.y);
  }
  RECT common{};
  // What lies under the layer was drawn over by a paint that did not keep it.
  if (!m.reachedLayer && IntersectRect(&common, &m.underValid, &d)) m.underValid = RECT{};
  m.drawFocusMark(m.dirty);
  m.keyOutCorners(memory, m.dirty);
  if (m.holdDepth > 0)
    UnionRect(&m.held, &m.held, &m.dirty);
  else
    BitBlt(windowDc, d.left, d.top, d.right - d.left, d.bottom - d.top, memory, d.left, d.top,
           SRCCOPY);
  SelectClipRgn(memory, nullptr);
  DeleteObject(clip);
  SelectObject(memory, previous);
  DeleteDC(memory);
  ReleaseDC(hwnd_, windowDc);
  m.memoryDc = nullptr;
  m.painting = false;
}

void QxGUISPWnd::clientToScreen(int& x, int& y) {
  POINT p{impl_->scale.toDevice(x), impl_->scale.toDevice(y)};
  ClientToScreen(hwnd_, &p);
  x = p.x;
  y = p.y;
}

void QxGUISPWnd::setWindowBounds(int x, int y, int width, int height) {
  if (impl_->root) impl_->root->paint();
  const RECT r = impl_->placement(x, y, width, height);
  impl_->ensureBackBuffer(r.right - r.left, r.bottom - r.top);
  invalidateRect(0, 0, width, height, impl_->root);
  if (impl_->inSetRoot) return;
  SetWindowPos(hwnd_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | (impl_->noActivate ? SWP_NOACTIVATE : 0));
}

bool QxGUISPWnd::getImageSize(const std::string& imageName, int& width, int& height) {
  return ImageCache::instance().getImageSize(imageName, width, height);
}

std::uint32_t QxGUISPWnd::getPixel(const std::string& imageName, int x, int y) {
  return ImageCache::instance().getPixel(imageName, x, y);
}

void QxGUISPWnd::showWindow(bool visible) {
  ShowWindow(hwnd_, !visible ? SW_HIDE : impl_->noActivate ? SW_SHOWNOACTIVATE : SW_SHOW);
}

void QxGUISPWnd::measureText(const std::string& text, const std::string& fontFace, int size,
                             bool bold, bool centred, bool singleLine, int& width, int& height) {
  // Measured as drawn, at the device's font size and limits, and rounded up to the layout's
  // pixels: hinting makes scaled text a little wider or narrower than 96-dpi text scaled.
  const DisplayScale& scale = impl_->scale;
  const int limitWidth = width, limitHeight = height;
  const auto toDevice = [&](int v) { return v >= 65535 ? v : scale.toDevice(v); };
  TextSizeCache::Key key{bold, centred, singleLine, scale.toDevice(size), toDevice(width),
                         toDevice(height), fontFace, text};
  TextSizeCache& cache = TextSizeCache::instance();
  const auto toLayout = [&](int v, int limit) {
    if (scale.unscaled()) return v;
    const int layout = (v * DisplayScale::kLayoutDpi + scale.dpi() - 1) / scale.dpi();
    // Text that fit the device's limit fits the layout's.
    return limit > 0 && limit < 65535 && v <= scale.toDevice(limit) ? std::min(layout, limit) : layout;
  };
  if (cache.find(key, width, height)) {
    width = toLayout(width, limitWidth);
    height = toLayout(height, limitHeight);
    return;
  }
  ++g_textMeasurements;
  HDC dc = GetDC(nullptr);
  SetBkMode(dc, TRANSPARENT);
  HFONT font = CreateFontW(key.size, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           ANTIALIASED_QUALITY, VARIABLE_PITCH, gbkToWide(fontFace).c_str());
  HGDIOBJ previous = SelectObject(dc, font);
  RECT r{0, 0, key.widthLimit, key.heightLimit};
  UINT format = DT_CALCRECT | (singleLine ? DT_SINGLELINE | DT_VCENTER : DT_WORDBREAK);
  if (centred) format |= DT_CENTER;
  const std::wstring wide = gbkToWide(text);
  DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &r, format);
  SelectObject(dc, previous);
  DeleteObject(font);
  ReleaseDC(nullptr, dc);
  width = r.right - r.left;
  height = r.bottom - r.top;
  cache.insert(key, width, height);
  width = toLayout(width, limitWidth);
  height = toLayout(height, limitHeight);
}

void QxGUISPWnd::setCursor(const char* cursorName) {
  impl_->cursorSet = true;
  if (!cursorName) return;
  LPCSTR id = nullptr;
  if (std::strcmp(cursorName, "arrow") == 0)
    id = IDC_ARROW;
  else if (std::strcmp(cursorName, "hand") == 0)
    id = IDC_HAND;
  else if (std::strcmp(cursorName, "ibeam") == 0)
    id = IDC_IBEAM;
  if (id) SetCursor(LoadCursorA(nullptr, id));
}

void QxGUISPWnd::focusChanged(QxWidget* from, QxWidget* to) {
  if (impl_->focusCue) {
    impl_->repaintWidget(from);
    impl_->repaintWidget(to);
  }
  if (impl_->accessible && to) impl_->accessible->notify(EVENT_OBJECT_FOCUS, to);
}

void QxGUISPWnd::holdBlits(bool hold) {
  Impl& d = *impl_;
  d.holdDepth += hold ? 1 : -1;
  if (d.holdDepth > 0 || !d.backBuffer || IsRectEmpty(&d.held)) return;
  const RECT r = d.held;
  d.held = RECT{};
  HDC windowDc = GetDC(hwnd_);
  HDC memory = CreateCompatibleDC(windowDc);
  HGDIOBJ previous = SelectObject(memory, d.backBuffer);
  BitBlt(windowDc, r.left, r.top, r.right - r.left, r.bottom - r.top, memory, r.left, r.top, SRCCOPY);
  SelectObject(memory, previous);
  DeleteDC(memory);
  ReleaseDC(hwnd_, windowDc);
}

void QxGUISPWnd::accessibilityEvent(unsigned event, QxWidget* widget) {
  if (impl_->accessible) impl_->accessible->notify(DWORD(event), widget);
}

void QxGUISPWnd::setCapture(QxWidget* widget) {
  impl_->captureWidget = widget;
  SetCapture(hwnd_);
}

void QxGUISPWnd::releaseCapture() {
  impl_->captureWidget = nullptr;
  ReleaseCapture();
}

#ifdef QX_TEST_HOOKS
std::uint32_t QxGUISPWndTestApi::backBufferPixel(const QxGUISPWnd& wnd, int x, int y) {
  const auto& impl = *wnd.impl_;
  if (!impl.bits || x < 0 || y < 0 || x >= impl.backWidth || y >= impl.backHeight) return 0;
  GdiFlush();
  return impl.bits[size_t(y) * size_t(impl.backWidth) + size_t(x)];
}

int QxGUISPWndTestApi::textMeasurements() { return g_textMeasurements; }
#endif
