#include "gui/StandardWidget.h"

#include "gui/GbkText.h"
#include "gui/ImageCache.h"
#include "gui/LoadedPicture.h"
#include "gui/NoMouseWidget.h"
#include "gui/QxActionListener.h"
#include "gui/QxButton.h"
#include "gui/QxGUISPWnd.h"
#include "gui/QxGUIServiceProvider.h"
#include "gui/SkinImages.h"

namespace {

constexpr int kDefaultWidth = skin::kWindowWidth;
constexpr int kDefaultHeight = skin::kWindowHeight;
constexpr int kCascadeX = 28;
constexpr int kCascadeY = 25;
constexpr int kCaptionHeight = 140;
constexpr int kBorder = 4;
constexpr const char* kBackground = skin::kBackground.name;

// Shared by every frame: where the next one goes.
struct Placement {
  int lastWidth = 0, lastHeight = 0;
  int dx = 0, dy = 0;
};
Placement g_placement;

QxButton* makeFrameButton(const char* name, const SkinImage& image, int x) {
  int w = 0, h = 0;
  ImageCache::instance().getImageSize(image.name, w, h);
  return new QxButton(name, image.name, x, 0, w / image.frames, h, image.frames);
}

} // namespace

struct StandardWidget::Impl : QxActionListener {
  StandardWidget* owner = nullptr;
  std::unique_ptr<QxGUISPWnd> window;
  QxButton* minimizeButton = nullptr;  // children of the owner
  QxButton* closeButton = nullptr;
  NoMouseWidget* border = nullptr;
  std::string title;
  bool resizable = false;
  bool maximized = false;
  bool appWindow = true;
  bool drawBorder = true;
  bool noActivate = false;
  HWND parentWindow = nullptr;
  int captionHeight = 0;
  int minTrackWidth = 100;
  int minTrackHeight = 50;

  HWND hwnd() const { return window ? window->hwnd() : nullptr; }

  void addMinimizeBox() {
    HWND h = hwnd();
    if (h) SetWindowLongPtrA(h, GWL_STYLE, GetWindowLongPtrA(h, GWL_STYLE) | WS_MINIMIZEBOX);
  }

  int showCommand() const {
    HWND h = hwnd();
    if (!h) return -1;
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(h, &placement)) return -1;
    return static_cast<int>(placement.showCmd);
  }

  void actionPerformed(const std::string& command) override {
    if (command == "btmin") {
      if (HWND h = hwnd()) ShowWindow(h, SW_MINIMIZE);
    } else if (command == "btclose") {
      owner->requestClose();
    }
  }
};

StandardWidget::StandardWidget(const std::string& title)
    : QxPopUp(title), frameImpl_(std::make_unique<Impl>()) {
  Impl& d = *frameImpl_;
  d.owner = this;
  d.title = title;

  int cx = GetSystemMetrics(SM_CXFULLSCREEN);
  int cy = GetSystemMetrics(SM_CYFULLSCREEN);
  Placement& p = g_placement;
  if (p.lastWidth != kDefaultWidth || p.lastHeight != kDefaultHeight) {
    p.lastWidth = kDefaultWidth;
    p.lastHeight = kDefaultHeight;
    p.dx = p.dy = 0;
  }
  int x = (cx - kDefaultWidth) / 2, y = (cy - kDefaultHeight) / 2;
  // A frame that would leave the screen starts the cascade again at (28, 25).
  if (cx <= x + kDefaultWidth + p.dx || cy <= y + kDefaultHeight + p.dy) {
    p.dx = kCascadeX - x;
    p.dy = kCascadeY - y;
  }
  x += p.dx;
  y += p.dy;
  p.dx += kCascadeX;
  p.dy += kCascadeY;

  d.minimizeButton = makeFrameButton("btmin", skin::kMinimize, 584);
  d.minimizeButton->setAction("btmin", &d);
  addChild(d.minimizeButton);
  d.minimizeButton->setAlphaHitTest(false);
  d.closeButton = makeFrameButton("btclose", skin::kClose, 615);
  d.closeButton->setAction("btclose", &d);
  addChild(d.closeButton);
  d.closeButton->setAlphaHitTest(false);
  d.minimizeButton->setTabStop(false);
  d.closeButton->setTabStop(false);
  d.minimizeButton->setAccessibleName("最小化");
  d.closeButton->setAccessibleName("关闭");

  // Above the buttons in the child order, but the mouse passes through it.
  d.border = new NoMouseWidget("border");
  addChild(d.border);

  setBounds(x, y, kDefaultWidth, kDefaultHeight);
  paint();
}

StandardWidget::~StandardWidget() {
  std::string message = "StandardWidget " + name() + " dectructed.\r\n";
  frameImpl_.reset();
  g_placement.dx = g_placement.dy = 0;
  OutputDebugStringA(message.c_str());
}

void StandardWidget::createWindow() {
  Impl& d = *frameImpl_;
  d.captionHeight = kCaptionHeight;
  d.window.reset();
  d.window = std::make_unique<QxGUISPWnd>(d.parentWindow, this, d.resizable, d.maximized,
                                          d.appWindow, d.noActivate);
  SetWindowTextW(d.window->hwnd(), gbkToWide(d.title).c_str());
  d.window->setRoundCorners();
  // So the taskbar can minimise the window.
  d.addMinimizeBox();
}

std::string StandardWidget::title() const { return frameImpl_->title; }

void StandardWidget::setCloseEnabled(bool enabled) {
  Impl& d = *frameImpl_;
  d.closeButton->setState(enabled ? QxButton::Normal : QxButton::Disabled);
  d.closeButton->update();
  d.addMinimizeBox();
}

