// QxWidget: tree and geometry, mouse routing with hover and capture, focus, repaint
// requests, the tree walk, tooltips and the draw list.
#include "gui/QxWidget.h"

#include <commctrl.h>

#include <algorithm>
#include <cassert>

#include "gui/AutoReleasePool.h"
#include "gui/GbkText.h"
#include "gui/MessageLoop.h"
#include "gui/QxGUISPWnd.h"
#include "gui/QxWidgetTestApi.h"
#include "gui/QxWidgetVEIterator.h"

namespace {

QxWidget* g_hovered = nullptr;
QxWidget* g_captured = nullptr;

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect& o) const {
    return x == o.x && y == o.y && width == o.width && height == o.height;
  }
  bool empty() const { return width == 0 || height == 0; }
};

} // namespace

struct QxWidget::Impl {
  QxWidget* owner = nullptr;
  std::string name;
  std::vector<QxWidget*> children;
  QxWidget* parent = nullptr;
  std::vector<DrawItem> items;
  Rect bounds;
  Rect painted;
  QxGUIServiceProvider* provider = nullptr;
  bool visible = true;
  std::string cursor;
  bool mouseEnabled = true;
  QxWidget* focused = nullptr;
  // The root whose focused widget is this one, so a destroyed widget leaves no dangling
  // focus behind.
  QxWidget* focusOwner = nullptr;
  std::string toolTip;
  bool toolTipRegistered = false;
  TOOLINFOW toolInfo{};
  std::wstring toolTipText;  // what the tool tip window reads
  HWND toolTipWindow = nullptr;
  int retainCount = 0;
  std::string accessibleName;
};

QxWidget::QxWidget(std::string name) : impl_(std::make_unique<Impl>()) {
  impl_->owner = this;
  impl_->name = std::move(name);
}

QxWidget::~QxWidget() {
  // Deleted directly while still a child: leave no dangling entry in the parent.
  if (QxWidget* parent = impl_->parent) {
    auto& siblings = parent->impl_->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    impl_->parent = nullptr;
  }
  std::vector<QxWidget*> children = impl_->children;
  for (QxWidget* child : children) removeChild(child).reset();
  if (impl_->provider) {
    QxGUIServiceProvider* provider = impl_->provider;
    provider->detachRoot();
    impl_->provider = nullptr;
    QxWidget::onAttach(nullptr);
  }
  if (g_hovered == this) g_hovered = nullptr;
  if (g_captured == this) g_captured = nullptr;
  if (impl_->focusOwner && impl_->focusOwner->impl_->focused == this)
    impl_->focusOwner->impl_->focused = nullptr;
  if (impl_->focused && impl_->focused->impl_->focusOwner == this)
    impl_->focused->impl_->focusOwner = nullptr;
  withdrawToolTip();
}

void QxWidget::setBounds(int x, int y, int width, int height) {
  Rect r{x, y, width, height};
  if (r == impl_->bounds) return;
  impl_->bounds = r;
  if (impl_->provider) impl_->provider->setWindowBounds(x, y, width, height);
}

void QxWidget::setVisible(bool visible) {
  const bool changed = impl_->visible != visible;
  // Hidden ones are told while they can still be named; shown ones once they can.
  if (changed && !visible) notifyAccessibility(EVENT_OBJECT_HIDE);
  impl_->visible = visible;
  if (impl_->provider) impl_->provider->showWindow(visible);
  if (changed && visible) notifyAccessibility(EVENT_OBJECT_SHOW);
}

void QxWidget::refresh() { withdrawToolTip(); }

void QxWidget::paint() {}

void QxWidget::onPrePaint(HDC, int, int, int, int) {}

void QxWidget::onPostPaint(HDC, int, int, int, int) {}

bool QxWidget::dispatchMouse(int type, int x, int y, unsigned keys) {
  if (type == MouseEnter) return onMouse(type, x, y, keys);
  if (type == MouseLeave && g_hovered && g_hovered != g_captured) {
    QxWidget* left = g_hovered;
    g_hovered = nullptr;
    left->onMouse(MouseLeave, x, y, keys);
  }
  // A hosted root hands everything to the captured widget in its own coordinates. When
  // the root itself holds the capture it routes normally (redirecting to itself would
  // never end).
  if (g_captured && impl_->provider && g_captured != this) {
    bool ancestor = false;
    for (QxWidget* w = g_captured->impl_->parent; w; w = w->impl_->parent)
      if (w == this) ancestor = true;
    if (ancestor) {
      POINT p = g_captured->mapFromRoot(x, y);
      return g_captured->dispatchMouse(type, p.x, p.y, keys);
    }
  }
  // By index: a handler may change the child list; the walk stops at the first taker.
  for (int i = int(impl_->children.size()) - 1; i >= 0; --i) {
    if (i >= int(impl_->children.size())) continue;
    QxWidget* child = impl_->children[size_t(i)];
    if (!child->impl_->visible) continue;
    int cx = x - child->impl_->bounds.x, cy = y - child->impl_->bounds.y;
    if (child->hitTest(cx, cy) && child->dispatchMouse(type, cx, cy, keys)) return true;
  }
  return onMouse(type, x, y, keys);
}

bool QxWidget::onMouse(int type, int x, int y, unsigned keys) {
  switch (type) {
  case MouseMove:
    if (g_hovered && g_hovered != this) g_hovered->onMouse(MouseLeave, 0, 0, 0);
    if (g_hovered != this) {
      onMouse(MouseEnter, x, y, keys);
      g_hovered = this;
      registerToolTip();
    }
    break;
  case MouseLeave:
    withdrawToolTip();
    break;
  case CursorQuery:
    if (!impl_->cursor.empty()) {
      QxGUIServiceProvider* provider = root()->impl_->provider;
      if (provider) provider->setCursor(impl_->cursor.c_str());
    }
    break;
  default:
    break;
  }
  return true;
}

void QxWidget::dispatchKey(int type, WPARAM wParam, LPARAM lParam) {
  QxWidget* target = impl_->focused ? impl_->focused : this;
  target->onKey(type, wParam, lParam);
}

void QxWidget::setFocus() {
  QxWidget* r = root();
  QxWidget* old = r->impl_->focused;
  if (old && old->impl_->focusOwner == r) old->impl_->focusOwner = nullptr;
  r->impl_->focused = this;
  impl_->focusOwner = r;
  if (old && old != this) old->onFocusLost(this);
  if (old != this && r->impl_->provider) r->impl_->provider->focusChanged(old, this);
}

QxWidget* QxWidget::getFocus() { return root()->impl_->focused; }

void QxWidget::onFocusLost(QxWidget*) {}

bool QxWidget::onKey(int, WPARAM, LPARAM) { return false; }

bool QxWidget::acceptsFocus() { return false; }

HWND QxWidget::focusWindow() { return nullptr; }

std::uint32_t QxWidget::focusMarkColour() { return GetSysColor(COLOR_WINDOWTEXT); }

bool QxWidget::hitTest(int x, int y) {
  return impl_->mouseEnabled && x >= 0 && x < impl_->bounds.width && y >= 0 &&
         y < impl_->bounds.height;
}

void QxWidget::setCursor(const std::string& cursorName) { impl_->cursor = cursorName; }

void QxWidget::setMouseEnabled(bool enabled) { impl_->mouseEnabled = enabled; }

bool QxWidget::isMouseEnabled() { return impl_->mouseEnabled; }

QxWidget* QxWidget::captureMouse() {
  QxGUIServiceProvider* provider = root()->impl_->provider;
  if (provider) provider->setCapture(this);
  QxWidget* previous = g_captured;
  g_captured = this;
  return previous;
}

void QxWidget::releaseMouse() {
  g_captured = nullptr;
  QxGUIServiceProvider* provider = root()->impl_->provider;
  if (provider) provider->releaseCapture();
}

void QxWidget::onAttach(QxGUIServiceProvider* provider) {
  if (provider) {
    for (size_t i = 0; i < impl_->children.size(); ++i) impl_->children[i]->onAttach(provider);
  }
  withdrawToolTip();
}