QxGUISPWnd* StandardWidget::window() const { return frameImpl_->window.get(); }

HWND StandardWidget::hwnd() const { return frameImpl_->hwnd(); }

QxButton* StandardWidget::minimizeButton() const { return frameImpl_->minimizeButton; }

QxButton* StandardWidget::closeButton() const { return frameImpl_->closeButton; }

void StandardWidget::requestClose() {
  Impl& d = *frameImpl_;
  if (d.closeButton->state() == QxButton::Disabled) return;
  HWND h = d.hwnd();
  if (MessageBoxW(h, L"真的要退出安装吗？", L"提示", MB_OKCANCEL | MB_ICONEXCLAMATION) == IDCANCEL)
    return;
  if (h) SendMessageA(h, WM_CLOSE, 0, 0);
}

bool StandardWidget::isMaximized() { return frameImpl_->showCommand() == SW_SHOWMAXIMIZED; }

bool StandardWidget::isMinimized() { return frameImpl_->showCommand() == SW_SHOWMINIMIZED; }

void StandardWidget::paintBackground() {
  QxGUIServiceProvider* host = provider();
  if (!host) return;
  int iw = 0, ih = 0;
  if (!host->getImageSize(kBackground, iw, ih)) return;
  // The picture without its outermost columns, stretched to the full width; below it the
  // colour of its bottom-right pixel; then the picture itself at the right edge. An opaque
  // picture as wide as the window hides all of the stretched copy, which is drawn through
  // a resampling pass that costs about ten times the plain picture, at every repaint.
  const std::shared_ptr<LoadedPicture> picture = ImageCache::instance().getPicture(kBackground);
  if (width() > iw || !picture || picture->hasAlpha)
    addImageSection(kBackground, 0, 0, width(), ih, 1, 0, iw - 2, ih);
  if (height() > ih) {
    std::uint32_t colour = host->getPixel(kBackground, iw - 1, ih - 1) & 0xFFFFFFu;
    addFill(colour, 0, ih, width(), height() - ih);
  }
  addImage(kBackground, width() - iw, 0);
}

void StandardWidget::show() {
  setVisible(true);
  update();
}

void StandardWidget::paint() {
  Impl& d = *frameImpl_;
  clearItems();
  paintBackground();
  if (d.drawBorder && d.border) {
    d.border->setBounds(0, 0, width(), height());
    d.border->clearItems();
    d.border->addNineGrid(isMaximized() ? "res/border2.png" : "res/border.png", 0, width(),
                          height(), 0, 11, 11, 4, 4, 4, 4, true);
  }
  if (d.minimizeButton)
    d.minimizeButton->setBounds(584, 0, d.minimizeButton->width(), d.minimizeButton->height());
  if (d.closeButton)
    d.closeButton->setBounds(615, 0, d.closeButton->width(), d.closeButton->height());
}

bool StandardWidget::isBorderCursorQuery(int type, int x, int y) {
  if (type != CursorQuery || isMaximized()) return false;
  if (x < 0 || y < 0 || x >= width() || y >= height()) return false;
  bool edgeColumn = x < kBorder || x >= width() - kBorder;
  bool edgeRow = y < kBorder || y >= height() - kBorder;
  return edgeColumn || edgeRow;
}

bool StandardWidget::dispatchMouse(int type, int x, int y, unsigned keys) {
  // The system shows the cursor of the window's hit-test code there.
  if (isBorderCursorQuery(type, x, y)) return true;
  return QxPopUp::dispatchMouse(type, x, y, keys);
}

bool StandardWidget::onMouse(int type, int x, int y, unsigned keys) {
  if (isBorderCursorQuery(type, x, y)) return true;
  return QxPopUp::onMouse(type, x, y, keys);
}

int StandardWidget::windowHitTest(int x, int y) {
  const Impl& d = *frameImpl_;
  int column = 1, row = 1;
  if (!isMaximized() && x >= 0 && y >= 0 && x < width() && y < height()) {
    column = x < kBorder ? 0 : (x >= width() - kBorder ? 2 : 1);
    row = y < kBorder ? 0 : (y >= height() - kBorder ? 2 : 1);
  }
  if (column == 1 && row == 1 && y < d.captionHeight)
    return childAt(x, y) == this ? HTCAPTION : HTCLIENT;
  if (!d.resizable) return HTCLIENT;
  static const int codes[3][3] = {{HTTOPLEFT, HTTOP, HTTOPRIGHT},
                                  {HTLEFT, HTCLIENT, HTRIGHT},
                                  {HTBOTTOMLEFT, HTBOTTOM, HTBOTTOMRIGHT}};
  return codes[row][column];
}

bool StandardWidget::onClose() {
  if (frameImpl_->closeButton->state() == QxButton::Disabled) return false;
  setVisible(false);
  return true;
}

LRESULT StandardWidget::onWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  Impl& d = *frameImpl_;
  if (message == WM_GETMINMAXINFO) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    info->ptMinTrackSize.x = d.minTrackWidth;
    info->ptMinTrackSize.y = d.minTrackHeight;
  } else if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
    // The taskbar's and Alt+F4's close asks the same question as the close button.
    handled = true;
    requestClose();
  }
  return 0;
}

bool StandardWidget::preTranslateMessage(MSG* msg) {
  const HWND h = hwnd();
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE && h &&
      (msg->hwnd == h || IsChild(h, msg->hwnd))) {
    requestClose();
    return true;
  }
  return QxPopUp::preTranslateMessage(msg);
}