int QxWidget::windowHitTest(int, int) { return HTCLIENT; }

bool QxWidget::onClose() { return true; }

void QxWidget::onDestroy() {
  std::string text = "[Warning] " + impl_->name +
                     " QxWidget::onDestroy called. Please check if its life cycle has been "
                     "managed properly.\r\n";
  OutputDebugStringA(text.c_str());
}

LRESULT QxWidget::onWindowMessage(UINT, WPARAM, LPARAM, bool& handled) {
  handled = false;
  return 0;
}

bool QxWidget::preTranslateMessage(MSG*) { return false; }

const std::string& QxWidget::name() const { return impl_->name; }
QxWidget* QxWidget::parent() const { return impl_->parent; }
int QxWidget::childCount() const { return int(impl_->children.size()); }

QxWidget* QxWidget::child(int index) const {
  if (index < 0 || index >= childCount()) return nullptr;
  return impl_->children[size_t(index)];
}

int QxWidget::x() const { return impl_->bounds.x; }
int QxWidget::y() const { return impl_->bounds.y; }
int QxWidget::width() const { return impl_->bounds.width; }
int QxWidget::height() const { return impl_->bounds.height; }
bool QxWidget::isVisible() const { return impl_->visible; }
const std::string& QxWidget::cursorName() const { return impl_->cursor; }
const std::string& QxWidget::toolTip() const { return impl_->toolTip; }
QxGUIServiceProvider* QxWidget::provider() const { return impl_->provider; }

void QxWidget::addChild(QxWidget* child) { insertChild(child, childCount()); }

void QxWidget::insertChild(QxWidget* child, int index) {
  assert(child && child != this && "QxWidget::insertChild needs another widget");
  for (QxWidget* w = this; w; w = w->impl_->parent)
    assert(w != child && "QxWidget::insertChild would make a cycle");
  QxWidget* old = child->impl_->parent;
  if (old && old != this) {
    QxWidget* oldRoot = old->root();
    if (oldRoot->impl_->focused == child) oldRoot->impl_->focused = nullptr;
  }
  if (old) {
    auto& siblings = old->impl_->children;
    siblings.erase(std::find(siblings.begin(), siblings.end(), child));
    child->impl_->parent = nullptr;
  }
  auto& children = impl_->children;
  if (index < 0 || index >= int(children.size()))
    children.push_back(child);
  else
    children.insert(children.begin() + index, child);
  child->impl_->parent = this;
  if (old != this) child->refresh();
}

std::unique_ptr<QxWidget> QxWidget::removeChild(QxWidget* child) {
  auto& children = impl_->children;
  auto it = std::find(children.begin(), children.end(), child);
  if (it == children.end()) return nullptr;
  QxWidget* r = root();
  // The focus may lie deeper in the subtree that leaves: it must not point into it once
  // the subtree is gone (its edit control's destruction hands the window the focus).
  for (QxWidget* w = r->impl_->focused; w; w = w->impl_->parent)
    if (w == child) {
      r->impl_->focused = nullptr;
      break;
    }
  child->impl_->parent = nullptr;
  children.erase(it);
  child->refresh();
  return std::unique_ptr<QxWidget>(child);
}

QxWidget* QxWidget::root() {
  QxWidget* w = this;
  while (w->impl_->parent) w = w->impl_->parent;
  return w;
}

QxWidget* QxWidget::childAt(int x, int y) {
  for (size_t i = 0; i < impl_->children.size(); ++i) {
    QxWidget* child = impl_->children[i];
    if (!child->impl_->visible) continue;
    const Rect& b = child->impl_->bounds;
    int cx = x - b.x, cy = y - b.y;
    bool inside = x >= b.x && x < b.x + b.width && y >= b.y && y < b.y + b.height;
    if (child->hitTest(cx, cy) && inside) return child->childAt(cx, cy);
  }
  return this;
}

POINT QxWidget::mapToRoot(int x, int y) const {
  for (const QxWidget* w = this; w->impl_->parent; w = w->impl_->parent) {
    x += w->impl_->bounds.x;
    y += w->impl_->bounds.y;
  }
  return POINT{x, y};
}

POINT QxWidget::mapFromRoot(int x, int y) const {
  POINT origin = mapToRoot(0, 0);
  return POINT{x - origin.x, y - origin.y};
}

void QxWidget::update() {
  QxWidget* r = root();
  QxGUIServiceProvider* provider = r->impl_->provider;
  if (!provider) return;
  const Rect& now = impl_->bounds;
  const Rect& was = impl_->painted;
  Rect u = now;
  if (!was.empty()) {
    if (!now.empty()) {
      int left = std::min(was.x, now.x), top = std::min(was.y, now.y);
      int right = std::max(was.x + was.width, now.x + now.width);
      int bottom = std::max(was.y + was.height, now.y + now.height);
      u = Rect{left, top, right - left, bottom - top};
    } else {
      u = was;
    }
  }
  if (impl_->parent) {
    POINT p = impl_->parent->mapToRoot(u.x, u.y);
    u.x = p.x;
    u.y = p.y;
  } else {
    u.x -= now.x;
    u.y -= now.y;
  }
  impl_->painted = now;
  provider->invalidateRect(u.x, u.y, u.width, u.height, r);
}

void QxWidget::accept(QxWidgetVEIterator* visitor, int x, int y) {
  if (!visitor->enter(this)) return;
  for (size_t i = 0; i < impl_->items.size(); ++i) visitor->visitItem(impl_->items[i], x, y);
  for (size_t i = 0; i < impl_->children.size(); ++i) {
    QxWidget* child = impl_->children[i];
    if (child->impl_->visible)
      child->accept(visitor, x + child->impl_->bounds.x, y + child->impl_->bounds.y);
  }
  visitor->leave(this);
}

void QxWidget::setToolTip(const std::string& text) { impl_->toolTip = text; }

void QxWidget::setAccessibleName(const std::string& name) { impl_->accessibleName = name; }

const std::string& QxWidget::accessibleName() const { return impl_->accessibleName; }

void QxWidget::notifyAccessibility(DWORD event) {
  if (impl_->parent == nullptr && impl_->provider == nullptr) return;
  if (QxGUIServiceProvider* provider = root()->impl_->provider)
    provider->accessibilityEvent(unsigned(event), this);
}

void QxWidget::addImage(const std::string& name, int x, int y) {
  DrawItem item;
  item.kind = DrawItem::Image;
  item.name = name;
  item.x = x;
  item.y = y;
  impl_->items.push_back(std::move(item));
}

void QxWidget::addImageSection(const std::string& name, int x, int y, int width, int height,
                               int srcX, int srcY, int srcWidth, int srcHeight) {
  DrawItem item;
  item.kind = DrawItem::ImageSection;
  item.name = name;
  item.x = x;
  item.y = y;
  item.width = width;
  item.height = height;
  item.srcX = srcX;
  item.srcY = srcY;
  item.srcWidth = srcWidth;
  item.srcHeight = srcHeight;
  impl_->items.push_back(std::move(item));
}

void QxWidget::addFill(std::uint32_t colour, int x, int y, int width, int height) {
  DrawItem item;
  item.kind = DrawItem::Fill;
  item.colour = colour;
  item.x = x;
  item.y = y;
  item.width = width;
  item.height = height;
  impl_->items.push_back(std::move(item));
}

void QxWidget::addText(const std::string& text, const std::string& face, int size, bool bold,
                       std::uint32_t colour, int x, int y, int width, int height, int hAlign,
                       int vAlign, bool underline) {
  DrawItem item;
  item.kind = DrawItem::Text;
  item.name = text;
  item.face = face;
  item.size = size;
  item.bold = bold;
  item.colour = colour;
  item.x = x;
  item.y = y;
  item.width = width;
  item.height = height;
  item.hAlign = hAlign;
  item.vAlign = vAlign;
  item.underline = underline;
  impl_->items.push_back(std::move(item));
}

void QxWidget::addNineGrid(const std::string& name, int x, int width, int height, int srcX,
                           int srcWidth, int srcHeight, int left, int top, int centreWidth,
                           int centreHeight, bool noCentre) {
  const int right = srcWidth - left - centreWidth;
  const int bottom = srcHeight - top - centreHeight;
  const int srcCol[3] = {srcX, srcX + left, srcX + left + centreWidth};
  const int srcColW[3] = {left, centreWidth, right};
  const int srcRow[3] = {0, top, top + centreHeight};
  const int srcRowH[3] = {top, centreHeight, bottom};
  const int dstCol[3] = {x, x + left, x + width - right};
  const int dstColW[3] = {left, width - left - right, right};
  const int dstRow[3] = {0, top, height - bottom};
  const int dstRowH[3] = {top, height - top - bottom, bottom};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      if (noCentre && r == 1 && c == 1) continue;
      addImageSection(name, dstCol[c], dstRow[r], dstColW[c], dstRowH[r], srcCol[c], srcRow[r],
                      srcColW[c], srcRowH[r]);
    }
  }
}

void QxWidget::removeItem(const std::string& name) {
  auto& items = impl_->items;
  auto it = std::find_if(items.begin(), items.end(),
                         [&](const DrawItem& item) { return item.name == name; });
  if (it != items.end()) items.erase(it);
}

void QxWidget::clearItems() { impl_->items.clear(); }

const std::vector<DrawItem>& QxWidget::items() const { return impl_->items; }

void QxWidget::autorelease() {
  adjustRetainCount(1);
  AutoReleasePool::instance().add(this);
}

QxWidget* QxWidget::hoveredWidget() { return g_hovered; }

QxWidget* QxWidget::capturedWidget() { return g_captured; }

void QxWidget::setProvider(QxGUIServiceProvider* provider) { impl_->provider = provider; }

int QxWidget::adjustRetainCount(int delta) { return impl_->retainCount += delta; }

void QxWidget::withdrawToolTip() {
  if (!impl_->toolTipRegistered) return;
  impl_->toolTipRegistered = false;
  if (impl_->toolTipWindow && IsWindow(impl_->toolTipWindow))
    SendMessageW(impl_->toolTipWindow, TTM_DELTOOLW, 0, LPARAM(&impl_->toolInfo));
  impl_->toolTipWindow = nullptr;
}

void QxWidget::registerToolTip() {
  if (impl_->toolTip.empty()) return;
  auto* wnd = dynamic_cast<QxGUISPWnd*>(root()->impl_->provider);
  if (!wnd) return;
  HWND tip = wnd->tooltipWindow();
  TOOLINFOW& info = impl_->toolInfo;
  if (impl_->toolTipRegistered && impl_->toolTipWindow)
    SendMessageW(impl_->toolTipWindow, TTM_DELTOOLW, 0, LPARAM(&info));
  POINT origin = mapToRoot(0, 0);
  info = TOOLINFOW{};
  info.cbSize = sizeof(TOOLINFOW);
  info.uFlags = TTF_SUBCLASS;
  info.hwnd = wnd->hwnd();
  info.uId = UINT_PTR(this);
  info.rect = RECT{origin.x, origin.y, origin.x + impl_->bounds.width,
                   origin.y + impl_->bounds.height};
  info.hinst = moduleInstance();
  impl_->toolTipText = gbkToWide(impl_->toolTip);
  info.lpszText = &impl_->toolTipText[0];
  SendMessageW(tip, TTM_ADDTOOLW, 0, LPARAM(&info));
  impl_->toolTipWindow = tip;
  impl_->toolTipRegistered = true;
}

#ifdef QX_TEST_HOOKS
void QxWidgetTestApi::host(QxWidget* root, QxGUIServiceProvider* provider) {
  if (QxGUIServiceProvider* previous = root->provider()) previous->detachRoot();
  root->setProvider(provider);
  provider->setRoot(root);
  root->onAttach(provider);
}
#endif
